#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/foundation/FileSystem.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/URLError.h"
#include "platform/net/URLLoader.h"
#include "store/TQPackageDownload.h"
#include "support/ClosingHttpServer.h"
#include "support/LoopWait.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using Source = TQPackageDownload::Source;

class TQPackageDownloadTest : public ::testing::Test {
protected:
    // The download's end, run on the test's loop.
    std::optional<platform::Result<fs::path>> download(const std::string& url, Source source) {
        std::optional<platform::Result<fs::path>> ended;
        auto download = TQPackageDownload::start(
            {.url = url, .destination = destination(), .source = source, .loader = &loader_},
            nullptr, [&](platform::Result<fs::path> result) { ended.emplace(std::move(result)); });
        EXPECT_TRUE(testing_support::runLoopUntil(loop_, [&] { return ended.has_value(); }));
        return ended;
    }
    fs::path destination() const { return folder_.path() / "Stopwatch.wgt"; }
    // Files a download keeps while its body arrives, left in the folder.
    std::size_t partialsLeft() const {
        std::size_t count = 0;
        for (const auto& entry : fs::directory_iterator(folder_.path())) {
            count += platform::fs::isAtomicWriteLeftover(entry.path().filename().string()) ? 1 : 0;
        }
        return count;
    }

    platform::RunLoop loop_{platform::RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop installedLoop_{loop_};
    testing_support::TempDir folder_;
    testing_support::LoopbackServer server_;
    platform::net::URLLoader loader_;
};

TEST_F(TQPackageDownloadTest, APackageOfTheGivenSizeTakesItsPlace) {
    ASSERT_TRUE(platform::fs::writeFileAtomically(destination(), "an earlier one").ok());
    const auto ended = download(server_.url("/bytes?size=5000&x=1&bsize=5000"), Source::user);
    ASSERT_TRUE(ended && ended->ok()) << (ended && !ended->ok() ? ended->error().message : "");
    EXPECT_EQ(ended->value(), destination());
    const auto saved = platform::fs::readFile(destination());
    ASSERT_TRUE(saved.ok());
    ASSERT_EQ(saved.value().size(), 5000U);
    EXPECT_EQ(static_cast<std::uint8_t>(saved.value()[4999]),
              testing_support::LoopbackServer::patternByte(4999));
    EXPECT_EQ(partialsLeft(), 0U);
}

// Every way a package is refused leaves no file behind, the earlier one neither.
TEST_F(TQPackageDownloadTest, PackagesThatAreRefused) {
    testing_support::ClosingHttpServer huge(
        "HTTP/1.1 200 OK\r\nContent-Length: 1099511627776\r\n\r\n");
    const auto tooMany = std::to_string(TQPackageDownload::kMaxPackageBytes + 1);
    const struct {
        const char* name;
        std::string url;
        Source source;
        std::string domain;
        long code;
    } cases[] = {
        {"a store's over plain HTTP", server_.url("/bytes?size=10"), Source::store,
         TQPackageDownload::kErrorDomain, TQPackageDownload::insecureURL},
        {"a terabyte announced", "http://127.0.0.1:" + std::to_string(huge.port()) + "/x.wgt",
         Source::user, TQPackageDownload::kErrorDomain, TQPackageDownload::tooLarge},
        {"more than the bound without a length", server_.url("/chunked?size=" + tooMany),
         Source::user, platform::net::kURLErrorDomain,
         platform::net::urlerror::dataLengthExceedsMaximum},
        {"a size past the bound", server_.url("/bytes?size=10&x=1&bsize=" + tooMany), Source::user,
         TQPackageDownload::kErrorDomain, TQPackageDownload::tooLarge},
        {"an announced length past the size given",
         server_.url("/bytes?size=300000&x=1&bsize=200000"), Source::user,
         TQPackageDownload::kErrorDomain, TQPackageDownload::tooLarge},
        {"more than the size given", server_.url("/chunked?size=5000&x=1&bsize=4000"), Source::user,
         platform::net::kURLErrorDomain, platform::net::urlerror::dataLengthExceedsMaximum},
        {"less than the size given", server_.url("/bytes?size=3000&x=1&bsize=4000"), Source::user,
         TQPackageDownload::kErrorDomain, TQPackageDownload::sizeMismatch},
        {"a page that is not found", server_.url("/status/404"), Source::user,
         "com.kavo.error.serialization.response", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(platform::fs::writeFileAtomically(destination(), "an earlier one").ok());
        const auto ended = download(c.url, c.source);
        ASSERT_TRUE(ended);
        ASSERT_FALSE(ended->ok());
        EXPECT_EQ(ended->error().domain, c.domain) << ended->error().message;
        if (c.code != 0) {
            EXPECT_EQ(ended->error().code, c.code) << ended->error().message;
        }
        EXPECT_EQ(partialsLeft(), 0U);
        EXPECT_EQ(platform::fs::readFile(destination()).value(), "an earlier one");
    }
}

// An update's download and a store install of one package may overlap: the one cancelled
// takes nothing of the other's.
TEST_F(TQPackageDownloadTest, OverlappingDownloadsToOneDestinationKeepTheirOwnPartialFiles) {
    struct Running {
        std::shared_ptr<TQPackageDownload> download;
        std::uint64_t received = 0;
        std::optional<platform::Result<fs::path>> ended;
    };
    Running first;
    Running second;
    for (Running* each : {&first, &second}) {
        each->download = TQPackageDownload::start(
            {.url = server_.url("/bytes?size=5000&stall=1000&x=1&bsize=5000"),
             .destination = destination(),
             .source = Source::user,
             .loader = &loader_},
            [each](std::uint64_t received, std::int64_t) { each->received = received; },
            [each](platform::Result<fs::path> result) { each->ended.emplace(std::move(result)); });
        ASSERT_TRUE(testing_support::runLoopUntil(loop_, [&] { return each->received == 1000; }));
    }
    EXPECT_NE(first.download->partialPath(), second.download->partialPath());
    EXPECT_EQ(partialsLeft(), 2U);

    first.download->cancel();
    ASSERT_TRUE(testing_support::runLoopUntil(loop_, [&] { return first.ended.has_value(); }));
    EXPECT_FALSE(first.ended->ok());
    server_.releaseSlowBodies();
    ASSERT_TRUE(testing_support::runLoopUntil(loop_, [&] { return second.ended.has_value(); }));
    ASSERT_TRUE(second.ended->ok()) << second.ended->error().message;
    const auto saved = platform::fs::readFile(destination());
    ASSERT_TRUE(saved.ok());
    EXPECT_EQ(saved.value().size(), 5000U);
    EXPECT_EQ(partialsLeft(), 0U);
}

TEST(TQPackageDownloadSizes, TheSizeTheStoreGaveInTheURL) {
    const struct {
        const char* url;
        std::optional<std::uint64_t> size;
    } cases[] = {
        {"https://s/p.wgt?a=1&bsize=2048", 2048},
        {"https://s/p.wgt?a=1&bsize=2048&c=3", 2048},
        {"https://s/p.wgt?bsize=2048", std::nullopt},
        {"https://s/p.wgt?a=1&bsize=0", std::nullopt},
        {"https://s/p.wgt?a=1&bsize=-5", std::nullopt},
        {"https://s/p.wgt?a=1&bsize=12kb", std::nullopt},
        {"https://s/p.wgt?a=1&bsize=99999999999999999999999", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TQPackageDownload::announcedSize(c.url), c.size) << c.url;
    }
}

}  // namespace
