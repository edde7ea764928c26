#pragma once

#include <filesystem>
#include <mutex>

#include "platform/security/Keychain.h"

namespace platform {

// The keychain of a machine without a Secret Service: one property list of every item in a
// folder only the owner may enter, replaced atomically on each change through a temporary
// file that is owner-only from its creation. Every call reads the file again, so a store that
// became corrupt or unreadable is reported by the next call and never overwritten.
class FileKeychain final : public Keychain {
public:
    static constexpr const char* kFileName = "generic-passwords.plist";

    explicit FileKeychain(std::filesystem::path folder);

    Result<std::optional<std::string>> find(std::string_view service,
                                            std::string_view account) override;
    Result<void> store(std::string_view service, std::string_view account,
                       std::string_view value) override;
    Result<bool> remove(std::string_view service, std::string_view account) override;
    Result<bool> removeAll(std::string_view service) override;
    [[nodiscard]] std::string describe() const override;

    [[nodiscard]] std::filesystem::path file() const { return folder_ / kFileName; }

private:
    std::filesystem::path folder_;
    std::mutex mutex_;
};

}  // namespace platform
