#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ImageLoadingFixture.h"
#include "imagecache/WIImageDecoding.h"
#include "platform/foundation/FileSystem.h"
#include "platform/host/AppHost.h"

namespace {

namespace fs = std::filesystem;
namespace fx = image_fixtures;
using platform::Bytes;
using platform::image::Bitmap;
using platform::image::Image;
using platform::image::PixelSize;

Image solid(bool alpha, int size = 4) {
    return Image(Bitmap::filled({size, size}, 0xFF336699, alpha));
}

Bytes fileBytes(const fs::path& path) {
    const auto read = platform::fs::readFile(path);
    return read ? Bytes(read->begin(), read->end()) : Bytes();
}

void writeFile(const fs::path& path, std::size_t size) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
}

using WIImageCacheTest = ImageLoadingFixture;

TEST_F(WIImageCacheTest, FileNamesAreTheKeysMD5WithAShortPlainExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://example.com/icon.png", "a4dd09a36c1cff854b4379648d549e39.png"},
        {"http://example.com/icon", "28a50e0c7171251880d39ebf80b4b6d3"},
        // A query string or an extension past 8 characters would make names the file system
        // refuses: the digest alone names them.
        {"http://example.com/icon.png?size=2", "ff5793c7021ab2c5ea5e27fa58133d06"},
        {"http://example.com/a.verylongext", "a44e77557c2e528fd9c493209dcaad06"},
        {"http://example.com/dir.d/file", "ae3b265d35f84d4b97668a8c3ede4ed5"},
        {"http://example.com/archive.tar.gz", "6dfb9fcbec2f9e130ea292cc564d3caa.gz"},
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
    };
    for (const auto& [key, name] : cases) {
        EXPECT_EQ(WIImageCache::cachedFileNameForKey(key), name) << key;
    }
    const std::string longKey =
        "http://example.com/" + std::string(4000, 'a') + ".x" + std::string(300, 'y');
    EXPECT_EQ(WIImageCache::cachedFileNameForKey(longKey).size(), 32u);
    EXPECT_EQ(cache_->diskCachePath(), temp_.path() / "com.corvantis.WIWebImageCache.test");
}

TEST_F(WIImageCacheTest, StoresPickTheirFileFormat) {
    const Bytes png = fx::solidPng(3, 3, false);
    const auto pngImage = wi::imageWithData(png);
    ASSERT_TRUE(pngImage);
    const struct {
        const char* key;
        Image image;
        std::optional<Bytes> data;
        bool recalculate;
        std::uint8_t firstByte;
    } cases[] = {
        {"downloaded-png", *pngImage, png, true, 0x89},
        {"opaque", solid(false), std::nullopt, true, 0xFF},
        {"alpha", solid(true), std::nullopt, true, 0x89},
        {"as-received", *pngImage, Bytes{'G', 'I', 'F'}, false, 'G'},
    };
    for (const auto& c : cases) {
        cache_->storeImage(c.image, c.recalculate, c.data, c.key, true);
    }
    drainCache();
    for (const auto& c : cases) {
        const Bytes written = fileBytes(cache_->defaultCachePathForKey(c.key));
        ASSERT_FALSE(written.empty()) << c.key;
        EXPECT_EQ(written[0], c.firstByte) << c.key;
    }
}

