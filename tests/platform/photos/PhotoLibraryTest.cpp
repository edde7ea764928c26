#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/image/Canvas.h"
#include "platform/photos/PicturesFolderLibrary.h"
#include "support/LoopWait.h"
#include "support/TempDir.h"

namespace {

using namespace platform;
using namespace platform::photos;
namespace stdfs = std::filesystem;

// Seconds since 1970 of the first day of a year (UTC), for file times far from now.
double yearStart(int year) {
    using namespace std::chrono;
    return static_cast<double>(
        duration_cast<seconds>(sys_days{std::chrono::year{year} / January / 1}.time_since_epoch())
            .count());
}

class PhotosTest : public ::testing::Test {
protected:
    // A picture of that many pixels, changed last at `modified` (seconds since 1970).
    stdfs::path writePicture(const std::string& name, image::PixelSize size, double modified) {
        const auto png = image::encodePNG(image::Bitmap::filled(size, 0xff336699, false));
        EXPECT_TRUE(png.ok());
        return writeFile(name, std::string(png->begin(), png->end()), modified);
    }
    stdfs::path writeFile(const std::string& name, const std::string& bytes, double modified) {
        const stdfs::path path = folder.path() / "Pictures" / name;
        stdfs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        using namespace std::chrono;
        const auto when = sys_time<seconds>(seconds(static_cast<long long>(modified)));
        stdfs::last_write_time(path, file_clock::from_sys(when));
        return path;
    }
    void decide(bool granted) {
        prompt.setAnswer(Feature::photos, granted);
        library.requestAuthorization([](Decision) {});
    }
    static std::vector<std::string> identifiers(const std::vector<Photo>& photos) {
        std::vector<std::string> out;
        for (const Photo& photo : photos) {
            out.push_back(photo.identifier);
        }
        return out;
    }

    testing_support::TempDir folder;
    RunLoop loop{RunLoop::Clock::virtualTime};
    ScopedMainRunLoop mainLoop{loop};
    UserDefaults defaults{folder.path() / "defaults.plist"};
    ScriptedPermissionPrompt prompt;
    Permissions permissions{defaults, prompt, [] { return false; }};
    PicturesFolderLibrary library{folder.path() / "Pictures", permissions, loop,
                                  DispatchQueue::global()};
};

TEST_F(PhotosTest, PicturesOfTheFolderAndItsSubfoldersNewestFirst) {
    writePicture("2001.png", {4, 4}, yearStart(2001));
    writePicture("trip/2005.JPG", {4, 4}, yearStart(2005));
    writePicture("2010.webp", {4, 4}, yearStart(2010));
    writePicture(".hidden.png", {4, 4}, yearStart(2011));
    writePicture(".thumbnails/cached.png", {4, 4}, yearStart(2012));
    writeFile("notes.txt", "not a picture", yearStart(2013));
    stdfs::create_directories(folder.path() / "Pictures" / "empty.png");
    decide(true);

    const auto newest = library.photos();
    EXPECT_EQ(identifiers(newest), (std::vector<std::string>{"2010.webp", "trip/2005.JPG",
                                                             "2001.png"}));
    ASSERT_EQ(newest.size(), 3u);
    EXPECT_EQ(newest[0].creationDate, yearStart(2010));
    EXPECT_EQ(identifiers(library.photos(Order::oldestFirst)),
              (std::vector<std::string>{"2001.png", "trip/2005.JPG", "2010.webp"}));
}

TEST_F(PhotosTest, APictureChangedLaterThanItWasBornCountsFromItsBirth) {
    const stdfs::path future = writePicture("future.png", {4, 4}, yearStart(2100));
    struct statx status {};
    ASSERT_EQ(::statx(AT_FDCWD, future.c_str(), 0, STATX_BTIME, &status), 0);
    const auto created = PicturesFolderLibrary::creationDate(future);
    ASSERT_TRUE(created.has_value());
    if ((status.stx_mask & STATX_BTIME) == 0) {
        EXPECT_EQ(*created, yearStart(2100)) << "without a birth time, the last change";
    } else {
        EXPECT_EQ(*created, status.stx_btime.tv_sec + status.stx_btime.tv_nsec / 1e9);
        EXPECT_LT(*created, yearStart(2100));
    }
    EXPECT_FALSE(PicturesFolderLibrary::creationDate(folder.path() / "gone.png").has_value());
}

TEST_F(PhotosTest, WithoutTheUsersLeaveNothingIsListedOrDrawn) {
    writePicture("a.png", {4, 4}, yearStart(2001));
    EXPECT_EQ(library.authorization(), Decision::notDetermined);
    EXPECT_TRUE(library.photos().empty()) << "listing asks nobody";
    EXPECT_EQ(prompt.questionsAsked(), 0);

    Decision told = Decision::notDetermined;
    prompt.setAnswer(Feature::photos, false);
    library.requestAuthorization([&](Decision decision) { told = decision; });
    EXPECT_EQ(told, Decision::denied);
    EXPECT_EQ(prompt.questionsAsked(), 1);
    EXPECT_TRUE(library.photos().empty());

    int answers = 0;
    library.requestThumbnail(Photo{"a.png", 0}, {10, 10}, ContentMode::aspectFill,
                             [&](std::optional<image::Image> thumbnail) {
                                 EXPECT_FALSE(thumbnail.has_value());
                                 ++answers;
                             });
    loop.runUntilIdle();
    EXPECT_EQ(answers, 1);
}

TEST_F(PhotosTest, ThumbnailsAreDecodedOffTheMainThreadAndArriveOnIt) {
    writePicture("wide.png", {400, 200}, yearStart(2001));
    writePicture("small.png", {40, 40}, yearStart(2002));
    writeFile("broken.png", "\x89PNG\r\n\x1a\n but no more", yearStart(2003));
    writePicture("../outside.png", {4, 4}, yearStart(2004));
    decide(true);

    const struct {
        const char* identifier;
        ContentMode mode;
        std::optional<image::PixelSize> size;
    } cases[] = {
        {"wide.png", ContentMode::aspectFill, image::PixelSize{200, 100}},
        {"wide.png", ContentMode::aspectFit, image::PixelSize{100, 50}},
        {"small.png", ContentMode::aspectFill, image::PixelSize{40, 40}},  // never enlarged
        {"broken.png", ContentMode::aspectFill, std::nullopt},
        {"missing.png", ContentMode::aspectFill, std::nullopt},
        {"../outside.png", ContentMode::aspectFill, std::nullopt},  // outside the library
    };
    const auto mainThread = std::this_thread::get_id();
    std::vector<std::optional<image::PixelSize>> sizes(std::size(cases));
    int answers = 0;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        library.requestThumbnail(Photo{cases[i].identifier, 0}, {100, 100}, cases[i].mode,
                                 [&, i](std::optional<image::Image> thumbnail) {
                                     EXPECT_EQ(std::this_thread::get_id(), mainThread);
                                     if (thumbnail) {
                                         sizes[i] = thumbnail->bitmap().size();
                                     }
                                     ++answers;
                                 });
    }
    EXPECT_EQ(answers, 0) << "never before the request returns";
    ASSERT_TRUE(testing_support::runLoopUntil(
        loop, [&] { return answers == static_cast<int>(std::size(cases)); }));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(sizes[i], cases[i].size) << cases[i].identifier;
    }
    EXPECT_EQ(library.pendingThumbnails(), 0u);
}

