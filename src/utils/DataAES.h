#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"
#include "platform/security/Crypto.h"

namespace aes {

using platform::Bytes;

// AES-128, CBC, PKCS#7 with text keys: the key and IV texts are taken as their bytes, padded
// with zeros to one 16-byte block; no IV means a block of zeros. Nothing when a text is longer
// than a block (it would otherwise be cut silently) or when the cipher fails.
[[nodiscard]] std::optional<Bytes> aes128Operation(platform::crypto::Operation operation,
                                                   std::span<const std::uint8_t> data,
                                                   std::string_view key,
                                                   std::optional<std::string_view> iv);

[[nodiscard]] std::optional<Bytes> aes128Encrypted(
    std::span<const std::uint8_t> data, std::string_view key,
    std::optional<std::string_view> iv = std::nullopt);

[[nodiscard]] std::optional<Bytes> aes128Decrypted(
    std::span<const std::uint8_t> data, std::string_view key,
    std::optional<std::string_view> iv = std::nullopt);

// Two upper-case digits per byte; callers that need lower case convert the text.
[[nodiscard]] std::string hexadecimalString(std::span<const std::uint8_t> data);

}  // namespace aes
