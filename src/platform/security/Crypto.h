#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/foundation/Value.h"

namespace platform::crypto {

enum class Operation { Encrypt, Decrypt };

inline constexpr std::size_t kAes128KeySize = 16;
inline constexpr std::size_t kAesBlockSize = 16;

// AES-128 in CBC mode with PKCS#7 padding, in one call. Nothing when the key or IV is not
// 16 bytes, when a ciphertext is not whole blocks or its padding is wrong, or on any other
// cipher failure: callers only need to know that no bytes came out.
[[nodiscard]] std::optional<Bytes> aes128Cbc(Operation operation,
                                             std::span<const std::uint8_t> key16,
                                             std::span<const std::uint8_t> iv16,
                                             std::span<const std::uint8_t> input);

inline constexpr std::size_t kMd5DigestSize = 16;

// The MD5 digest of the bytes. For naming things (cache files), never for security.
[[nodiscard]] std::array<std::uint8_t, kMd5DigestSize> md5(std::span<const std::uint8_t> input);

inline constexpr std::size_t kSha1DigestSize = 20;

// The SHA-1 digest of the bytes, for the store's request hashes, which the server recomputes.
[[nodiscard]] std::array<std::uint8_t, kSha1DigestSize> sha1(std::span<const std::uint8_t> input);

}  // namespace platform::crypto
