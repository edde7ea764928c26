#include "utils/TQKeyChainWrapper.h"

#include "logging/LGLog.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/Utf8.h"
#include "platform/security/Keychain.h"

namespace {

constexpr std::string_view kService = platform::kBundleIdentifier;

std::string_view className(TQKeyChainWrapper::SecClass secClass) {
    switch (secClass) {
        case TQKeyChainWrapper::SecClass::genericPassword:
            return "genp";
        case TQKeyChainWrapper::SecClass::internetPassword:
            return "inet";
        case TQKeyChainWrapper::SecClass::certificate:
            return "cert";
        case TQKeyChainWrapper::SecClass::key:
            return "keys";
        case TQKeyChainWrapper::SecClass::identity:
            return "idnt";
    }
    return "";
}

}  // namespace

platform::Dictionary TQKeyChainWrapper::setupSearchDirectoryForIdentifier(
    std::string_view identifier) {
    const platform::Bytes encoded(identifier.begin(), identifier.end());
    return platform::Dictionary{{"class", className(SecClass::genericPassword)},
                                {"service", kService},
                                {"generic", encoded},
                                {"account", encoded}};
}

std::optional<platform::Bytes> TQKeyChainWrapper::searchKeychainCopyMatchingIdentifier(
    std::string_view identifier) {
    auto found = platform::Keychain::current().find(kService, identifier);
    if (!found) {
        LG_WARN("Keychain search failed: %@", found.error().message);
        return std::nullopt;
    }
    if (!*found) {
        return std::nullopt;
    }
    return platform::Bytes((*found)->begin(), (*found)->end());
}

std::optional<std::string> TQKeyChainWrapper::keychainStringFromMatchingIdentifier(
    std::string_view identifier) {
    const auto data = searchKeychainCopyMatchingIdentifier(identifier);
    if (!data || !platform::isValidUtf8(
                     std::string_view(reinterpret_cast<const char*>(data->data()), data->size()))) {
        return std::nullopt;
    }
    return std::string(data->begin(), data->end());
}

bool TQKeyChainWrapper::createKeychainValue(std::string_view value, std::string_view identifier) {
    auto& keychain = platform::Keychain::current();
    auto existing = keychain.find(kService, identifier);
    if (existing && *existing) {
        return updateKeychainValue(value, identifier);
    }
    const auto stored = existing ? keychain.store(kService, identifier, value)
                                 : platform::Result<void>(existing.error());
    if (!stored) {
        LG_WARN("Keychain add failed: %@", stored.error().message);
    }
    return stored.ok();
}

bool TQKeyChainWrapper::updateKeychainValue(std::string_view value, std::string_view identifier) {
    auto& keychain = platform::Keychain::current();
    auto existing = keychain.find(kService, identifier);
    if (!existing || !*existing) {
        return false;
    }
    const auto stored = keychain.store(kService, identifier, value);
    if (!stored) {
        LG_WARN("Keychain update failed: %@", stored.error().message);
    }
    return stored.ok();
}

void TQKeyChainWrapper::deleteItemFromKeychainWithIdentifier(std::string_view identifier) {
    (void)platform::Keychain::current().remove(kService, identifier);
}

void TQKeyChainWrapper::resetKeychain() {
    for (const SecClass secClass : {SecClass::genericPassword, SecClass::internetPassword,
                                    SecClass::certificate, SecClass::key, SecClass::identity}) {
        deleteAllKeysForSecClass(secClass);
    }
}

std::int32_t TQKeyChainWrapper::deleteAllKeysForSecClass(SecClass secClass) {
    std::int32_t status = kStatusItemNotFound;
    // Only generic passwords are ever kept.
    if (secClass == SecClass::genericPassword) {
        const auto removed = platform::Keychain::current().removeAll(kService);
        status = !removed ? kStatusIO : *removed ? kStatusSuccess : kStatusItemNotFound;
    }
    LG_INFO("Error deleting keychain data %d", status);
    return status;
}
