// The image cache's hits, 1000 a run: from memory beside a plain map under a lock (what the
// recency list adds), and from disk (read, decode and the forced decode on the caller's thread)
// beside reading and decoding the same files directly with the image layer; and the cache's
// file names beside the MD5 digest alone. Items per second are the hits per second. Icons of 96 x
// 96 pixels, as the featured row shows them. Every run reports in microseconds, so that the ratios
// compare like with like.

#include <benchmark/benchmark.h>

#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Ratios.h"
#include "imagecache/WIImageCache.h"
#include "platform/foundation/FileSystem.h"
#include "platform/image/Canvas.h"
#include "platform/image/Decode.h"
#include "platform/security/Crypto.h"
#include "support/TempDir.h"

namespace {

constexpr int kHits = 1000;
constexpr int kIcons = 50;

using platform::image::Bitmap;
using platform::image::Image;

// A cache of 50 icons (half PNG with alpha, half JPEG), their keys and files.
struct Icons {
    testing_support::TempDir folder;
    std::shared_ptr<WIImageCache> cache = std::make_shared<WIImageCache>("bench", folder.path());
    std::vector<std::string> keys;
    std::vector<std::filesystem::path> files;

    Icons() {
        for (int i = 0; i < kIcons; ++i) {
            const bool alpha = i % 2 == 0;
            keys.push_back("https://store.example.com/icons/app" + std::to_string(i) +
                           (alpha ? ".png" : ".jpg"));
            const auto argb = 0xFF000000u | static_cast<std::uint32_t>(i * 0x030507);
            cache->storeImage(Image(Bitmap::filled({96, 96}, argb, alpha)), keys.back());
            files.push_back(cache->defaultCachePathForKey(keys.back()));
        }
        (void)cache->getDiskCount();
    }
};

Icons& icons() {
    static Icons made;
    return made;
}

void BM_MemoryHits(benchmark::State& state) {
    Icons& set = icons();
    for (const auto& key : set.keys) {
        (void)set.cache->imageFromDiskCacheForKey(key);
    }
    for (auto _ : state) {
        for (int i = 0; i < kHits; ++i) {
            auto image = set.cache->imageFromMemoryCacheForKey(set.keys[i % kIcons]);
            benchmark::DoNotOptimize(image);
        }
    }
    state.SetItemsProcessed(state.iterations() * kHits);
}

void BM_PlainMapLookups(benchmark::State& state) {
    Icons& set = icons();
    std::mutex mutex;
    std::unordered_map<std::string, Image> map;
    for (const auto& key : set.keys) {
        map.emplace(key, *set.cache->imageFromDiskCacheForKey(key));
    }
    for (auto _ : state) {
        for (int i = 0; i < kHits; ++i) {
            std::optional<Image> image;
            {
                std::lock_guard lock(mutex);
                const auto found = map.find(set.keys[i % kIcons]);
                if (found != map.end()) {
                    image = found->second;
                }
            }
            benchmark::DoNotOptimize(image);
        }
    }
    state.SetItemsProcessed(state.iterations() * kHits);
}

void BM_DiskHits(benchmark::State& state) {
    Icons& set = icons();
    set.cache->shouldCacheImagesInMemory = false;
    set.cache->clearMemory();
    for (auto _ : state) {
        for (int i = 0; i < kHits; ++i) {
            auto image = set.cache->imageFromDiskCacheForKey(set.keys[i % kIcons]);
            if (!image) {
                state.SkipWithError("no image");
                return;
            }
            benchmark::DoNotOptimize(image);
        }
    }
    set.cache->shouldCacheImagesInMemory = true;
    state.SetItemsProcessed(state.iterations() * kHits);
}

void BM_ReadAndDecodeDirectly(benchmark::State& state) {
    Icons& set = icons();
    for (auto _ : state) {
        for (int i = 0; i < kHits; ++i) {
            auto bytes = platform::fs::readFile(set.files[i % kIcons]);
            auto image = platform::image::decodeImage(
                std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()));
            if (!image) {
                state.SkipWithError("no image");
                return;
            }
            benchmark::DoNotOptimize(image);
        }
    }
    state.SetItemsProcessed(state.iterations() * kHits);
}

void BM_FileNames(benchmark::State& state) {
    const Icons& set = icons();
    for (auto _ : state) {
        for (int i = 0; i < kHits; ++i) {
            auto name = WIImageCache::cachedFileNameForKey(set.keys[i % kIcons]);
            benchmark::DoNotOptimize(name);
        }
    }
    state.SetItemsProcessed(state.iterations() * kHits);
}

void BM_Md5Alone(benchmark::State& state) {
    const Icons& set = icons();
    for (auto _ : state) {
        for (int i = 0; i < kHits; ++i) {
            const std::string& key = set.keys[i % kIcons];
            auto digest = platform::crypto::md5(
                std::span(reinterpret_cast<const std::uint8_t*>(key.data()), key.size()));
            benchmark::DoNotOptimize(digest);
        }
    }
    state.SetItemsProcessed(state.iterations() * kHits);
}

BENCHMARK(BM_MemoryHits)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainMapLookups)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DiskHits)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadAndDecodeDirectly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FileNames)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Md5Alone)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    const bench::Ratio ratios[] = {
        {"BM_MemoryHits", "BM_PlainMapLookups"},
        {"BM_DiskHits", "BM_ReadAndDecodeDirectly"},
        {"BM_FileNames", "BM_Md5Alone"},
    };
    return bench::runWithRatios(argc, argv, ratios);
}
