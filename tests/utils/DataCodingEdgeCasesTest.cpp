#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <ostream>
#include <string>

#include "utils/CodingSamples.h"
#include "utils/DataAES.h"
#include "utils/DataCompression.h"
#include "utils/DataGZip.h"
#include "platform/security/Crypto.h"
#include "support/TempDir.h"

namespace {

using coding_samples::Bytes;
using coding_samples::textBytes;

struct EdgeCase {
    const char* name;
    std::function<void()> check;
};

void PrintTo(const EdgeCase& edgeCase, std::ostream* out) {
    *out << edgeCase.name;
}

const EdgeCase kEdgeCases[] = {
    {"HexIsUpperCaseTwoDigitsPerByte",
     [] {
         EXPECT_EQ(aes::hexadecimalString(Bytes{0x00, 0xAB, 0xFF}), "00ABFF");
         EXPECT_EQ(aes::hexadecimalString(Bytes{}), "");
     }},
    {"EncryptingNothingGivesOnePaddingBlock",
     [] { EXPECT_EQ(aes::aes128Encrypted(Bytes{}, "key")->size(), 16u); }},
    {"EncryptingOneBlockGivesTwo",
     [] { EXPECT_EQ(aes::aes128Encrypted(Bytes(16, 0x55), "key")->size(), 32u); }},
    {"TenCharacterKeyIsPaddedWithZeros",
     [] {
         const Bytes data = textBytes("the phone's identifier");
         Bytes key = textBytes("0123456789");
         key.resize(16, 0);
         const auto direct = platform::crypto::aes128Cbc(platform::crypto::Operation::Encrypt, key,
                                                         Bytes(16, 0), data);
         ASSERT_TRUE(direct);
         EXPECT_EQ(aes::aes128Encrypted(data, "0123456789"), direct);
     }},
    {"DeflateWritesTheGzipMagic",
     [] {
         const auto packed = compression::dataDeflate(textBytes("{\"msgId\":\"x\"}"));
         ASSERT_TRUE(packed);
         EXPECT_EQ(Bytes(packed->begin(), packed->begin() + 2), (Bytes{0x1F, 0x8B}));
     }},
    {"InflateAcceptsGzipAndZlibStreams",
     [] {
         const Bytes message = coding_samples::sampleText(700);
         const Bytes zlibStream = *gzip::compress(message, -1, 15);
         EXPECT_EQ(zlibStream.front(), 0x78);
         EXPECT_EQ(compression::dataInflate(zlibStream), message);
         EXPECT_EQ(compression::dataInflate(*compression::dataDeflate(message)), message);
     }},
    {"InflateOfRandomBytesGivesNothing",
     [] { EXPECT_EQ(compression::dataInflate(coding_samples::noise(1000)), std::nullopt); }},
    {"EmptyInputComesBackEmpty",
     [] {
         EXPECT_EQ(compression::dataInflate(Bytes{}), Bytes{});
         EXPECT_EQ(compression::dataDeflate(Bytes{}), Bytes{});
         EXPECT_EQ(*gzip::compress(Bytes{}), Bytes{});
         EXPECT_EQ(*gzip::decompress(Bytes{}), Bytes{});
     }},
    {"CutShortGzipIsAnInflateError",
     [] {
         const Bytes packed = *gzip::compress(coding_samples::sampleText(4000));
         const auto result = gzip::decompress(std::span(packed).first(packed.size() - 10));
         ASSERT_FALSE(result);
         EXPECT_EQ(result.error(), (platform::Error{"com.kavo.zlib.error", Z_BUF_ERROR,
                                                    "Error inflating payload"}));
     }},
    {"FileOfTwoWholeChunksSurvivesTheRoundTrip",
     [] {
         const testing_support::TempDir folder;
         const Bytes original = coding_samples::noise(8192);
         coding_samples::writeBytes(folder.path() / "log", original);
         ASSERT_TRUE(gzip::compressFile(folder.path() / "log", folder.path() / "log.gz"));
         ASSERT_TRUE(gzip::decompressFile(folder.path() / "log.gz", folder.path() / "back"));
         EXPECT_EQ(coding_samples::readBytes(folder.path() / "back"), original);
     }},
};

class DataCodingEdgeCases : public testing::TestWithParam<EdgeCase> {};

TEST_P(DataCodingEdgeCases, Holds) {
    GetParam().check();
}

INSTANTIATE_TEST_SUITE_P(Coding, DataCodingEdgeCases, testing::ValuesIn(kEdgeCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
