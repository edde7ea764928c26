#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "Ratios.h"
#include "utils/ZAZipArchive.h"

namespace {

namespace fs = std::filesystem;

// A 50 MiB archive of mixed files, as packages hold them: images and media that do not
// compress, text and markup that do, and many small files. Made once, removed at exit.
class MixedArchive {
public:
    MixedArchive()
        : folder_(fs::temp_directory_path() / ("kavo-zip-bench-" + std::to_string(::getpid()))) {
        const fs::path tree = folder_ / "tree";
        std::mt19937_64 random(20);
        const auto write = [&](const fs::path& path, const std::string& content) {
            fs::create_directories(path.parent_path());
            std::ofstream(path, std::ios::binary) << content;
            contentBytes_ += content.size();
        };
        const auto noise = [&](std::size_t size) {
            std::string bytes(size, '\0');
            for (std::size_t i = 0; i + 8 <= size; i += 8) {
                const std::uint64_t word = random();
                std::memcpy(bytes.data() + i, &word, 8);
            }
            return bytes;
        };
        const auto prose = [&](std::size_t size) {
            static const char* const words[] = {"watch ",   "<app id=\"", "face",
                                                "\">",      "clock ",     "weather ",
                                                "</app>\n", "update ",    "1.0.2 "};
            std::string text;
            while (text.size() < size) {
                text += words[random() % std::size(words)];
            }
            return text;
        };
        for (int i = 0; i < 45; ++i) {
            write(tree / "media" / ("image" + std::to_string(i) + ".png"), noise(1 << 20));
        }
        for (int i = 0; i < 300; ++i) {
            write(tree / "web" / ("page" + std::to_string(i) + ".html"), prose(100 << 10));
        }
        for (int i = 0; i < 640; ++i) {
            write(tree / "res" / std::to_string(i % 16) / ("s" + std::to_string(i) + ".dat"),
                  noise(2 << 10) + prose(2 << 10));
        }
        archive_ = folder_ / "mixed.zip";
        ok_ = ZAZipArchive::createZipFileAtPath(archive_, tree);
        fs::remove_all(tree);
    }
    ~MixedArchive() {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }

    [[nodiscard]] bool ok() const { return ok_; }
    [[nodiscard]] const fs::path& archive() const { return archive_; }
    [[nodiscard]] fs::path destination() const { return folder_ / "out"; }
    [[nodiscard]] std::uint64_t contentBytes() const { return contentBytes_; }
    [[nodiscard]] std::uint64_t archiveBytes() const { return fs::file_size(archive_); }

private:
    fs::path folder_;
    fs::path archive_;
    std::uint64_t contentBytes_ = 0;
    bool ok_ = false;
};

const MixedArchive& mixedArchive() {
    static const MixedArchive archive;
    return archive;
}

// Runs unzipOnce into an empty destination per iteration; the clearing is not timed.
template <typename Unzip>
void runUnzip(benchmark::State& state, Unzip unzipOnce) {
    const MixedArchive& mixed = mixedArchive();
    if (!mixed.ok()) {
        state.SkipWithError("cannot write the archive");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(mixed.destination());
        state.ResumeTiming();
        if (!unzipOnce(mixed)) {
            state.SkipWithError("the unzip failed");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * mixed.archiveBytes()));
    state.counters["archive MiB"] = static_cast<double>(mixed.archiveBytes()) / (1 << 20);
    state.counters["content MiB"] = static_cast<double>(mixed.contentBytes()) / (1 << 20);
}

void BM_ZAZipArchiveUnzip(benchmark::State& state) {
    runUnzip(state, [](const MixedArchive& mixed) {
        return ZAZipArchive::unzipFileAtPath(mixed.archive(), mixed.destination()).ok();
    });
}
BENCHMARK(BM_ZAZipArchiveUnzip)->UseRealTime()->MinTime(2.0)->Unit(benchmark::kMillisecond);

// The reference: the system's unzip tool on the same archive into the same place.
void BM_SystemUnzip(benchmark::State& state) {
    runUnzip(state, [](const MixedArchive& mixed) {
        const std::string command = "unzip -q -o '" + mixed.archive().string() + "' -d '" +
                                    mixed.destination().string() + "'";
        return std::system(command.c_str()) == 0;
    });
}
BENCHMARK(BM_SystemUnzip)->UseRealTime()->MinTime(2.0)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    const bench::Ratio ratios[] = {
        {.benchmark = "BM_ZAZipArchiveUnzip",
         .reference = "BM_SystemUnzip/min_time:2.000/real_time",
         .wallClock = true},
    };
    return bench::runWithRatios(argc, argv, ratios);
}
