#include <gtest/gtest.h>
#include <zlib.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "utils/CodingSamples.h"
#include "utils/DataCompression.h"
#include "utils/DataGZip.h"

namespace {

using coding_samples::Bytes;
using coding_samples::noise;
using coding_samples::sampleText;
using compression::dataDeflate;
using compression::dataInflate;

TEST(CompressionTest, RoundTripsLinkMessages) {
    // Past 16384 bytes of output the deflate buffer has to grow, more than once for noise.
    for (const auto& message :
         {Bytes{0x7B}, sampleText(148), noise(16384), noise(40000), sampleText(200000)}) {
        SCOPED_TRACE(message.size());
        const auto packed = dataDeflate(message);
        ASSERT_TRUE(packed);
        EXPECT_EQ(dataInflate(*packed), message);
    }
}

TEST(CompressionTest, InflateDetectsTheWrapper) {
    const Bytes message = sampleText(3000);
    struct Case {
        const char* name;
        int windowBits;
        bool accepted;
    };
    const Case cases[] = {
        {"gzip", 31, true},
        {"zlib", 15, true},
        {"zlib, small window", 9, true},
        {"raw deflate has no header to detect", -15, false},
    };
    for (const auto& c : cases) {
        const Bytes packed = *gzip::compress(message, -1, c.windowBits);
        const auto inflated = dataInflate(packed);
        EXPECT_EQ(inflated.has_value(), c.accepted) << c.name;
        if (inflated) {
            EXPECT_EQ(*inflated, message) << c.name;
        }
    }
}

TEST(CompressionTest, GivesNothingForAStreamCutShortAnywhere) {
    const Bytes packed = *dataDeflate(sampleText(5000));
    for (std::size_t length = 1; length < packed.size(); ++length) {
        EXPECT_EQ(dataInflate(std::span(packed).first(length)), std::nullopt) << length;
    }
}

TEST(CompressionTest, TinyInputsStillGrowTheirBuffer) {
    // Streams a few bytes long whose output is many times their length: growth by half of
    // such an input must still move forward.
    auto zlibOf = [](const Bytes& data) {
        uLongf length = compressBound(static_cast<uLong>(data.size()));
        Bytes out(length);
        compress2(out.data(), &length, data.data(), static_cast<uLong>(data.size()), 9);
        out.resize(length);
        return out;
    };
    const Bytes zeros(1000, 0);
    const Bytes tiny = zlibOf(zeros);
    ASSERT_LT(tiny.size(), 20u);
    EXPECT_EQ(dataInflate(tiny), zeros);
    EXPECT_EQ(dataInflate(zlibOf(Bytes{})), Bytes{});
    EXPECT_EQ(dataInflate(Bytes{0x78}), std::nullopt);
    EXPECT_EQ(dataInflate(Bytes{0x1F, 0x8B}), std::nullopt);
}

TEST(CompressionTest, OutputBoundIsInclusive) {
    const Bytes message = sampleText(5000);
    const Bytes packed = *dataDeflate(message);
    EXPECT_EQ(dataInflate(packed, message.size()), message);
    EXPECT_EQ(dataInflate(packed, message.size() - 1), std::nullopt);
    EXPECT_EQ(dataInflate(packed, 0), std::nullopt);
}

TEST(CompressionTest, FailuresTellWhy) {
    using compression::InflateFailure;
    const Bytes message = sampleText(4000);
    const Bytes packed = *dataDeflate(message);
    struct Case {
        const char* name;
        Bytes input;
        std::size_t bound;
        InflateFailure expected;
    };
    const Case cases[] = {
        {"not a stream", noise(64), compression::kMaxLinkMessage, InflateFailure::damaged},
        {"cut short", Bytes(packed.begin(), packed.begin() + packed.size() / 2),
         compression::kMaxLinkMessage, InflateFailure::truncated},
        {"past the bound", packed, message.size() - 1, InflateFailure::tooLarge},
    };
    for (const auto& c : cases) {
        const auto result = compression::inflateLinkMessage(c.input, c.bound);
        ASSERT_TRUE(std::holds_alternative<InflateFailure>(result)) << c.name;
        EXPECT_EQ(std::get<InflateFailure>(result), c.expected) << c.name;
    }
    EXPECT_EQ(std::get<Bytes>(compression::inflateLinkMessage(packed, message.size())), message);
}

// Streams and output buffers are kept from message to message: whatever one message left
// behind (a failure halfway, a buffer larger than the next bound) must not reach the next.
TEST(CompressionTest, EachMessageStartsAfresh) {
    using compression::InflateFailure;
    const Bytes large = sampleText(200000);
    const Bytes small = sampleText(4000);
    const Bytes packedLarge = *dataDeflate(large);
    const Bytes packedSmall = *dataDeflate(small);
    struct Step {
        const char* name;
        Bytes input;
        std::size_t bound;
        std::optional<InflateFailure> failure;
    };
    const Step steps[] = {
        {"large", packedLarge, compression::kMaxLinkMessage, std::nullopt},
        {"small under a bound below the kept buffer", packedSmall, small.size() - 1,
         InflateFailure::tooLarge},
        {"cut short", Bytes(packedSmall.begin(), packedSmall.begin() + 40),
         compression::kMaxLinkMessage, InflateFailure::truncated},
        {"small after a stream left halfway", packedSmall, small.size(), std::nullopt},
        {"damaged", noise(64), compression::kMaxLinkMessage, InflateFailure::damaged},
        {"large again", packedLarge, large.size(), std::nullopt},
    };
    for (const auto& step : steps) {
        const auto result = compression::inflateLinkMessage(step.input, step.bound);
        if (step.failure) {
            ASSERT_TRUE(std::holds_alternative<InflateFailure>(result)) << step.name;
            EXPECT_EQ(std::get<InflateFailure>(result), *step.failure) << step.name;
        } else {
            ASSERT_TRUE(std::holds_alternative<Bytes>(result)) << step.name;
            EXPECT_EQ(std::get<Bytes>(result).size(),
                      step.input == packedLarge ? large.size() : small.size())
                << step.name;
        }
    }
    // A deflate after a larger one yields the same bytes as the first time.
    EXPECT_EQ(*dataDeflate(small), packedSmall);
}

TEST(CompressionTest, ThreadsCodeSideBySide) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (std::size_t t = 0; t < failures.size(); ++t) {
        threads.emplace_back([t, &failures] {
            for (std::size_t i = 0; i < 20; ++i) {
                const Bytes message = i % 2 == 0 ? sampleText(3000 + 100 * t) : noise(5000 + t);
                const auto packed = dataDeflate(message);
                if (!packed || dataInflate(*packed) != message) {
                    ++failures[t];
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
