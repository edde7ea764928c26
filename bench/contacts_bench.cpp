// The contact copy's full build from a folder of 10 000 people (100 vCard files of 100 cards,
// as an exported address book split by a synchroniser): reading and parsing the folder, the
// records of the watch's layout and their serialised insert files, against reading and
// parsing the same folder alone. The ratio is the cost of the copy's own work over parsing.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "Ratios.h"
#include "listener/TQWallClock.h"
#include "platform/contacts/VCardFolderAddressBook.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/permissions/Permissions.h"
#include "services/contacts/TQContactMgr.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPeople = 10000;
constexpr int kPerFile = 100;

std::string card(int i) {
    const std::string n = std::to_string(i);
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nPRODID:-//bench//EN\r\nUID:person-" + n +
           "\r\nN:Surname" + n + ";Given;Middle;;\r\nFN:Given Middle Surname" + n +
           "\r\nORG:Company " + std::to_string(i % 50) + ";Department\r\n"
           "TEL;TYPE=CELL:+49 170 " + n + "\r\nTEL;TYPE=WORK,VOICE:+49 30\xC2\xA0" + n +
           "\r\nitem1.TEL:+1 555 " + n + "\r\nitem1.X-ABLabel:Boat\r\n"
           "EMAIL;TYPE=INTERNET,HOME:given" + n + "@example.org\r\n"
           "NOTE:A note that folds over two lines because it is long enough to be folded by\r\n"
           "  the exporting program\r\nREV:2026-11-01T10:00:00Z\r\nEND:VCARD\r\n";
}

class Folder {
public:
    Folder() : path_(fs::temp_directory_path() / ("kavo-contacts-bench-" + std::to_string(::getpid()))) {
        fs::create_directories(path_ / "book");
        for (int file = 0; file < kPeople / kPerFile; ++file) {
            std::ofstream out(path_ / "book" / ("part-" + std::to_string(file) + ".vcf"),
                              std::ios::binary);
            for (int i = file * kPerFile; i < (file + 1) * kPerFile; ++i) {
                out << card(i);
            }
        }
    }
    ~Folder() {
        std::error_code error;
        fs::remove_all(path_, error);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    [[nodiscard]] fs::path book() const { return path_ / "book"; }
    [[nodiscard]] fs::path home() const { return path_ / "home"; }

private:
    fs::path path_;
};

Folder& folder() {
    static Folder made;
    return made;
}

class FixedClock final : public TQWallClock {
public:
    std::int64_t millisecondsSince1970() const override { return 1'796'889'600'000; }
};

// Reading, parsing, building and serialising every insert file, as a first full copy does.
void BM_ContactFullCopyFromFolder(benchmark::State& state) {
    platform::Container container(folder().home());
    platform::ScopedInstall<const platform::Container> installContainer(&container);
    platform::RunLoop loop(platform::RunLoop::Clock::virtualTime);
    FixedClock clock;
    platform::ScopedInstall<TQWallClock> installClock(&clock);
    platform::UserDefaults defaults(folder().home() / "defaults.plist");
    platform::NotificationCenter center;
    platform::ScriptedPermissionPrompt prompt;
    prompt.setAnswer(platform::Feature::contacts, true);
    platform::Permissions permissions(defaults, prompt, [] { return false; });
    permissions.request(platform::Feature::contacts, [](platform::Decision) {});
    std::size_t bytes = 0;
    TQContactLink link{[] { return true; },
                       [&](platform::Bytes data, std::string, TQFileSendEvent) {
                           bytes = data.size();
                       }};
    for (auto _ : state) {
        platform::contacts::VCardFolderAddressBook book(folder().book(), nullptr);
        TQContactMgr manager(book, permissions, defaults, center, loop, link);
        manager.processContactSyncRequest(false);
        if (manager.queuedFiles() != kPeople / TQContactMgr::kChunkSize) {
            state.SkipWithError("not every person was queued");
        }
    }
    state.counters["first_file_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ContactFullCopyFromFolder)->MinTime(3.0)->Unit(benchmark::kMillisecond);

// The reference: the same folder read and parsed into people, nothing more.
void BM_VCardFolderParseOnly(benchmark::State& state) {
    for (auto _ : state) {
        platform::contacts::VCardFolderAddressBook book(folder().book(), nullptr);
        const auto people = book.people();
        if (people.size() != kPeople) {
            state.SkipWithError("not every person was read");
        }
        benchmark::DoNotOptimize(people.data());
    }
}
BENCHMARK(BM_VCardFolderParseOnly)->MinTime(3.0)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    const bench::Ratio ratios[] = {
        {"BM_ContactFullCopyFromFolder", "BM_VCardFolderParseOnly/min_time:3.000"},
    };
    return bench::runWithRatios(argc, argv, ratios);
}
