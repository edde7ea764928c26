#include <gtest/gtest.h>
#include <zlib.h>

#include <cerrno>
#include <optional>
#include <string>

#include "utils/CodingSamples.h"
#include "utils/DataGZip.h"
#include "platform/foundation/FileSystem.h"
#include "support/TempDir.h"

namespace {

using coding_samples::Bytes;
using coding_samples::readBytes;
using coding_samples::sampleText;
using coding_samples::writeBytes;
using platform::Error;

Error zlibError(int code, const char* message) {
    return Error{gzip::kErrorDomain, code, message};
}

TEST(GZipTest, RoundTripsAcrossParameters) {
    struct Case {
        const char* name;
        int level, windowBits, memLevel, strategy, inflateBits;
    };
    const Case cases[] = {
        {"defaults", -1, 31, 8, Z_DEFAULT_STRATEGY, 31},
        {"stored", 0, 31, 8, Z_DEFAULT_STRATEGY, 31},
        {"best, most memory", 9, 31, 9, Z_DEFAULT_STRATEGY, 31},
        {"least memory, Huffman only", 1, 31, 1, Z_HUFFMAN_ONLY, 31},
        {"run lengths", 6, 31, 8, Z_RLE, 31},
        {"zlib wrapper", 6, 15, 8, Z_FILTERED, 15},
        {"zlib wrapper, detected", 6, 15, 8, Z_DEFAULT_STRATEGY, 47},
        {"raw deflate, small window", 6, -9, 8, Z_DEFAULT_STRATEGY, -9},
    };
    const Bytes inputs[] = {Bytes{0x42}, sampleText(1000), coding_samples::noise(70000),
                            sampleText(300000)};
    for (const auto& c : cases) {
        for (const auto& input : inputs) {
            SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(input.size()) + " bytes");
            const auto packed =
                gzip::compress(input, c.level, c.windowBits, c.memLevel, c.strategy);
            ASSERT_TRUE(packed) << packed.error().message;
            if (c.windowBits > 15) {
                EXPECT_EQ(packed->at(0), 0x1F);
                EXPECT_EQ(packed->at(1), 0x8B);
            }
            const auto unpacked = gzip::decompress(*packed, c.inflateBits);
            ASSERT_TRUE(unpacked) << unpacked.error().message;
            EXPECT_EQ(*unpacked, input);
        }
    }
}

TEST(GZipTest, ReportsZlibFailures) {
    const Bytes text = sampleText(2000);
    const Bytes packed = *gzip::compress(text);
    Bytes badChecksum = packed;
    badChecksum[badChecksum.size() - 8] ^= 0x01;
    struct Case {
        const char* name;
        platform::Result<Bytes> result;
        Error expected;
    };
    const Case cases[] = {
        {"no such level", gzip::compress(text, 42),
         zlibError(Z_STREAM_ERROR, "Failed deflateInit")},
        {"no such window", gzip::compress(text, -1, 99),
         zlibError(Z_STREAM_ERROR, "Failed deflateInit")},
        {"inflate window", gzip::decompress(packed, 99),
         zlibError(Z_STREAM_ERROR, "Failed inflateInit")},
        {"not gzip", gzip::decompress(coding_samples::textBytes("plain words, not a stream")),
         zlibError(Z_DATA_ERROR, "Error inflating payload")},
        {"zlib stream read as gzip", gzip::decompress(*gzip::compress(text, -1, 15)),
         zlibError(Z_DATA_ERROR, "Error inflating payload")},
        {"checksum mismatch", gzip::decompress(badChecksum),
         zlibError(Z_DATA_ERROR, "Error inflating payload")},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(c.result) << c.name;
        EXPECT_EQ(c.result.error(), c.expected) << c.name;
    }
}

TEST(GZipTest, RefusesAStreamCutShortAnywhere) {
    const Bytes packed = *gzip::compress(sampleText(5000));
    for (std::size_t length = 1; length < packed.size(); ++length) {
        const auto result = gzip::decompress(std::span(packed).first(length));
        ASSERT_FALSE(result) << length;
        EXPECT_EQ(result.error(), zlibError(Z_BUF_ERROR, "Error inflating payload")) << length;
    }
}

TEST(GZipTest, OutputBoundIsInclusive) {
    const Bytes text = sampleText(5000);
    const Bytes packed = *gzip::compress(text);
    EXPECT_EQ(*gzip::decompress(packed, 31, text.size()), text);
    const auto over = gzip::decompress(packed, 31, text.size() - 1);
    ASSERT_FALSE(over);
    EXPECT_EQ(over.error(), zlibError(Z_BUF_ERROR, "Error inflating payload"));
}

