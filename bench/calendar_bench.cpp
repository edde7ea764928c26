// The calendar service's read of its folder: the 15-day window of 5000 events (a tenth of them
// repeating weekly), one file per event as calendar synchronisers keep them, against libical's
// parse of the same files alone.
#include <benchmark/benchmark.h>
#include <libical/ical.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Ratios.h"
#include "platform/calendar/IcsFolderStore.h"
#include "platform/foundation/CivilTime.h"

namespace {

namespace fs = std::filesystem;
using platform::calendar::IcsFolderStore;
using platform::calendar::Zone;

constexpr int kEvents = 5000;
constexpr int kCalendars = 5;
const std::int64_t kWindowStart = platform::secondsFromCivil({2026, 12, 10, 0, 0, 0});
const platform::calendar::TimeRange kWindow{kWindowStart, kWindowStart + 15 * 86400};

std::string stamp(std::int64_t seconds) {
    const auto t = platform::civilFromSeconds(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%04lld%02u%02uT%02u%02u%02u", static_cast<long long>(t.year),
                  t.month, t.day, t.hour, t.minute, t.second);
    return text;
}

class CalendarFolder {
public:
    CalendarFolder()
        : folder_(fs::temp_directory_path() /
                  ("kavo-calendar-bench-" + std::to_string(::getpid()))) {
        std::mt19937_64 random(29);
        const char* zones[] = {"Europe/Berlin", "America/New_York", "Asia/Kolkata", "UTC"};
        for (int i = 0; i < kEvents; ++i) {
            const fs::path calendar = folder_ / ("cal" + std::to_string(i % kCalendars));
            fs::create_directories(calendar);
            const bool repeats = i % 10 == 0;
            // Around the window, a month either side; repeating events began two months ago.
            const std::int64_t start =
                repeats
                    ? kWindowStart - 60 * 86400 + static_cast<std::int64_t>(random() % 7) * 86400
                    : kWindowStart - 30 * 86400 +
                          static_cast<std::int64_t>(random() % (75 * 86400));
            const std::int64_t begins = start - start % 900;
            const char* zone = zones[random() % std::size(zones)];
            const bool utc = std::string(zone) == "UTC";
            const std::string at = utc ? ":" : std::string(";TZID=") + zone + ":";
            std::string text =
                "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//bench//EN\r\n"
                "BEGIN:VEVENT\r\nUID:event-" +
                std::to_string(i) + "\r\nDTSTAMP:20261101T000000Z\r\nDTSTART" + at + stamp(begins) +
                (utc ? "Z" : "") + "\r\nDTEND" + at + stamp(begins + 3600) + (utc ? "Z" : "") +
                "\r\nSUMMARY:Meeting number " + std::to_string(i) + "\r\nLOCATION:Room " +
                std::to_string(i % 40) + "\r\nDESCRIPTION:Agenda\\nFirst item\\nSecond item\r\n" +
                (repeats ? "RRULE:FREQ=WEEKLY\r\n" : "") + "END:VEVENT\r\nEND:VCALENDAR\r\n";
            std::ofstream(calendar / ("event-" + std::to_string(i) + ".ics"), std::ios::binary)
                << text;
        }
    }
    ~CalendarFolder() {
        std::error_code error;
        fs::remove_all(folder_, error);
    }
    CalendarFolder(const CalendarFolder&) = delete;
    CalendarFolder& operator=(const CalendarFolder&) = delete;

    [[nodiscard]] const fs::path& path() const { return folder_; }

private:
    fs::path folder_;
};

CalendarFolder& folder() {
    static CalendarFolder made;
    return made;
}

IcsFolderStore makeStore() {
    return IcsFolderStore(
        folder().path(), [] { return *Zone::named("Europe/Berlin"); }, nullptr);
}

// Reading, parsing and expanding every file, as the first request after a launch does.
void BM_CalendarWindowFromFolder(benchmark::State& state) {
    (void)folder();
    std::size_t events = 0;
    for (auto _ : state) {
        IcsFolderStore store = makeStore();
        events = store.events(kWindow).size();
        benchmark::DoNotOptimize(events);
    }
    state.counters["events"] = static_cast<double>(events);
}
BENCHMARK(BM_CalendarWindowFromFolder)->MinTime(3.0)->Unit(benchmark::kMillisecond);

// A later computation: the files are unchanged, so only their times are looked at.
void BM_CalendarWindowUnchangedFolder(benchmark::State& state) {
    IcsFolderStore store = makeStore();
    benchmark::DoNotOptimize(store.events(kWindow).size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.events(kWindow).size());
    }
}
BENCHMARK(BM_CalendarWindowUnchangedFolder)->MinTime(3.0)->Unit(benchmark::kMillisecond);

// The reference: the same files read and parsed by libical, nothing more.
void BM_LibicalParseOnly(benchmark::State& state) {
    (void)folder();
    std::vector<fs::path> files;
    for (const auto& calendar : fs::directory_iterator(folder().path())) {
        for (const auto& file : fs::directory_iterator(calendar.path())) {
            files.push_back(file.path());
        }
    }
    for (auto _ : state) {
        for (const auto& file : files) {
            std::ifstream in(file, std::ios::binary);
            const std::string text{std::istreambuf_iterator<char>(in), {}};
            icalcomponent* root = icalparser_parse_string(text.c_str());
            benchmark::DoNotOptimize(root);
            icalcomponent_free(root);
        }
    }
}
BENCHMARK(BM_LibicalParseOnly)->MinTime(3.0)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    const bench::Ratio ratios[] = {
        {"BM_CalendarWindowFromFolder", "BM_LibicalParseOnly/min_time:3.000"},
        {"BM_CalendarWindowUnchangedFolder", "BM_LibicalParseOnly/min_time:3.000"},
    };
    return bench::runWithRatios(argc, argv, ratios);
}