TEST_F(PhotosTest, ACancelledThumbnailAndOneOfALibraryGoneAreNeverTold) {
    writePicture("a.png", {300, 300}, yearStart(2001));
    decide(true);
    // The work queue holds the decodes until the test lets them go.
    SerialQueue work("kavo.test.photos");
    Semaphore hold;
    work.async([&hold] { hold.wait(); });
    int told = 0;
    std::optional<std::uint64_t> last;
    {
        PicturesFolderLibrary gone(folder.path() / "Pictures", permissions, loop, work);
        const auto cancelled = gone.requestThumbnail(Photo{"a.png", 0}, {10, 10},
                                                     ContentMode::aspectFit,
                                                     [&](std::optional<image::Image>) { ++told; });
        gone.cancelThumbnail(cancelled);
        EXPECT_EQ(gone.pendingThumbnails(), 0u);
        gone.requestThumbnail(Photo{"a.png", 0}, {10, 10}, ContentMode::aspectFit,
                              [&](std::optional<image::Image>) { ++told; });
    }
    bool drained = false;
    hold.signal();
    work.async([&] { loop.post([&] { drained = true; }); });
    ASSERT_TRUE(testing_support::runLoopUntil(loop, [&] { return drained; }));
    loop.runUntilIdle();
    EXPECT_EQ(told, 0);
}

TEST(ThumbnailTest, MadeSmallerToFitOrFillNeverLarger) {
    const image::Image picture(image::Bitmap::filled({400, 300}, 0xffffffff, false));
    const struct {
        image::Size target;
        ContentMode mode;
        image::PixelSize expected;
    } cases[] = {
        {{100, 100}, ContentMode::aspectFit, {100, 75}},
        {{100, 100}, ContentMode::aspectFill, {133, 100}},
        {{200, 20}, ContentMode::aspectFill, {200, 150}},
        {{800, 800}, ContentMode::aspectFill, {400, 300}},
        {{0, 0}, ContentMode::aspectFit, {400, 300}},
        {{1, 1000}, ContentMode::aspectFit, {1, 1}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(thumbnailOf(picture, c.target, c.mode).bitmap().size(), c.expected)
            << c.target.width << "x" << c.target.height;
    }
    EXPECT_TRUE(thumbnailOf(image::Image(), {10, 10}, ContentMode::aspectFit).isNull());
}

TEST(MemoryPhotoLibraryTest, HoldsPhotosInMemoryAndAnswersOnTheNextTurn) {
    testing_support::TempDir folder;
    RunLoop loop{RunLoop::Clock::virtualTime};
    ScopedMainRunLoop mainLoop{loop};
    UserDefaults defaults{folder.path() / "defaults.plist"};
    ScriptedPermissionPrompt prompt;
    prompt.setAnswer(Feature::photos, true);
    Permissions permissions{defaults, prompt, [] { return false; }};
    MemoryPhotoLibrary library(permissions, loop);
    library.add(Photo{"old", 10}, image::Image(image::Bitmap::filled({50, 50}, 0xff000000, false)));
    library.add(Photo{"new", 20}, image::Image());
    library.requestAuthorization([](Decision) {});
    ASSERT_EQ(library.photos().size(), 2u);
    EXPECT_EQ(library.photos().front().identifier, "new");

    std::vector<std::optional<image::PixelSize>> told;
    for (const char* identifier : {"old", "new"}) {
        library.requestThumbnail(Photo{identifier, 0}, {25, 25}, ContentMode::aspectFit,
                                 [&](std::optional<image::Image> thumbnail) {
                                     told.push_back(thumbnail ? std::optional(thumbnail->bitmap().size())
                                                              : std::nullopt);
                                 });
    }
    EXPECT_TRUE(told.empty());
    loop.runUntilIdle();
    EXPECT_EQ(told, (std::vector<std::optional<image::PixelSize>>{image::PixelSize{25, 25},
                                                                 std::nullopt}));
    EXPECT_EQ(library.thumbnailsMade(), 2);
}

}  // namespace
