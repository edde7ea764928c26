#include <gtest/gtest.h>

#include "ImageLoadingFixture.h"
#include "platform/host/AppHost.h"

namespace {

namespace fx = image_fixtures;
using platform::Bytes;
using platform::image::Image;
using platform::image::PixelSize;

using WIWebImageManagerTest = ImageLoadingFixture;

TEST_F(WIWebImageManagerTest, AnImageComesFromTheNetworkThenMemoryThenDiskThenTheNetworkAgain) {
    scriptImage("/icon.png", fx::solidPng(8, 8, true));
    Load first;
    load("/scripted/icon.png", first);
    EXPECT_EQ(first.calls, 0u);
    ASSERT_TRUE(wait([&] { return first.calls > 0; }));
    EXPECT_EQ(first.cacheType, ImageCacheType::none);
    ASSERT_TRUE(first.image);
    EXPECT_EQ(first.image->bitmap().size(), (PixelSize{8, 8}));
    EXPECT_TRUE(first.onLoop);
    drainCache();

    // Memory: answered before the call returns.
    Load second;
    load("/scripted/icon.png", second);
    EXPECT_EQ(second.calls, 1u);
    EXPECT_EQ(second.cacheType, ImageCacheType::memory);

    cache_->clearMemory();
    Load third;
    load("/scripted/icon.png", third);
    EXPECT_EQ(third.calls, 0u);
    ASSERT_TRUE(wait([&] { return third.calls > 0; }));
    EXPECT_EQ(third.cacheType, ImageCacheType::disk);
    EXPECT_TRUE(third.image);
    EXPECT_EQ(requestsFor("/scripted/icon.png"), 1u);

    // A week later the clean-up has taken the file: downloaded again.
    cache_->clearMemory();
    loop_.advance(WIImageCache::kDefaultMaxCacheAge);
    center_.post(platform::kApplicationWillTerminateNotification);
    drainCache();
    EXPECT_FALSE(manager_->diskImageExistsForURL(server_.url("/scripted/icon.png")));
    Load fourth;
    load("/scripted/icon.png", fourth);
    ASSERT_TRUE(wait([&] { return fourth.calls > 0; }));
    EXPECT_EQ(fourth.cacheType, ImageCacheType::none);
    EXPECT_EQ(requestsFor("/scripted/icon.png"), 2u);
    // The load leaves the running list on the download's thread, after its answer.
    EXPECT_TRUE(wait([&] { return !manager_->isRunning(); }));
}

TEST_F(WIWebImageManagerTest, MemoryOnlyLoadsWriteNoFile) {
    scriptImage("/a.png", fx::solidPng(2, 2, false));
    Load loaded;
    load("/scripted/a.png", loaded, ImageLoadCacheMemoryOnly);
    ASSERT_TRUE(wait([&] { return loaded.calls > 0; }));
    drainCache();
    EXPECT_TRUE(manager_->cachedImageExistsForURL(server_.url("/scripted/a.png")));
    EXPECT_FALSE(manager_->diskImageExistsForURL(server_.url("/scripted/a.png")));
}

TEST_F(WIWebImageManagerTest, TwentyViewsOfEightURLsShareEightDownloadsAtMostSixAtOnce) {
    for (int i = 0; i < 8; ++i) {
        scriptImage("/" + std::to_string(i) + ".png", fx::solidPng(2 + i, 2, false), true);
    }
    std::vector<Load> views(20);
    for (std::size_t v = 0; v < views.size(); ++v) {
        load("/scripted/" + std::to_string(v % 8) + ".png", views[v]);
    }
    ASSERT_TRUE(wait([&] { return started_ == 6 && server_.received().size() == 6; }));
    EXPECT_EQ(downloader_->currentDownloadCount(), 8u);
    server_.releaseHeld();
    ASSERT_TRUE(wait([&] {
        return std::all_of(views.begin(), views.end(), [](const Load& l) { return l.calls > 0; });
    }));
    EXPECT_EQ(server_.received().size(), 8u);
    EXPECT_EQ(started_, 8);
    EXPECT_LE(maxRunning_, 6);
    for (std::size_t v = 0; v < views.size(); ++v) {
        ASSERT_TRUE(views[v].image) << v;
        EXPECT_EQ(views[v].calls, 1u);
        EXPECT_EQ(views[v].image->bitmap().width(), static_cast<int>(2 + v % 8)) << v;
    }
    // The load leaves the running list on the download's thread, after its answer.
    EXPECT_TRUE(wait([&] { return !manager_->isRunning(); }));
}

TEST_F(WIWebImageManagerTest, NewestDownloadsStartFirstInLastInFirstOutOrder) {
    downloader_->setExecutionOrder(ImageDownloadOrder::LIFO);
    downloader_->setMaxConcurrentDownloads(1);
    for (const char* name : {"/busy.png", "/a.png", "/b.png", "/c.png"}) {
        scriptImage(name, fx::solidPng(2, 2, false), true);
    }
    std::vector<Load> loads(4);
    load("/scripted/busy.png", loads[0]);
    ASSERT_TRUE(wait([&] { return server_.received().size() == 1; }));
    load("/scripted/a.png", loads[1]);
    load("/scripted/b.png", loads[2]);
    load("/scripted/c.png", loads[3]);
    drainCache();
    server_.releaseHeld();
    ASSERT_TRUE(wait([&] { return loads[1].calls > 0; }));
    std::vector<std::string> order;
    for (const auto& request : server_.received()) {
        order.push_back(request.target);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"/scripted/busy.png", "/scripted/c.png",
                                               "/scripted/b.png", "/scripted/a.png"}));
}