TEST_F(WIImageCacheTest, QueriesAnswerFromMemoryAtOnceAndFromDiskOnTheMainQueue) {
    std::optional<ImageCacheType> noKeyType;
    EXPECT_EQ(
        cache_->queryDiskCacheForKey("", [&](auto, ImageCacheType type) { noKeyType = type; }),
        nullptr);
    EXPECT_EQ(noKeyType, ImageCacheType::none);

    cache_->storeImage(solid(false), "k");
    std::optional<ImageCacheType> type;
    EXPECT_EQ(cache_->queryDiskCacheForKey("k",
                                           [&](auto image, ImageCacheType t) {
                                               EXPECT_TRUE(image);
                                               type = t;
                                           }),
              nullptr);
    EXPECT_EQ(type, ImageCacheType::memory);

    drainCache();
    cache_->clearMemory();
    type.reset();
    std::optional<Image> found;
    auto query = cache_->queryDiskCacheForKey("k", [&](auto image, ImageCacheType t) {
        found = image;
        type = t;
    });
    EXPECT_NE(query, nullptr);
    EXPECT_FALSE(type);
    drainCache();
    EXPECT_EQ(type, ImageCacheType::disk);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->bitmap().size(), (PixelSize{4, 4}));
    EXPECT_TRUE(cache_->imageFromMemoryCacheForKey("k"));

    // A miss is told as a disk answer too; a cancelled lookup is never told.
    type.reset();
    cache_->queryDiskCacheForKey("absent", [&](auto image, ImageCacheType t) {
        EXPECT_FALSE(image);
        type = t;
    });
    bool heard = false;
    cache_->queryDiskCacheForKey("absent", [&](auto, auto) { heard = true; })->cancel();
    drainCache();
    EXPECT_EQ(type, ImageCacheType::disk);
    EXPECT_FALSE(heard);
}

TEST_F(WIImageCacheTest, WithoutMemoryCachingOnlyTheDiskHoldsImages) {
    cache_->shouldCacheImagesInMemory = false;
    cache_->storeImage(solid(false), "k");
    EXPECT_FALSE(cache_->imageFromMemoryCacheForKey("k"));
    drainCache();
    EXPECT_TRUE(cache_->imageFromDiskCacheForKey("k"));
    EXPECT_FALSE(cache_->imageFromMemoryCacheForKey("k"));
    EXPECT_TRUE(cache_->diskImageExistsWithKey("k"));
}

TEST_F(WIImageCacheTest, ReadOnlyFoldersAreSearchedButDoNotCountAsOwnFiles) {
    testing_support::TempDir bundled;
    const Bytes png = fx::solidPng(2, 2, true);
    std::ofstream(bundled.path() / WIImageCache::cachedFileNameForKey("shipped"), std::ios::binary)
        << std::string(png.begin(), png.end());
    cache_->addReadOnlyCachePath(bundled.path());
    cache_->addReadOnlyCachePath(bundled.path());
    EXPECT_TRUE(cache_->imageFromDiskCacheForKey("shipped"));
    EXPECT_FALSE(cache_->diskImageExistsWithKey("shipped"));
}

TEST_F(WIImageCacheTest, FilesThatCannotBeWrittenOrReadAreMisses) {
    // A file where the cache's folder should be: nothing can be written below it.
    fs::create_directories(temp_.path());
    std::ofstream(cache_->diskCachePath()) << "in the way";
    cache_->storeImage(solid(false), "k");
    drainCache();
    cache_->clearMemory();
    EXPECT_FALSE(cache_->imageFromDiskCacheForKey("k"));
    EXPECT_FALSE(cache_->diskImageExistsWithKey("k"));
    fs::remove(cache_->diskCachePath());

    // Bytes that are no image, and a folder in a file's place.
    writeFile(cache_->defaultCachePathForKey("garbage"), 100);
    fs::create_directories(cache_->defaultCachePathForKey("folder"));
    for (const char* key : {"garbage", "folder"}) {
        EXPECT_FALSE(cache_->imageFromDiskCacheForKey(key)) << key;
        std::optional<ImageCacheType> type;
        std::optional<Image> image = solid(false);
        cache_->queryDiskCacheForKey(key, [&](auto found, ImageCacheType t) {
            image = found;
            type = t;
        });
        drainCache();
        EXPECT_EQ(type, ImageCacheType::disk) << key;
        EXPECT_FALSE(image) << key;
    }

    // A write that fails over an older entry leaves a miss, not the older image.
    cache_->storeImage(solid(false), "replaced");
    drainCache();
    const fs::path path = cache_->defaultCachePathForKey("replaced");
    fs::remove(path);
    fs::create_directories(path);  // the rename onto it fails
    cache_->storeImage(solid(true), "replaced");
    drainCache();
    cache_->clearMemory();
    EXPECT_FALSE(cache_->imageFromDiskCacheForKey("replaced"));
}