class GZipFileTest : public testing::Test {
protected:
    std::filesystem::path file(const char* name) const { return folder_.path() / name; }

private:
    testing_support::TempDir folder_;
};

TEST_F(GZipFileTest, RoundTripsAroundTheChunkSize) {
    for (const std::size_t size : {1, 4095, 4096, 4097, 8192, 100000}) {
        for (const int level : {-1, 0, 9}) {
            SCOPED_TRACE(std::to_string(size) + " bytes at level " + std::to_string(level));
            const Bytes original = sampleText(size);
            writeBytes(file("source"), original);
            ASSERT_TRUE(gzip::compressFile(file("source"), file("source.gz"), level));
            // The file is an ordinary gzip stream, readable by the buffer coder too.
            EXPECT_EQ(*gzip::decompress(readBytes(file("source.gz"))), original);
            ASSERT_TRUE(gzip::decompressFile(file("source.gz"), file("copy")));
            EXPECT_EQ(readBytes(file("copy")), original);
        }
    }
}

TEST_F(GZipFileTest, ReplacesALongerDestinationWhole) {
    const Bytes original = sampleText(100);
    writeBytes(file("source"), original);
    ASSERT_TRUE(gzip::compressFile(file("source"), file("source.gz")));
    writeBytes(file("copy"), Bytes(10000, 'x'));
    ASSERT_TRUE(gzip::decompressFile(file("source.gz"), file("copy")));
    EXPECT_EQ(readBytes(file("copy")), original);
}

TEST_F(GZipFileTest, FailuresLeaveNoDestination) {
    const Bytes text = sampleText(20000);
    const Bytes packed = *gzip::compress(text);
    Bytes badChecksum = packed;
    badChecksum[badChecksum.size() - 8] ^= 0x01;
    const Bytes cutShort(packed.begin(), packed.end() - 100);
    enum class Operation { Compress, Decompress };
    struct Case {
        const char* name;
        Operation operation;
        std::optional<Bytes> source;
        const char* destination;
        int level;
        const char* domain;
        long code;
    };
    const char* fileDomain = platform::fs::kErrorDomain;
    const Case cases[] = {
        {"compress a missing source", Operation::Compress, std::nullopt, "out", -1, fileDomain,
         ENOENT},
        {"compress an empty source", Operation::Compress, Bytes(), "out", -1, fileDomain, ENODATA},
        {"compress at level 10", Operation::Compress, text, "out", 10, gzip::kErrorDomain,
         Z_STREAM_ERROR},
        {"compress onto itself", Operation::Compress, text, "in", -1, fileDomain, EINVAL},
        {"compress into a missing folder", Operation::Compress, text, "no/out", -1, fileDomain,
         ENOENT},
        {"decompress a missing source", Operation::Decompress, std::nullopt, "out", -1, fileDomain,
         ENOENT},
        {"decompress an empty source", Operation::Decompress, Bytes(), "out", -1, fileDomain,
         ENODATA},
        {"decompress a plain file", Operation::Decompress, text, "out", -1, gzip::kErrorDomain,
         Z_DATA_ERROR},
        {"decompress a cut-short file", Operation::Decompress, cutShort, "out", -1,
         gzip::kErrorDomain, Z_BUF_ERROR},
        {"decompress a damaged file", Operation::Decompress, badChecksum, "out", -1,
         gzip::kErrorDomain, Z_DATA_ERROR},
        {"decompress onto itself", Operation::Decompress, packed, "in", -1, fileDomain, EINVAL},
        {"decompress into a missing folder", Operation::Decompress, packed, "no/out", -1,
         fileDomain, ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(file("in"));
        std::filesystem::remove(file("out"));
        if (c.source) {
            writeBytes(file("in"), *c.source);
        }
        const auto result = c.operation == Operation::Compress
                                ? gzip::compressFile(file("in"), file(c.destination), c.level)
                                : gzip::decompressFile(file("in"), file(c.destination));
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().domain, c.domain) << result.error().message;
        EXPECT_EQ(result.error().code, c.code) << result.error().message;
        if (c.source) {
            EXPECT_EQ(readBytes(file("in")), *c.source);
        }
        EXPECT_FALSE(std::filesystem::exists(file("out")));
    }
}

}  // namespace