TEST_F(WIWebImageManagerTest, OneCallerCancellingLeavesTheOthersServed) {
    // The last caller going takes the download with it.
    scriptImage("/alone.png", fx::solidPng(3, 3, false), true);
    Load alone;
    auto only = load("/scripted/alone.png", alone);
    ASSERT_TRUE(wait([&] { return requestsFor("/scripted/alone.png") == 1 && started_ == 1; }));
    only->cancel();
    EXPECT_FALSE(manager_->isRunning());
    ASSERT_TRUE(wait([&] { return stopped_ == 1 && downloader_->currentDownloadCount() == 0; }));

    scriptImage("/shared.png", fx::solidPng(3, 3, false), true);
    Load kept, cancelled;
    load("/scripted/shared.png", kept);
    auto operation = load("/scripted/shared.png", cancelled);
    ASSERT_TRUE(wait([&] { return requestsFor("/scripted/shared.png") == 1 && started_ == 2; }));
    operation->cancel();
    server_.releaseHeld();
    ASSERT_TRUE(wait([&] { return kept.calls > 0; }));
    drainCache();
    EXPECT_TRUE(kept.image);
    EXPECT_EQ(cancelled.calls, 0u);
    EXPECT_EQ(alone.calls, 0u);
    EXPECT_EQ(requestsFor("/scripted/shared.png"), 1u);

    // A new request after the cancelled one downloads again.
    Load again;
    load("/scripted/alone.png", again);
    ASSERT_TRUE(wait([&] { return again.calls > 0; }));
    EXPECT_TRUE(again.image);
    EXPECT_EQ(requestsFor("/scripted/alone.png"), 2u);
}

TEST_F(WIWebImageManagerTest, ALoadCancelledWhileItsDiskLookupWaitsLeavesTheRunningList) {
    cache_->storeImage(Image(platform::image::Bitmap::filled({2, 2}, 0xFF0000FF, false)),
                       server_.url("/on-disk.png"));
    drainCache();
    cache_->clearMemory();
    Load loaded;
    auto operation = load("/on-disk.png", loaded);
    EXPECT_TRUE(manager_->isRunning());
    operation->cancel();
    EXPECT_FALSE(manager_->isRunning());
    drainCache();
    EXPECT_EQ(loaded.calls, 0u);

    // cancelAll takes every running load.
    Load a, b;
    load("/on-disk.png", a);
    cache_->clearMemory();
    load("/elsewhere.png", b);
    manager_->cancelAll();
    EXPECT_FALSE(manager_->isRunning());
    drainCache();
    EXPECT_EQ(b.calls, 0u);
}

