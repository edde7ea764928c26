#include <gtest/gtest.h>

#include "ImageLoadingFixture.h"
#include "imagecache/WIWebImagePrefetcher.h"

namespace {

namespace fx = image_fixtures;

class Recorder : public WIWebImagePrefetcherDelegate {
public:
    void imagePrefetcherDidPrefetchURL(WIWebImagePrefetcher&, const std::string&,
                                       std::size_t finished, std::size_t total) override {
        prefetched.emplace_back(finished, total);
    }
    void imagePrefetcherDidFinish(WIWebImagePrefetcher&, std::size_t total,
                                  std::size_t skipped) override {
        finishes.emplace_back(total, skipped);
    }
    std::vector<std::pair<std::size_t, std::size_t>> prefetched;
    std::vector<std::pair<std::size_t, std::size_t>> finishes;
};

using WIWebImagePrefetcherTest = ImageLoadingFixture;

TEST_F(WIWebImagePrefetcherTest, ListsLoadThreeAtATimeAndCountWhatCame) {
    auto prefetcher = WIWebImagePrefetcher::create(manager_);
    EXPECT_EQ(downloader_->maxConcurrentDownloads(), 3);
    Recorder recorder;
    prefetcher->delegate = &recorder;

    std::optional<std::pair<std::size_t, std::size_t>> emptyDone;
    prefetcher->prefetchURLs({}, nullptr, [&](std::size_t f, std::size_t s) {
        emptyDone = {f, s};
    });
    EXPECT_EQ(emptyDone, (std::pair<std::size_t, std::size_t>{0, 0}));

    std::vector<std::string> urls;
    for (int i = 0; i < 10; ++i) {
        // Every fourth one is missing.
        if (i % 4 != 3) {
            scriptImage("/p" + std::to_string(i) + ".png", fx::solidPng(2, 2, false));
        }
        urls.push_back(server_.url("/scripted/p" + std::to_string(i) + ".png"));
    }
    std::vector<std::pair<std::size_t, std::size_t>> progress;
    std::vector<std::pair<std::size_t, std::size_t>> done;
    prefetcher->prefetchURLs(
        urls, [&](std::size_t f, std::size_t t) { progress.emplace_back(f, t); },
        [&](std::size_t f, std::size_t s) { done.emplace_back(f, s); });
    EXPECT_EQ(prefetcher->requestedCount(), 3u);
    ASSERT_TRUE(wait([&] { return !done.empty(); }));
    drainCache();
    EXPECT_EQ(done, (std::vector<std::pair<std::size_t, std::size_t>>{{10, 2}}));
    ASSERT_EQ(progress.size(), 10u);
    for (std::size_t i = 0; i < progress.size(); ++i) {
        EXPECT_EQ(progress[i], (std::pair<std::size_t, std::size_t>{i + 1, 10}));
    }
    EXPECT_EQ(recorder.prefetched.size(), 10u);
    EXPECT_EQ(recorder.finishes, (std::vector<std::pair<std::size_t, std::size_t>>{{8, 2}}));
    // Each entry was asked for once, at most three at a time.
    EXPECT_LE(maxRunning_, 3);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(requestsFor("/scripted/p" + std::to_string(i) + ".png"), 1u) << i;
        EXPECT_TRUE(i % 4 == 3 || manager_->cachedImageExistsForURL(urls[i])) << i;
    }
}

TEST_F(WIWebImagePrefetcherTest, ANewListCancelsTheRunningLoadsAndStartsCountingAfresh) {
    auto prefetcher = WIWebImagePrefetcher::create(manager_);
    for (const char* name : {"/h0.png", "/h1.png"}) {
        scriptImage(name, fx::solidPng(2, 2, false), true);
    }
    bool firstDone = false;
    prefetcher->prefetchURLs({server_.url("/scripted/h0.png"), server_.url("/scripted/h1.png")},
                             nullptr, [&](auto, auto) { firstDone = true; });
    ASSERT_TRUE(wait([&] { return server_.received().size() == 2; }));
    scriptImage("/n.png", fx::solidPng(2, 2, false));
    std::optional<std::pair<std::size_t, std::size_t>> done;
    prefetcher->prefetchURLs({server_.url("/scripted/n.png")}, nullptr,
                             [&](std::size_t f, std::size_t s) {
                                 done = {f, s};
                             });
    EXPECT_EQ(prefetcher->requestedCount(), 1u);
    ASSERT_TRUE(wait([&] { return done.has_value(); }));
    EXPECT_EQ(done, (std::pair<std::size_t, std::size_t>{1, 0}));
    ASSERT_TRUE(wait([&] { return stopped_ == 3; }));
    EXPECT_FALSE(firstDone);
}

}  // namespace
