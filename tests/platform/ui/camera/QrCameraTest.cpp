#include <gtest/gtest.h>

#include <QImage>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "QrPictures.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Controls.h"
#include "platform/ui/camera/ImageFileCamera.h"
#include "platform/ui/camera/SystemCamera.h"
#include "support/LoopWait.h"
#include "support/TempDir.h"
#include "ui/support/OffscreenApplication.h"

namespace {

using platform::Error;
using platform::camera::CameraError;
using platform::camera::ImageFileCamera;
using platform::camera::QrCamera;
using platform::camera::QrCodeReader;
using platform::camera::SystemCamera;

constexpr const char* kVoucher = "LPA:1$smdp.example.com$K2-1Q7PH-8RYWT";

class QrCameraTest : public ::testing::Test {
protected:
    QrCameraTest() {
        ui_test::application();
        qrFile = camera_test::savePicture(camera_test::qrPicture(kVoucher), temp.path() / "qr.png");
        QImage white(320, 240, QImage::Format_RGB32);
        white.fill(Qt::white);
        blankFile = camera_test::savePicture(white, temp.path() / "blank.png");
    }

    QrCamera::Handlers recording() {
        return {[this](const std::string& text) {
                    codes.push_back(text);
                    threads.push_back(std::this_thread::get_id());
                },
                [this](const Error& error) { failures.push_back(error); }};
    }
    bool filmed(const std::filesystem::path& file) {
        const auto taken = camera.film(file);
        EXPECT_TRUE(taken.ok()) << (taken.ok() ? "" : taken.error().message);
        return taken.ok() && *taken;
    }
    // Drives the loop until that many frames came back from the reader's queue.
    void waitForFramesRead(std::uint64_t count) {
        ASSERT_TRUE(testing_support::runLoopUntil(
            loop, [&] { return camera.reader().framesRead() >= count; }));
        ASSERT_EQ(camera.reader().framesRead(), count);
    }

    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop mainLoop{loop};
    testing_support::TempDir temp;
    std::filesystem::path qrFile;
    std::filesystem::path blankFile;
    ImageFileCamera camera{loop};
    std::vector<std::string> codes;
    std::vector<std::thread::id> threads;
    std::vector<Error> failures;
};

TEST_F(QrCameraTest, DeliversTheCodesTextOnceOnTheLoopsThread) {
    ASSERT_TRUE(camera.start(recording()).ok());
    ASSERT_TRUE(filmed(qrFile));
    waitForFramesRead(1);
    ASSERT_EQ(codes, std::vector<std::string>{kVoucher});
    EXPECT_EQ(threads.front(), std::this_thread::get_id());
    loop.runUntilIdle();
    EXPECT_EQ(codes.size(), 1u);
    EXPECT_FALSE(camera.reader().isArmed());
}

TEST_F(QrCameraTest, ALatchedReaderDeliversAnIdenticalFrameOnlyOnce) {
    ASSERT_TRUE(camera.start(recording()).ok());
    // Both frames are in hand before either comes back, as frames queued behind the first
    // code are on a camera.
    ASSERT_TRUE(filmed(qrFile));
    ASSERT_TRUE(filmed(qrFile));
    waitForFramesRead(2);
    EXPECT_EQ(codes.size(), 1u);
    // Latched: the same picture again is not even read.
    EXPECT_FALSE(filmed(qrFile));
    loop.runUntilIdle();
    EXPECT_EQ(codes.size(), 1u);

    // Coming back to the reader starts it again, re-armed.
    camera.stop();
    ASSERT_TRUE(camera.start(recording()).ok());
    ASSERT_TRUE(filmed(qrFile));
    waitForFramesRead(3);
    EXPECT_EQ(codes, (std::vector<std::string>{kVoucher, kVoucher}));
}

TEST_F(QrCameraTest, AFrameWithoutACodeDeliversNothingAndReadingGoesOn) {
    ASSERT_TRUE(camera.start(recording()).ok());
    ASSERT_TRUE(filmed(blankFile));
    waitForFramesRead(1);
    EXPECT_TRUE(codes.empty());
    EXPECT_TRUE(camera.reader().isArmed());

    ASSERT_TRUE(filmed(qrFile));
    waitForFramesRead(2);
    EXPECT_EQ(codes, std::vector<std::string>{kVoucher});
}

TEST_F(QrCameraTest, AStoppedCameraDeliversNothingOfTheFrameItWasReading) {
    ASSERT_TRUE(camera.start(recording()).ok());
    ASSERT_TRUE(filmed(qrFile));
    camera.stop();
    waitForFramesRead(1);
    EXPECT_TRUE(codes.empty());
    EXPECT_FALSE(filmed(qrFile));
}

TEST_F(QrCameraTest, LetsGoOfFramesBeyondThoseInHand) {
    ASSERT_TRUE(camera.start(recording()).ok());
    for (int i = 0; i < QrCodeReader::kFramesInHand; ++i) {
        ASSERT_TRUE(filmed(blankFile));
    }
    EXPECT_FALSE(filmed(qrFile));
    waitForFramesRead(QrCodeReader::kFramesInHand);
    EXPECT_TRUE(codes.empty());
    EXPECT_TRUE(filmed(qrFile));
}

TEST_F(QrCameraTest, ThePreviewShowsWhatIsFilmedUntilTheCameraStops) {
    platform::ui::ImageView preview;
    camera.setPreview(&preview);
    ASSERT_TRUE(camera.start(recording()).ok());
    ASSERT_TRUE(filmed(blankFile));
    EXPECT_EQ(preview.image().bitmap().size(), (platform::image::PixelSize{320, 240}));
    camera.stop();
    EXPECT_TRUE(preview.image().isNull());
    waitForFramesRead(1);
}

TEST_F(QrCameraTest, APreviewThatWentFirstIsLeftAlone) {
    auto preview = std::make_unique<platform::ui::ImageView>();
    camera.setPreview(preview.get());
    preview.reset();
    ASSERT_TRUE(camera.start(recording()).ok());
    ASSERT_TRUE(filmed(qrFile));
    camera.stop();
    waitForFramesRead(1);
}

TEST_F(QrCameraTest, WithoutACameraNothingStarts) {
    ImageFileCamera none(loop, /*available=*/false);
    SystemCamera unplugged(loop, "");
    for (QrCamera* absent : std::initializer_list<QrCamera*>{&none, &unplugged}) {
        EXPECT_FALSE(absent->isAvailable());
        const auto started = absent->start(recording());
        ASSERT_FALSE(started.ok());
        EXPECT_EQ(started.error().domain, "camera");
        EXPECT_EQ(started.error().code, static_cast<long>(CameraError::unavailable));
        EXPECT_FALSE(absent->isRunning());
        absent->stop();  // as a page leaving does; harmless
    }
    const auto taken = none.film(qrFile);
    ASSERT_TRUE(taken.ok());
    EXPECT_FALSE(*taken);
    EXPECT_EQ(none.startCount(), 0);
}

TEST_F(QrCameraTest, APictureThatCannotBeReadIsAnErrorAndChangesNothing) {
    ASSERT_TRUE(camera.start(recording()).ok());
    std::ofstream(temp.path() / "not-a-picture.png") << "plain text";
    for (const char* name : {"missing.png", "not-a-picture.png"}) {
        const auto taken = camera.film(temp.path() / name);
        ASSERT_FALSE(taken.ok()) << name;
        EXPECT_EQ(taken.error().code, static_cast<long>(CameraError::unreadable));
        EXPECT_NE(taken.error().message.find(name), std::string::npos);
    }
    EXPECT_TRUE(camera.isRunning());
    ASSERT_TRUE(filmed(qrFile));
    waitForFramesRead(1);
    EXPECT_EQ(codes.size(), 1u);
}

TEST_F(QrCameraTest, ACameraThatStopsByItselfSaysWhyAndReadsNoMore) {
    ASSERT_TRUE(camera.start(recording()).ok());
    ASSERT_TRUE(filmed(qrFile));
    camera.fail("The camera was unplugged");
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures.front().code, static_cast<long>(CameraError::failed));
    EXPECT_EQ(failures.front().message, "The camera was unplugged");
    EXPECT_FALSE(camera.isRunning());
    waitForFramesRead(1);
    EXPECT_TRUE(codes.empty());
}

TEST_F(QrCameraTest, AHandlerMayEndTheCameraThatCalledIt) {
    auto owned = std::make_unique<ImageFileCamera>(loop);
    std::string seen;
    ASSERT_TRUE(owned
                    ->start({[&](const std::string& text) {
                                 seen = text;
                                 owned.reset();  // the page goes with its camera
                             },
                             {}})
                    .ok());
    ASSERT_TRUE(*owned->film(qrFile));
    ASSERT_TRUE(testing_support::runLoopUntil(loop, [&] { return owned == nullptr; }));
    EXPECT_EQ(seen, kVoucher);
}

}  // namespace

namespace {

TEST_F(QrCameraTest, TheDefaultCameraIsAvailableExactlyWhenTheDesktopNamesOne) {
    const std::string id = SystemCamera::defaultDeviceId();
    SystemCamera system(loop, id);
    EXPECT_EQ(system.isAvailable(), !id.empty());
    if (id.empty()) {
        EXPECT_FALSE(system.start(recording()).ok());
    }
}

}  // namespace