TEST_F(WIWebImageManagerTest, FailedURLsAreRefusedUntilARetrySucceeds) {
    Load failed;
    load("/scripted/missing.png", failed);
    ASSERT_TRUE(wait([&] { return failed.calls > 0; }));
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(failed.error->code, 404);
    EXPECT_TRUE(manager_->isFailedURL(server_.url("/scripted/missing.png")));
    ASSERT_TRUE(wait([&] { return !manager_->isRunning(); }));

    Load refused;
    auto operation = load("/scripted/missing.png", refused);
    EXPECT_EQ(refused.calls, 1u);
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->domain, "NSURLErrorDomain");
    EXPECT_EQ(refused.error->code, -1100);
    EXPECT_EQ(refused.finished, std::vector<bool>{true});
    EXPECT_FALSE(manager_->isRunning());
    EXPECT_EQ(requestsFor("/scripted/missing.png"), 1u);

    scriptImage("/missing.png", fx::solidPng(2, 2, false));
    Load retried;
    load("/scripted/missing.png", retried, ImageLoadRetryFailed);
    ASSERT_TRUE(wait([&] { return retried.calls > 0; }));
    EXPECT_TRUE(retried.image);
    EXPECT_FALSE(manager_->isFailedURL(server_.url("/scripted/missing.png")));

    // URLs that are no URLs are refused the same way, at once.
    for (const char* bad : {"", "not a url", "/relative"}) {
        Load none;
        manager_->downloadImageWithURL(bad, 0, nullptr, recordInto(none));
        EXPECT_EQ(none.calls, 1u) << bad;
        EXPECT_EQ(none.error->code, -1100) << bad;
    }

    // A server that cannot be reached may be back later: not marked.
    const std::string closed = "http://127.0.0.1:1/x.png";
    Load unreachable;
    manager_->downloadImageWithURL(closed, 0, nullptr, recordInto(unreachable));
    ASSERT_TRUE(wait([&] { return unreachable.calls > 0; }));
    EXPECT_EQ(unreachable.error->code, -1004);
    EXPECT_FALSE(manager_->isFailedURL(closed));
}

TEST_F(WIWebImageManagerTest, RefreshingDeliversTheCachedImageThenTheDownload) {
    scriptImage("/fresh.png", fx::solidPng(5, 5, false));
    cache_->storeImage(Image(platform::image::Bitmap::filled({2, 2}, 0xFF0000FF, false)),
                       server_.url("/scripted/fresh.png"));
    std::vector<int> widths;
    Load refreshed;
    manager_->downloadImageWithURL(
        server_.url("/scripted/fresh.png"), ImageLoadRefreshCached, nullptr,
        [&](std::optional<Image> image, auto, ImageCacheType, bool, const std::string&) {
            widths.push_back(image ? image->bitmap().width() : 0);
        });
    EXPECT_EQ(widths, std::vector<int>{2});
    ASSERT_TRUE(wait([&] { return widths.size() == 2; }));
    EXPECT_EQ(widths, (std::vector<int>{2, 5}));
}

// Refuses one URL and turns every downloaded image into a 1 x 1 one.
class Delegate : public WIWebImageManagerDelegate {
public:
    bool imageManagerShouldDownloadImageForURL(WIWebImageManager&,
                                               const std::string& url) override {
        return url.find("refused") == std::string::npos;
    }
    bool transformsDownloadedImages() const override { return true; }
    std::optional<Image> imageManagerTransformDownloadedImage(WIWebImageManager&, const Image&,
                                                              const std::string&) override {
        return Image(platform::image::Bitmap::filled({1, 1}, 0xFF00FF00, false));
    }
};

TEST_F(WIWebImageManagerTest, TheDelegateMayRefuseADownloadOrTransformItsImage) {
    Delegate delegate;
    manager_->setDelegate(&delegate);
    Load refused;
    load("/scripted/refused.png", refused);
    ASSERT_TRUE(wait([&] { return refused.calls > 0; }));
    EXPECT_FALSE(refused.image);
    EXPECT_FALSE(refused.error);
    EXPECT_EQ(requestsFor("/scripted/refused.png"), 0u);

    scriptImage("/big.png", fx::solidPng(9, 9, false));
    Load transformed;
    load("/scripted/big.png", transformed);
    ASSERT_TRUE(wait([&] { return transformed.calls > 0; }));
    ASSERT_TRUE(transformed.image);
    EXPECT_EQ(transformed.image->bitmap().size(), (PixelSize{1, 1}));
    drainCache();
    cache_->clearMemory();
    const auto stored = cache_->imageFromDiskCacheForKey(server_.url("/scripted/big.png"));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->bitmap().size(), (PixelSize{1, 1}));
    manager_->setDelegate(nullptr);
}

}  // namespace
