#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Container.h"
#include "platform/foundation/Replaceable.h"
#include "platform/foundation/Result.h"

namespace platform {

inline constexpr const char* kKeychainErrorDomain = "platform.keychain";

// Short secrets kept as generic-password items, one per (service, account). Values are bytes
// (the application stores UTF-8 text). A store that cannot be read is an error, never an empty
// answer. Safe from any thread.
class Keychain : public Replaceable<Keychain> {
public:
    virtual ~Keychain() = default;

    // Nothing when no such item exists.
    virtual Result<std::optional<std::string>> find(std::string_view service,
                                                    std::string_view account) = 0;
    // Adds the item, or replaces the value of the one that exists.
    virtual Result<void> store(std::string_view service, std::string_view account,
                               std::string_view value) = 0;
    // Whether an item was there to remove.
    virtual Result<bool> remove(std::string_view service, std::string_view account) = 0;
    // Every item of service; whether there was any.
    virtual Result<bool> removeAll(std::string_view service) = 0;

    // For the log line that tells which store is in use.
    [[nodiscard]] virtual std::string describe() const = 0;

    // The Secret Service when the session bus offers one, else a file store in the container's
    // keychain folder. The choice is logged.
    static std::unique_ptr<Keychain> forThisMachine(const Container& container);

    // The installed keychain, else the one for this machine, chosen on first use.
    static Keychain& current();
};

}  // namespace platform
