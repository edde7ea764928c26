#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

// Short text values (tokens, the phone's device identifier, e-mail account data) kept in the
// keychain as generic-password items, one per identifier, under the application's bundle
// identifier. Failures are not raised: reads give nothing, writes false.
class TQKeyChainWrapper {
public:
    TQKeyChainWrapper() = delete;

    // The keychain's status codes, as the phone platform numbers them.
    static constexpr std::int32_t kStatusSuccess = 0;
    static constexpr std::int32_t kStatusDuplicateItem = -25299;
    static constexpr std::int32_t kStatusItemNotFound = -25300;
    static constexpr std::int32_t kStatusIO = -36;

    // Item classes that resetKeychain wipes, in its order.
    enum class SecClass { genericPassword, internetPassword, certificate, key, identity };

    // The attributes that find the identifier's item: class, service, generic and account.
    [[nodiscard]] static platform::Dictionary setupSearchDirectoryForIdentifier(
        std::string_view identifier);
    [[nodiscard]] static std::optional<platform::Bytes> searchKeychainCopyMatchingIdentifier(
        std::string_view identifier);
    [[nodiscard]] static std::optional<std::string> keychainStringFromMatchingIdentifier(
        std::string_view identifier);
    // Adds the item, or updates the one of that identifier.
    static bool createKeychainValue(std::string_view value, std::string_view identifier);
    static bool updateKeychainValue(std::string_view value, std::string_view identifier);
    static void deleteItemFromKeychainWithIdentifier(std::string_view identifier);
    static void resetKeychain();
    // Deletes every item of the application of that class and logs the status.
    static std::int32_t deleteAllKeysForSecClass(SecClass secClass);
};