TEST_F(WIImageCacheTest, CleaningRemovesFilesByAgeThenTheOldestBySize) {
    cache_->storeImage(solid(false), "old");
    drainCache();
    loop_.advance(1);
    cache_->storeImage(solid(false), "younger");
    drainCache();
    loop_.advance(WIImageCache::kDefaultMaxCacheAge - 1);
    // "old" is exactly a week old now, "younger" a second less.
    bool cleaned = false;
    cache_->cleanDisk([&] { cleaned = true; });
    drainCache();
    EXPECT_TRUE(cleaned);
    EXPECT_FALSE(cache_->diskImageExistsWithKey("old"));
    EXPECT_TRUE(cache_->diskImageExistsWithKey("younger"));

    cache_->clearDisk();
    drainCache();
    EXPECT_EQ(cache_->getDiskCount(), 0u);
    cache_->maxCacheSize = 1000;
    const double now = kEpoch + loop_.now();
    const std::size_t sizes[] = {1200, 900, 600, 300};  // oldest first
    for (std::size_t i = 0; i < 4; ++i) {
        const fs::path path = cache_->diskCachePath() / ("f" + std::to_string(i));
        writeFile(path, sizes[i]);
        const auto modified = std::chrono::system_clock::time_point(std::chrono::seconds(
            static_cast<std::int64_t>(now) - 3600 * (4 - static_cast<int>(i))));
        fs::last_write_time(path, std::chrono::file_clock::from_sys(modified));
    }
    writeFile(cache_->diskCachePath() / ".hidden", 5000);
    EXPECT_EQ(cache_->getSize(), 3000u);
    cache_->cleanDisk();
    drainCache();
    // The oldest go until less than half the limit is left.
    EXPECT_EQ(cache_->getSize(), 300u);
    EXPECT_TRUE(fs::exists(cache_->diskCachePath() / "f3"));
}

TEST_F(WIImageCacheTest, TheApplicationsLifeCycleEmptiesMemoryAndCleansTheDisk) {
    cache_->storeImage(solid(false), "kept");
    cache_->memoryCache().setObject("other", solid(true), 16);
    center_.post(kApplicationDidReceiveMemoryWarningNotification);
    EXPECT_EQ(cache_->memoryCache().count(), 0u);
    drainCache();

    // Going to the background cleans inside a task of the host, ended when it is done.
    loop_.advance(WIImageCache::kDefaultMaxCacheAge);
    center_.post(platform::kApplicationDidEnterBackgroundNotification);
    ASSERT_EQ(host_.begun.size(), 1u);
    EXPECT_TRUE(host_.ended.empty());
    drainCache();
    EXPECT_EQ(host_.ended, std::vector<platform::BackgroundTaskIdentifier>{1});
    EXPECT_FALSE(cache_->diskImageExistsWithKey("kept"));
}

TEST_F(WIImageCacheTest, TheMemoryCacheKeepsWithinItsLimitsNewestFirst) {
    cache_->setMaxMemoryCost(100);
    cache_->storeImage(solid(false, 5), "a", false);  // 25 pixels each
    cache_->storeImage(solid(false, 5), "b", false);
    cache_->storeImage(solid(false, 5), "c", false);
    (void)cache_->imageFromMemoryCacheForKey("a");
    cache_->storeImage(solid(false, 6), "d", false);  // 36: "b", used least, goes
    EXPECT_TRUE(cache_->imageFromMemoryCacheForKey("a"));
    EXPECT_FALSE(cache_->imageFromMemoryCacheForKey("b"));
    EXPECT_TRUE(cache_->imageFromMemoryCacheForKey("d"));
    cache_->setMaxMemoryCountLimit(1);
    EXPECT_EQ(cache_->memoryCache().count(), 1u);
    EXPECT_TRUE(cache_->imageFromMemoryCacheForKey("d"));
}

}  // namespace
