#pragma once

#include <memory>
#include <string>

#include "platform/security/Keychain.h"

namespace platform {

// The keychain of a desktop session: items of the Secret Service on the session bus, under a
// schema of the application's own whose attributes are the item's class, service, account and
// generic attribute (the account again).
class SecretServiceKeychain final : public Keychain {
public:
    static constexpr const char* kSchemaName = "com.kavo.KavoManager.GenericPassword";

    // Nothing, with the reason, when no session bus is named in the environment or the bus
    // offers no Secret Service that answers a search. collection: a Secret Service alias
    // ("default", "session") or a collection's object path.
    static Result<std::unique_ptr<SecretServiceKeychain>> connect(
        std::string collection = "default");

    Result<std::optional<std::string>> find(std::string_view service,
                                            std::string_view account) override;
    Result<void> store(std::string_view service, std::string_view account,
                       std::string_view value) override;
    Result<bool> remove(std::string_view service, std::string_view account) override;
    Result<bool> removeAll(std::string_view service) override;
    [[nodiscard]] std::string describe() const override;

private:
    explicit SecretServiceKeychain(std::string collection) : collection_(std::move(collection)) {}

    std::string collection_;
};

}  // namespace platform
