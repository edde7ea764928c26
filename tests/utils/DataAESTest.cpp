#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "utils/CodingSamples.h"
#include "utils/DataAES.h"
#include "platform/security/Crypto.h"

namespace {

using coding_samples::fromHex;
using coding_samples::textBytes;
using platform::Bytes;
using platform::crypto::aes128Cbc;
using platform::crypto::Operation;

Bytes slice(const Bytes& data, std::size_t offset, std::size_t length) {
    return Bytes(data.begin() + static_cast<std::ptrdiff_t>(offset),
                 data.begin() + static_cast<std::ptrdiff_t>(offset + length));
}

// One ciphertext block that decrypts, under iv, to exactly plain: lets a test hand the
// cipher a chosen last block to judge as padding.
Bytes blockDecryptingTo(const Bytes& key, const Bytes& iv, const Bytes& plain) {
    return slice(*aes128Cbc(Operation::Encrypt, key, iv, plain), 0, 16);
}

struct CbcVector {
    const char* name;
    const char* key;
    const char* iv;
    const char* plaintext;
    const char* ciphertext;
};

TEST(CryptoTest, MatchesPublishedCbcVectors) {
    const CbcVector vectors[] = {
        {"SP 800-38A F.2.1", "2b7e151628aed2a6abf7158809cf4f3c", "000102030405060708090a0b0c0d0e0f",
         "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
         "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710",
         "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
         "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
        // A single block under a zero IV is the bare block cipher.
        {"FIPS-197 C.1", "000102030405060708090a0b0c0d0e0f", "00000000000000000000000000000000",
         "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a"},
    };
    for (const auto& vector : vectors) {
        SCOPED_TRACE(vector.name);
        const Bytes key = fromHex(vector.key);
        const Bytes iv = fromHex(vector.iv);
        const Bytes plaintext = fromHex(vector.plaintext);
        const Bytes ciphertext = fromHex(vector.ciphertext);

        const auto encrypted = aes128Cbc(Operation::Encrypt, key, iv, plaintext);
        ASSERT_TRUE(encrypted);
        ASSERT_EQ(encrypted->size(), plaintext.size() + 16);
        EXPECT_EQ(slice(*encrypted, 0, ciphertext.size()), ciphertext);
        EXPECT_EQ(aes128Cbc(Operation::Decrypt, key, iv, *encrypted), plaintext);
    }
}

TEST(CryptoTest, PadsEveryLengthWithPkcs7) {
    const Bytes key = fromHex("2b7e151628aed2a6abf7158809cf4f3c");
    const Bytes iv = fromHex("000102030405060708090a0b0c0d0e0f");
    const Bytes message = coding_samples::sampleText(33);
    for (std::size_t n = 0; n <= 33; ++n) {
        SCOPED_TRACE(n);
        const Bytes plain = slice(message, 0, n);
        const auto encrypted = aes128Cbc(Operation::Encrypt, key, iv, plain);
        ASSERT_TRUE(encrypted);
        ASSERT_EQ(encrypted->size(), (n / 16 + 1) * 16);
        EXPECT_EQ(aes128Cbc(Operation::Decrypt, key, iv, *encrypted), plain);

        // The last block must be the cipher of the message's tail followed by k bytes of k.
        const std::size_t k = 16 - n % 16;
        Bytes lastPlain = slice(plain, n - (16 - k), 16 - k);
        lastPlain.insert(lastPlain.end(), k, static_cast<std::uint8_t>(k));
        const std::size_t last = encrypted->size() - 16;
        const Bytes chain = last == 0 ? iv : slice(*encrypted, last - 16, 16);
        EXPECT_EQ(blockDecryptingTo(key, chain, lastPlain), slice(*encrypted, last, 16));
    }
}

TEST(CryptoTest, RefusesWhatItCannotDecrypt) {
    const Bytes key = fromHex("000102030405060708090a0b0c0d0e0f");
    const Bytes iv(16, 0);
    auto badPadding = [&](std::initializer_list<std::uint8_t> tail) {
        Bytes plain(16, 0x41);
        std::copy(tail.begin(), tail.end(), plain.end() - static_cast<std::ptrdiff_t>(tail.size()));
        return blockDecryptingTo(key, iv, plain);
    };
    struct Case {
        const char* name;
        Bytes key;
        Bytes iv;
        Bytes input;
    };
    const Case cases[] = {
        {"empty ciphertext", key, iv, {}},
        {"one byte", key, iv, Bytes(1, 0)},
        {"one byte short of a block", key, iv, Bytes(15, 0)},
        {"one byte past a block", key, iv, Bytes(17, 0)},
        {"padding byte zero", key, iv, badPadding({0x00})},
        {"padding byte beyond a block", key, iv, badPadding({0x11})},
        {"padding bytes that disagree", key, iv, badPadding({0x01, 0x02})},
        {"padding shorter than it claims", key, iv, badPadding({0x41, 0x03, 0x03})},
        {"short key", Bytes(15, 0), iv, Bytes(16, 0)},
        {"long IV", key, Bytes(17, 0), Bytes(16, 0)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(aes128Cbc(Operation::Decrypt, c.key, c.iv, c.input), std::nullopt) << c.name;
    }
    EXPECT_EQ(aes128Cbc(Operation::Encrypt, Bytes(17, 0), iv, Bytes(3, 0)), std::nullopt);
}

TEST(AesTest, TextKeysAndIvsFitOneBlock) {
    const Bytes data = textBytes("3f2a9c0d-uuid-of-the-phone");
    struct Case {
        std::string key;
        std::optional<std::string> iv;
        bool accepted;
    };
    const Case cases[] = {
        {"", std::nullopt, true},
        {"0123456789abcdef", "fedcba9876543210", true},
        {"0123456789abcdefg", std::nullopt, false},
        {"key", "0123456789abcdefg", false},
        {"\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9", std::nullopt, true},  // 16 bytes
        {"\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9", std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const std::optional<std::string_view> iv =
            c.iv ? std::optional<std::string_view>(*c.iv) : std::nullopt;
        const auto encrypted = aes::aes128Encrypted(data, c.key, iv);
        ASSERT_EQ(encrypted.has_value(), c.accepted);
        if (encrypted) {
            EXPECT_EQ(aes::aes128Decrypted(*encrypted, c.key, iv), data);
        }
    }
}

TEST(AesTest, MissingIvIsAZeroBlock) {
    const Bytes data = textBytes("record identifier");
    const auto withoutIv = aes::aes128Encrypted(data, "upload-key");
    ASSERT_TRUE(withoutIv);
    EXPECT_EQ(aes::aes128Encrypted(data, "upload-key", std::string_view("\0\0\0\0", 4)), withoutIv);
    EXPECT_EQ(aes::aes128Encrypted(data, "upload-key", ""), withoutIv);
    EXPECT_NE(aes::aes128Encrypted(data, "upload-key", "upload-key"), withoutIv);
    EXPECT_EQ(aes::aes128Operation(Operation::Decrypt, *withoutIv, "upload-key", std::nullopt),
              data);
}

}  // namespace
