#include <gtest/gtest.h>

#include "ImageLoadingFixture.h"
#include "support/ClosingHttpServer.h"

namespace {

namespace fx = image_fixtures;
using platform::Bytes;
using platform::image::Image;
using platform::image::PixelSize;

class WIWebImageDownloaderTest : public ImageLoadingFixture {
protected:
    // What one caller of the downloader heard.
    struct Heard {
        std::size_t calls = 0;
        std::vector<bool> finished;
        std::optional<Image> image;
        std::optional<Bytes> data;
        std::optional<platform::Error> error;
        std::vector<std::optional<Image>> partials;
    };

    std::shared_ptr<WIWebImageOperation> download(const std::string& url, Heard& heard,
                                                  std::uint32_t options = 0,
                                                  ImageDownloadProgress progress = nullptr) {
        return downloader_->downloadImageWithURL(
            url, options, std::move(progress),
            // Heard on the download's thread, recorded on the test's.
            [this, &heard](std::optional<Image> image, std::optional<Bytes> data,
                           std::optional<platform::Error> error, bool finished) {
                loop_.post([&heard, image = std::move(image), data = std::move(data),
                            error = std::move(error), finished]() mutable {
                    record(heard, std::move(image), std::move(data), std::move(error), finished);
                });
            });
    }

