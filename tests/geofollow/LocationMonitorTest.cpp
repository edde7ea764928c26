#include <gtest/gtest.h>
#include <link.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "geofollow/Geofollow.h"
#include "support/TempDir.h"

namespace {

using platform::LocationFix;

// 2016-03-03 14:05:09 UTC.
constexpr double kStart = 1457013909;
constexpr double kOriginLatitude = 52.5;
constexpr double kOriginLongitude = 13.4;
constexpr double kMetresPerDegree = 6'371'008.8 * 3.14159265358979323846 / 180.0;

LocationFix fixAt(double seconds, double metresNorth, double speed, double altitude = 10,
                  double accuracy = 5) {
    LocationFix fix;
    fix.latitude = kOriginLatitude + metresNorth / kMetresPerDegree;
    fix.longitude = kOriginLongitude;
    fix.altitude = altitude;
    fix.horizontalAccuracy = accuracy;
    fix.verticalAccuracy = 10;
    fix.speed = speed;
    fix.timestamp = seconds;
    return fix;
}

class Results final : public LocationMonitorDelegate {
public:
    void DataCallback(const ExerciseResult& result) override { all.push_back(result); }
    std::vector<ExerciseResult> all;
};

// Local time is UTC for the file names and the time column.
class LocationMonitorTest : public ::testing::Test {
protected:
    LocationMonitorTest() {
        if (const char* zone = std::getenv("TZ")) {
            savedZone_ = zone;
        }
        setenv("TZ", "UTC", 1);
        tzset();
        monitor.setDelegate(&results);
    }
    ~LocationMonitorTest() override {
        if (savedZone_) {
            setenv("TZ", savedZone_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

    void feed(const LocationFix& fix) { monitor.getData(std::span<const LocationFix>(&fix, 1)); }

    std::string csv() const {
        std::ifstream file(folder.path() / monitor.saveFileCSV(), std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    testing_support::TempDir folder;
    std::vector<std::string> logLines;
    LocationMonitorM monitor{
        {.documents = folder.path(),
         .now = [] { return kStart; },
         .log = [this](std::string_view line) { logLines.emplace_back(line); }}};
    Results results;

private:
    std::optional<std::string> savedZone_;
};

// One walk, fix by fix: what each fix adds and what the figures become.
struct Step {
    const char* what;
    double time;   // seconds after the start
    double north;  // metres from the origin
    double speed;  // as the fix reports it
    double altitude;
    double accuracy;
    // Expected:
    float totalDistance;
    std::int64_t flatTime;
    float speedOut;
    float averageSpeed;
    float maxAltitude, minAltitude;
    std::int64_t durationTime, movingTime;
    bool imprecise;
};

constexpr float kCap = 2.5F;
const Step kWalk[] = {
    {"first fix: no distance, extremes from it", 0, 0, 1.0, 10, 5, 0, 0, 1.0F, 1.0F, 10, 10, 0,
     1000, false},
    {"10 m in 2 s at a run: the walking cap keeps 5 m", 2, 10, 3.0, 12, 5, 5, 2, kCap, 1.75F, 12,
     10, 2000, 2000, false},
    {"same whole second: no time, so no distance", 2.5, 11, 1.0, 12, 5, 5, 2, 1.0F, 1.5F, 12, 10,
     2000, 3000, false},
    {"a fix from before the last: totals stay", 1, 20, 2.0, 12, 5, 5, 2, 2.0F, 1.625F, 12, 10, 2000,
     4000, false},
    {"no speed, 30 m accuracy: 200/200, still moving (1)", 4, 14, -1, 8, 30, 5, 2, 0, 1.3F, 12, 8,
     4000, 5000, true},
    {"still moving (2)", 5, 14, 0, 8, 5, 5, 2, 0, 1.0833334F, 12, 8, 5000, 6000, false},
    {"still moving (3)", 6, 14, 0, 8, 5, 5, 2, 0, 0.9285714F, 12, 8, 6000, 7000, false},
    {"fourth without speed: the moving counter stops", 7, 14, 0, 8, 5, 5, 2, 0, 0.8125F, 12, 8,
     7000, 7000, false},
    {"moving again: 2 m in 1 s", 8, 16, 1.0, 9, 5, 7, 3, 1.0F, 0.8333333F, 12, 8, 8000, 8000,
     false},
};

TEST_F(LocationMonitorTest, FiguresOfAWalkFixByFix) {
    monitor.startMonitoring(LocationMonitorM::TYPE_WALK, 70);
    for (const Step& step : kWalk) {
        SCOPED_TRACE(step.what);
        const auto before = results.all.size();
        feed(fixAt(kStart + step.time, step.north, step.speed, step.altitude, step.accuracy));
        ASSERT_EQ(results.all.size(), before + 1);
        const ExerciseResult& r = results.all.back();
        EXPECT_NEAR(r.totalDistance, step.totalDistance, 1e-3);
        EXPECT_EQ(r.flatTime, step.flatTime);
        EXPECT_FLOAT_EQ(r.speed, step.speedOut);
        EXPECT_NEAR(r.averageSpeed, step.averageSpeed, 1e-5);
        EXPECT_FLOAT_EQ(r.maxSpeed, before == 0 ? step.speedOut : kCap);
        EXPECT_FLOAT_EQ(r.maxAltitude, step.maxAltitude);
        EXPECT_FLOAT_EQ(r.minAltitude, step.minAltitude);
        EXPECT_EQ(r.durationTime, step.durationTime);
        EXPECT_EQ(r.movingTime, step.movingTime);
        EXPECT_EQ(r.latitude == 200.0 && r.longitude == 200.0, step.imprecise);
        EXPECT_EQ(r.timestamp, static_cast<std::int64_t>((kStart + step.time) * 1000.0));
        EXPECT_FLOAT_EQ(r.pace, r.speed == 0 ? 0 : 1000.0F / (r.speed * 60.0F));
        EXPECT_FLOAT_EQ(r.averagePace, 1000.0F / (r.averageSpeed * 60.0F));
        EXPECT_FLOAT_EQ(r.maxPace, r.maxSpeed == 0 ? 0 : 1000.0F / (r.maxSpeed * 60.0F));
        EXPECT_NEAR(r.consumedCalorie, 0.000689F * step.totalDistance * 70, 1e-5);
    }
    EXPECT_FLOAT_EQ(results.all.back().maxSpeed, kCap);
    EXPECT_NEAR(results.all[1].pace, 6.6666665F, 1e-6);
}

// Caps and calorie factors by type: 100 m in 10 s reported at 20 m/s.
TEST_F(LocationMonitorTest, EachTypeHasItsCapAndCalorieFactor) {
    struct Case {
        LocationMonitorM::Type type;
        float cap, factor;
    };
    for (const Case& c : {Case{LocationMonitorM::TYPE_WALK, 2.5F, 0.000689F},
                          Case{LocationMonitorM::TYPE_RUN, 7.5F, 0.001041F},
                          Case{LocationMonitorM::TYPE_CYCLE, 12.5F, 0.000341F},
                          Case{LocationMonitorM::TYPE_CLIMB, 2.5F, 0.000911F}}) {
        SCOPED_TRACE(c.type);
        monitor.startMonitoring(c.type, 80);
        feed(fixAt(kStart, 0, 20));
        feed(fixAt(kStart + 10, 100, 20));
        const auto& r = results.all.back();
        EXPECT_NEAR(r.totalDistance, std::min(100.0F, c.cap * 10), 1e-2);
        EXPECT_FLOAT_EQ(r.speed, c.cap);
        EXPECT_NEAR(r.consumedCalorie, c.factor * r.totalDistance * 80, 1e-4);
        monitor.stopMonitoring();
    }
}

TEST_F(LocationMonitorTest, TheCsvFileHasTheHeaderAndOneRowPerFixOnA24HourClock) {
    monitor.startMonitoring(LocationMonitorM::TYPE_WALK, 70);
    EXPECT_EQ(monitor.saveFileCSV(), "2016-03-03 14:05:09.csv");
    // 15:00:00, which a 12-hour clock would write as 03:00:00.
    feed(fixAt(1457017200, 0, 1.0));
    feed(fixAt(1457017202, 10, 3.0, 12));
    EXPECT_EQ(csv(),
              std::string(LocationMonitorM::kCsvHeader) +
                  "52.50000000, 13.40000000, 5.00000000, 0.00000000, 00000000, 10.00000000, "
                  "10.00000000, 10.00000000, 1.00000000, 1.00000000, 1.00000000, 16.66666603, "
                  "16.66666603, 16.66666603, 0.00000000, 2016-03-03 15:00:00, 0, 1000, v 1.2, "
                  "70.00, WALKING \n"
                  "52.50008993, 13.40000000, 5.00000000, 5.00000000, 00000002, 12.00000000, "
                  "12.00000000, 10.00000000, 2.50000000, 2.50000000, 1.75000000, 6.66666651, "
                  "6.66666651, 9.52380943, 0.24114999, 2016-03-03 15:00:02, 2000, 2000, v 1.2, "
                  "70.00, WALKING \n");
}

// The file keeps the exact position; the diagnostic line, which outlives the exercise, only
// the city's.
TEST_F(LocationMonitorTest, TheLogLineHoldsThePositionRoundedToTwoDecimals) {
    monitor.startMonitoring(LocationMonitorM::TYPE_WALK, 70);
    LocationFix fix = fixAt(1457017200, 0, 1.0);
    fix.latitude = 52.516274;
    fix.longitude = -13.377704;
    feed(fix);
    EXPECT_NE(csv().find("52.51627400, -13.37770400, "), std::string::npos);
    ASSERT_FALSE(logLines.empty());
    EXPECT_TRUE(logLines.back().starts_with("52.52, -13.38, 5.00000000, ")) << logLines.back();
    EXPECT_EQ(logLines.back().find("52.5162"), std::string::npos);
}

TEST_F(LocationMonitorTest, FixesWhileNotMonitoringAreIgnoredAndNeverReachTheLastFile) {
    feed(fixAt(kStart, 0, 1));
    EXPECT_TRUE(results.all.empty());

    monitor.startMonitoring(LocationMonitorM::TYPE_RUN, 60);
    feed(fixAt(kStart, 0, 1));
    monitor.stopMonitoring();
    const std::string file = csv();
    feed(fixAt(kStart + 5, 5, 1));
    EXPECT_EQ(results.all.size(), 1U);
    EXPECT_EQ(csv(), file);
}

TEST_F(LocationMonitorTest, StartsAndStopsThatDoNotApplyOnlyLog) {
    monitor.startMonitoring(0, 70);
    monitor.startMonitoring(5, 70);
    EXPECT_FALSE(monitor.isStarted());
    monitor.stopMonitoring();
    monitor.startMonitoring(LocationMonitorM::TYPE_CYCLE, 70);
    monitor.startMonitoring(LocationMonitorM::TYPE_WALK, 90);
    EXPECT_TRUE(monitor.isStarted());
    feed(fixAt(kStart, 0, 20));
    feed(fixAt(kStart + 1, 20, 20));
    // Still the cycling cap from the first start.
    EXPECT_FLOAT_EQ(results.all.back().speed, 12.5F);
    EXPECT_EQ(logLines[0], "Type Parameter is incorrect!!!");
    EXPECT_EQ(logLines[1], "Type Parameter is incorrect!!!");
    EXPECT_EQ(logLines[2], "Already Stopped");
    EXPECT_EQ(logLines[3], "StartMonitoring");
    EXPECT_EQ(logLines[4], "Alreay Started");
}

TEST_F(LocationMonitorTest, TwoStartsInOneSecondShareTheFileAndItsHeaderComesTwice) {
    monitor.startMonitoring(LocationMonitorM::TYPE_WALK, 70);
    monitor.stopMonitoring();
    monitor.startMonitoring(LocationMonitorM::TYPE_WALK, 70);
    const std::string header(LocationMonitorM::kCsvHeader);
    EXPECT_EQ(csv(), header + header);
}

TEST(LocationMonitorFolder, WithoutTheDocumentsFolderNoFileIsWrittenAndResultsStillCome) {
    std::vector<std::string> lines;
    LocationMonitorM monitor({.documents = "/nonexistent/kavo/Documents",
                              .now = [] { return kStart; },
                              .log = [&](std::string_view line) { lines.emplace_back(line); }});
    Results results;
    monitor.setDelegate(&results);
    monitor.startMonitoring(LocationMonitorM::TYPE_WALK, 70);
    EXPECT_FALSE(monitor.csvLogging());
    EXPECT_EQ(lines.back(), "Folder is not existed");
    const auto fix = fixAt(kStart, 0, 1);
    monitor.getData(std::span<const LocationFix>(&fix, 1));
    EXPECT_EQ(results.all.size(), 1U);
}

// The library as the application links it: by its soname, from the build's library folder.
TEST(GeofollowLibrary, LoadsFromTheLibraryFolderByItsSoname) {
    struct Found {
        std::string path;
        std::string soname;
    } found;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto& out = *static_cast<Found*>(data);
            const std::string name = info->dlpi_name != nullptr ? info->dlpi_name : "";
            if (name.find("libGeofollow") == std::string::npos) {
                return 0;
            }
            out.path = name;
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                if (info->dlpi_phdr[i].p_type != PT_DYNAMIC) {
                    continue;
                }
                const auto* dynamic = reinterpret_cast<const ElfW(Dyn)*>(
                    info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
                const char* strings = nullptr;
                ElfW(Xword) soname = 0;
                bool hasSoname = false;
                for (const auto* entry = dynamic; entry->d_tag != DT_NULL; ++entry) {
                    if (entry->d_tag == DT_STRTAB) {
                        strings = reinterpret_cast<const char*>(entry->d_un.d_ptr);
                    } else if (entry->d_tag == DT_SONAME) {
                        soname = entry->d_un.d_val;
                        hasSoname = true;
                    }
                }
                if (strings != nullptr && hasSoname) {
                    out.soname = strings + soname;
                }
            }
            return 1;
        },
        &found);
    ASSERT_FALSE(found.path.empty()) << "libGeofollow is not loaded";
    EXPECT_EQ(found.soname, "libGeofollow.so.1");
    EXPECT_EQ(std::filesystem::path(found.path).filename(), "libGeofollow.so.1");
    EXPECT_EQ(std::filesystem::canonical(std::filesystem::path(found.path).parent_path()),
              std::filesystem::canonical(KAVO_LIBRARY_DIR));
    EXPECT_EQ(GeofollowVersionNumber, 1.0);
    EXPECT_STREQ(reinterpret_cast<const char*>(GeofollowVersionString),
                 "@(#)PROGRAM:Geofollow  PROJECT:Geofollow-1\n");
}

}  // namespace
