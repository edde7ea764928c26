#include "platform/security/Keychain.h"

#include "platform/foundation/LogSink.h"
#include "platform/security/FileKeychain.h"
#include "platform/security/SecretServiceKeychain.h"

namespace platform {

std::unique_ptr<Keychain> Keychain::forThisMachine(const Container& container) {
    std::unique_ptr<Keychain> keychain;
    auto secretService = SecretServiceKeychain::connect();
    if (secretService) {
        keychain = std::move(secretService.value());
    } else {
        PLATFORM_LOG_INFO("keychain: ", secretService.error().message);
        keychain = std::make_unique<FileKeychain>(container.keychain());
    }
    PLATFORM_LOG_INFO("keychain: items kept in the ", keychain->describe());
    return keychain;
}

Keychain& Keychain::current() {
    return installedOr([]() -> Keychain& {
        static const std::unique_ptr<Keychain> machine = forThisMachine(Container::current());
        return *machine;
    });
}

}  // namespace platform