    static void record(Heard& heard, std::optional<Image> image, std::optional<Bytes> data,
                       std::optional<platform::Error> error, bool finished) {
        if (!finished) {
            heard.partials.push_back(std::move(image));
            return;
        }
        ++heard.calls;
        heard.finished.push_back(finished);
        heard.image = std::move(image);
        heard.data = std::move(data);
        heard.error = std::move(error);
    }
};

TEST_F(WIWebImageDownloaderTest, TheErrorTable) {
    // What a server says of its body is not memory to take: a length past the bound, or more
    // bytes than the bound without one, end the load with an error of their own.
    testing_support::ClosingHttpServer huge(
        "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: 1099511627776\r\n\r\n");
    const std::string tooMany = std::to_string(WIWebImageDownloaderOperation::kMaxImageBytes + 1);
    const struct {
        std::string name;
        std::string url;
        std::string domain;
        long code;
        std::string description;
    } cases[] = {
        {"not found", server_.url("/status/404"), "NSURLErrorDomain", 404, ""},
        {"server error", server_.url("/status/503"), "NSURLErrorDomain", 503, ""},
        {"empty body", server_.url("/status/200"), "WIWebImageErrorDomain", 0, "Image data is nil"},
        {"no image", server_.url("/status/200?type=image/png&body=hello"), "WIWebImageErrorDomain",
         0, "Downloaded image has 0 pixels"},
        {"no server", "http://127.0.0.1:1/x.png", "NSURLErrorDomain", -1004, ""},
        {"no URL", "::", "NSURLErrorDomain", 0, "Connection can't be initialized"},
        {"a terabyte announced", "http://127.0.0.1:" + std::to_string(huge.port()) + "/huge.png",
         "NSURLErrorDomain", platform::net::urlerror::dataLengthExceedsMaximum, ""},
        {"more than the bound without a length", server_.url("/chunked?size=" + tooMany),
         "NSURLErrorDomain", platform::net::urlerror::dataLengthExceedsMaximum, ""},
    };
    for (const auto& c : cases) {
        Heard heard;
        download(c.url, heard);
        ASSERT_TRUE(wait([&] { return heard.calls > 0; })) << c.name;
        drainCache();
        EXPECT_EQ(heard.calls, 1u) << c.name;
        EXPECT_EQ(heard.finished, std::vector<bool>{true}) << c.name;
        EXPECT_FALSE(heard.image) << c.name;
        ASSERT_TRUE(heard.error) << c.name;
        EXPECT_EQ(heard.error->domain, c.domain) << c.name;
        EXPECT_EQ(heard.error->code, c.code) << c.name;
        if (!c.description.empty()) {
            EXPECT_EQ(heard.error->message, c.description) << c.name;
        }
    }
    ASSERT_TRUE(wait([&] { return downloader_->currentDownloadCount() == 0 && stopped_ == 7; }));
    // Every started download stopped once; the URL that never parsed never started.
    EXPECT_EQ(started_, 7);
}

TEST_F(WIWebImageDownloaderTest, NotModifiedReachesEveryCallerOnceWithoutImageOrError) {
    Heard first, second;
    download(server_.url("/status/304"), first);
    download(server_.url("/status/304"), second);
    ASSERT_TRUE(wait([&] { return first.calls > 0 && second.calls > 0; }));
    drainCache();
    for (const Heard* heard : {&first, &second}) {
        EXPECT_EQ(heard->calls, 1u);
        EXPECT_FALSE(heard->image);
        EXPECT_FALSE(heard->error);
    }
    EXPECT_EQ(requestsFor("/status/304"), 1u);
    // The operation leaves the queue on the download's thread, after its answer.
    EXPECT_TRUE(wait([&] { return downloader_->currentDownloadCount() == 0; }));

    // Through the manager: one answer with nothing, and the load is over.
    Load load;
    manager_->downloadImageWithURL(server_.url("/status/304"), 0, nullptr, recordInto(load));
    ASSERT_TRUE(wait([&] { return load.calls > 0; }));
    EXPECT_FALSE(load.image);
    EXPECT_FALSE(load.error);
    EXPECT_EQ(load.finished, std::vector<bool>{true});
    // The load leaves the running list on the download's thread, after its answer.
    EXPECT_TRUE(wait([&] { return !manager_->isRunning(); }));
}

TEST_F(WIWebImageDownloaderTest, ASuccessCarriesImageBytesProgressAndItsNotifications) {
    const Bytes png = fx::solidPng(6, 4, true);
    scriptImage("/ok.png", png);
    std::vector<std::pair<std::int64_t, std::int64_t>> progress;
    Heard heard;
    download(server_.url("/scripted/ok.png"), heard, 0,
             [&](std::int64_t received, std::int64_t expected) {
                 progress.emplace_back(received, expected);
             });
    ASSERT_TRUE(wait([&] { return heard.calls > 0; }));
    drainCache();
    ASSERT_TRUE(heard.image);
    EXPECT_EQ(heard.image->bitmap().size(), (PixelSize{6, 4}));
    EXPECT_EQ(heard.data, png);
    ASSERT_GE(progress.size(), 3u);
    EXPECT_EQ(progress.front(), (std::pair<std::int64_t, std::int64_t>{0, -1}));
    EXPECT_EQ(progress[1], (std::pair<std::int64_t, std::int64_t>{0, std::int64_t(png.size())}));
    EXPECT_EQ(progress.back().first, std::int64_t(png.size()));
    EXPECT_EQ(server_.last()->header("Accept"), "image/*;q=0.8");
    EXPECT_EQ(started_, 1);
    EXPECT_EQ(stopped_, 1);
}

TEST_F(WIWebImageDownloaderTest, RequestsTakeTheirTimeOutAndHeadersFromTheDownloader) {
    double timeout = -1;
    downloader_->setOperationFactory([&](platform::net::URLRequest request, std::uint32_t options,
                                         ImageDownloadProgress progress,
                                         ImageDownloadCompletion completed, auto cancelled) {
        timeout = request.timeoutInterval;
        return std::make_shared<WIWebImageDownloaderOperation>(
            std::move(request), options, std::move(progress), std::move(completed),
            std::move(cancelled));
    });
    downloader_->setDownloadTimeout(0);
    downloader_->setValueForHTTPHeaderField(std::nullopt, "Accept");
    downloader_->setValueForHTTPHeaderField("yes", "X-Icon");
    Heard heard;
    download(server_.url("/status/404"), heard);
    ASSERT_TRUE(wait([&] { return heard.calls > 0; }));
    EXPECT_EQ(timeout, 15.0);
    EXPECT_NE(server_.last()->header("Accept"), "image/*;q=0.8");
    EXPECT_EQ(server_.last()->header("X-Icon"), "yes");
}

TEST_F(WIWebImageDownloaderTest, ADownloadCancelledBeforeItStartsEndsWithoutARequest) {
    downloader_->setSuspended(true);
    Heard heard;
    auto token = download(server_.url("/status/404"), heard);
    EXPECT_EQ(downloader_->currentDownloadCount(), 1u);
    token->cancel();
    downloader_->setSuspended(false);
    ASSERT_TRUE(wait([&] { return downloader_->currentDownloadCount() == 0; }));
    drainCache();
    EXPECT_EQ(heard.calls, 0u);
    EXPECT_EQ(started_, 0);
    EXPECT_TRUE(server_.received().empty());
}

TEST_F(WIWebImageDownloaderTest, ASlowJPEGShowsPartialImagesWhenAsked) {
    const Bytes jpeg = fx::gradientJpeg(256, 192);
    scriptImage("/slow.jpg", jpeg, false, jpeg.size() / 2);
    Heard heard;
    download(server_.url("/scripted/slow.jpg"), heard, ImageDownloadProgressive);
    ASSERT_TRUE(wait([&] { return !heard.partials.empty(); }));
    ASSERT_TRUE(heard.partials.front());
    EXPECT_EQ(heard.partials.front()->bitmap().size(), (PixelSize{256, 192}));
    EXPECT_EQ(heard.calls, 0u);
    server_.releaseHeld();
    ASSERT_TRUE(wait([&] { return heard.calls > 0; }));
    ASSERT_TRUE(heard.image);
    EXPECT_EQ(heard.image->bitmap().size(), (PixelSize{256, 192}));

    // Without a length there is nothing to measure a part against: no partial images.
    Heard chunked;
    download(server_.url("/chunked?size=5000"), chunked, ImageDownloadProgressive);
    ASSERT_TRUE(wait([&] { return chunked.calls > 0; }));
    EXPECT_TRUE(chunked.partials.empty());
}

TEST_F(WIWebImageDownloaderTest, HigherPriorityDownloadsStartFirst) {
    downloader_->setMaxConcurrentDownloads(1);
    downloader_->setSuspended(true);
    std::vector<Heard> heard(3);
    download(server_.url("/status/404?n=low"), heard[0], ImageDownloadLowPriority);
    download(server_.url("/status/404?n=normal"), heard[1]);
    download(server_.url("/status/404?n=high"), heard[2], ImageDownloadHighPriority);
    downloader_->setSuspended(false);
    ASSERT_TRUE(wait([&] { return heard[0].calls > 0; }));
    std::vector<std::string> order;
    for (const auto& request : server_.received()) {
        order.push_back(request.target);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"/status/404?n=high", "/status/404?n=normal",
                                               "/status/404?n=low"}));
}

TEST_F(WIWebImageDownloaderTest, DownloadsThatMayContinueInTheBackgroundHoldATaskOfTheHost) {
    scriptImage("/bg.png", fx::solidPng(2, 2, false), true);
    Heard heard;
    download(server_.url("/scripted/bg.png"), heard, ImageDownloadContinueInBackground);
    ASSERT_TRUE(wait([&] { return host_.begun.size() == 1 && started_ == 1; }));
    // The host's time runs out: the download stops and the task ends.
    host_.expirations.front()();
    ASSERT_TRUE(wait([&] { return !host_.ended.empty() && stopped_ == 1; }));
    EXPECT_EQ(host_.ended, std::vector<platform::BackgroundTaskIdentifier>{1});
    drainCache();
    EXPECT_EQ(heard.calls, 0u);
}

}  // namespace
