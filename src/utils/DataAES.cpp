#include "utils/DataAES.h"

#include <algorithm>
#include <array>

namespace aes {

namespace {

using Block = std::array<std::uint8_t, platform::crypto::kAesBlockSize>;

std::optional<Block> zeroPaddedBlock(std::string_view text) {
    Block block{};
    if (text.size() > block.size()) {
        return std::nullopt;
    }
    std::transform(text.begin(), text.end(), block.begin(),
                   [](char c) { return static_cast<std::uint8_t>(c); });
    return block;
}

}  // namespace

std::optional<Bytes> aes128Operation(platform::crypto::Operation operation,
                                     std::span<const std::uint8_t> data, std::string_view key,
                                     std::optional<std::string_view> iv) {
    const auto keyBlock = zeroPaddedBlock(key);
    const auto ivBlock = zeroPaddedBlock(iv.value_or(std::string_view()));
    if (!keyBlock || !ivBlock) {
        return std::nullopt;
    }
    return platform::crypto::aes128Cbc(operation, *keyBlock, *ivBlock, data);
}

std::optional<Bytes> aes128Encrypted(std::span<const std::uint8_t> data, std::string_view key,
                                     std::optional<std::string_view> iv) {
    return aes128Operation(platform::crypto::Operation::Encrypt, data, key, iv);
}

std::optional<Bytes> aes128Decrypted(std::span<const std::uint8_t> data, std::string_view key,
                                     std::optional<std::string_view> iv) {
    return aes128Operation(platform::crypto::Operation::Decrypt, data, key, iv);
}

std::string hexadecimalString(std::span<const std::uint8_t> data) {
    static constexpr std::string_view kDigits = "0123456789ABCDEF";
    std::string text;
    text.reserve(data.size() * 2);
    for (const std::uint8_t byte : data) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

}  // namespace aes
