#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "image/support/ImageFixtures.h"
#include "imagecache/WIImageCache.h"
#include "imagecache/WIWebImageDownloader.h"
#include "imagecache/WIWebImageManager.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/URLLoader.h"
#include "support/LoopWait.h"
#include "support/LoopbackServer.h"
#include "support/RecordingAppHost.h"
#include "support/TempDir.h"

// A host that records the background tasks asked of it.
class BackgroundTaskHost : public testing_support::RecordingAppHost {
public:
    platform::BackgroundTaskIdentifier beginBackgroundTask(
        std::string_view name, std::function<void()> expirationHandler) override {
        begun.emplace_back(name);
        expirations.push_back(std::move(expirationHandler));
        return begun.size();
    }
    void endBackgroundTask(platform::BackgroundTaskIdentifier identifier) override {
        ended.push_back(identifier);
    }
    std::vector<std::string> begun;
    std::vector<std::function<void()>> expirations;
    std::vector<platform::BackgroundTaskIdentifier> ended;
};

// A main loop on a virtual clock (the cache's files age by it), a loopback server, a loader,
// cache, downloader and manager of the test's own, and the downloads' notifications counted.
class ImageLoadingFixture : public ::testing::Test {
protected:
    static constexpr double kEpoch = 1'800'000'000;

    ImageLoadingFixture()
        : loop_(platform::RunLoop::Clock::virtualTime),
          installedLoop_(loop_),
          wakes_(loop_),
          installedCenter_(&center_) {
        center_.addObserver("", [this](const platform::Notification& note) {
            if (note.name == WIWebImageDownloadStartNotification) {
                ++started_;
                maxRunning_ = std::max(maxRunning_, started_ - stopped_);
            } else if (note.name == WIWebImageDownloadStopNotification) {
                ++stopped_;
            }
        });
    }

    // Nothing of a test outlives it: downloads end and the cache's queue drains first.
    ~ImageLoadingFixture() override {
        manager_->cancelAll();
        downloader_->cancelAll();
        wait([&] { return downloader_->currentDownloadCount() == 0 && !manager_->isRunning(); });
        drainCache();
    }

    // What one load heard.
    struct Load {
        std::size_t calls = 0;
        std::vector<bool> finished;
        std::optional<platform::image::Image> image;
        std::optional<platform::Error> error;
        ImageCacheType cacheType = ImageCacheType::none;
        bool onLoop = false;
    };

    ImageLoadCompletion recordInto(Load& load) {
        return [this, &load](std::optional<platform::image::Image> image,
                             std::optional<platform::Error> error, ImageCacheType type,
                             bool finished, const std::string&) {
            ++load.calls;
            load.finished.push_back(finished);
            load.image = std::move(image);
            load.error = std::move(error);
            load.cacheType = type;
            load.onLoop = loop_.isLoopThread();
        };
    }

    std::shared_ptr<WIWebImageCombinedOperation> load(const std::string& path, Load& into,
                                                      std::uint32_t options = 0) {
        return manager_->downloadImageWithURL(server_.url(path), options, nullptr,
                                              recordInto(into));
    }

    // Runs what reaches the loop until done() holds; news from other threads (the server,
    // download threads) wakes it. Gives up after 30 s of real time, failing the test.
    bool wait(const std::function<bool()>& done) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < giveUp) {
            loop_.runUntilIdle();
            if (done()) {
                return true;
            }
            wakes_.waitBriefly();
        }
        return done();
    }

    // Lets the cache's queue and what it posted run.
    void drainCache() {
        (void)cache_->getDiskCount();
        loop_.runUntilIdle();
    }

    std::size_t requestsFor(const std::string& path) const {
        std::size_t count = 0;
        for (const auto& request : server_.received()) {
            count += request.target == path ? 1 : 0;
        }
        return count;
    }

    void scriptImage(const std::string& name, const platform::Bytes& bytes, bool held = false,
                     std::optional<std::size_t> stallAfter = std::nullopt) {
        server_.script(
            name, {200, "image/png", std::string(bytes.begin(), bytes.end()), held, stallAfter});
    }

    platform::RunLoop loop_;
    platform::ScopedMainRunLoop installedLoop_;
    testing_support::LoopWakes wakes_;
    platform::NotificationCenter center_;
    platform::ScopedInstall<platform::NotificationCenter> installedCenter_;
    BackgroundTaskHost host_;
    platform::ScopedInstall<platform::AppHost> installedHost_{&host_};
    int started_ = 0;
    int stopped_ = 0;
    int maxRunning_ = 0;
    testing_support::TempDir temp_;
    testing_support::LoopbackServer server_;
    platform::net::URLLoader loader_;
    std::shared_ptr<WIImageCache> cache_ = std::make_shared<WIImageCache>(
        "test", temp_.path(), [this] { return kEpoch + loop_.now(); });
    std::shared_ptr<WIWebImageDownloader> downloader_ = WIWebImageDownloader::create(&loader_);
    std::shared_ptr<WIWebImageManager> manager_ = WIWebImageManager::create(cache_, downloader_);
};
