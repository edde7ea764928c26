#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QTransform>
#include <string>

#include "QrPictures.h"
#include "platform/image/QtBridge.h"
#include "platform/ui/camera/QrDecoding.h"

namespace {

using platform::camera::decodeQrCode;
using platform::camera::LuminanceFrame;
using platform::camera::luminanceOf;
using platform::image::imageOf;

std::optional<std::string> decoded(const QImage& picture) {
    return decodeQrCode(luminanceOf(imageOf(picture)));
}

// A camera sees the code small, turned and in colour somewhere in a larger picture.
QImage filmed(const QImage& code, double degrees) {
    QImage scene(640, 480, QImage::Format_RGB32);
    scene.fill(QColor(200, 190, 170));
    const QImage turned = code.transformed(QTransform().rotate(degrees));
    QPainter painter(&scene);
    painter.drawImage(QPointF(300 - turned.width() / 2.0, 220 - turned.height() / 2.0), turned);
    return scene;
}

TEST(QrDecodingTest, GivesTheTextOfACodeExactlyAsEncoded) {
    const std::string texts[] = {
        "LPA:1$smdp.example.com$04386-AGYFT-A74Y8-3F815",
        "  spaces kept, and a trailing newline\n",
        "Z\xC3\xBCrich \xE2\x98\x8E",  // UTF-8 beyond ASCII
        std::string(600, 'x') + "end",
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.substr(0, 40));
        EXPECT_EQ(decoded(camera_test::qrPicture(text)), text);
    }
}

TEST(QrDecodingTest, ReadsACodeFilmedSmallAndTurnedInAColourPicture) {
    const QImage code = camera_test::qrPicture("voucher 7", 160);
    for (const double degrees : {0.0, 90.0, 180.0, 15.0}) {
        SCOPED_TRACE(degrees);
        EXPECT_EQ(decoded(filmed(code, degrees)), "voucher 7");
    }
}

TEST(QrDecodingTest, FindsNothingWhereThereIsNoCode) {
    QImage white(320, 240, QImage::Format_RGB32);
    white.fill(Qt::white);
    QImage stripes(320, 240, QImage::Format_RGB32);
    for (int x = 0; x < stripes.width(); ++x) {
        for (int y = 0; y < stripes.height(); ++y) {
            stripes.setPixel(x, y, (x / 7) % 2 ? 0xFF000000 : 0xFFFFFFFF);
        }
    }
    const QImage code = camera_test::qrPicture("half a code");
    const QImage half = code.copy(0, 0, code.width() / 2, code.height());
    for (const QImage* picture : std::initializer_list<const QImage*>{&white, &stripes, &half}) {
        EXPECT_EQ(decoded(*picture), std::nullopt);
    }
    EXPECT_EQ(decodeQrCode(luminanceOf({})), std::nullopt);
    EXPECT_TRUE(luminanceOf({}).isEmpty());
}

TEST(QrDecodingTest, ReadsNoFurtherThanTheFrameHolds) {
    const LuminanceFrame frame = luminanceOf(imageOf(camera_test::qrPicture("short")));
    ASSERT_EQ(decodeQrCode(frame), "short");
    LuminanceFrame cut = frame;
    cut.pixels.resize(cut.pixels.size() - 1);
    EXPECT_EQ(decodeQrCode(cut), std::nullopt);
    LuminanceFrame negative = frame;
    negative.width = -negative.width;
    EXPECT_EQ(decodeQrCode(negative), std::nullopt);
}

TEST(QrDecodingTest, PacksRowsThatQtPads) {
    QImage odd(13, 3, QImage::Format_Grayscale8);  // rows padded to 16 bytes
    for (int y = 0; y < odd.height(); ++y) {
        for (int x = 0; x < odd.width(); ++x) {
            odd.scanLine(y)[x] = static_cast<uchar>(y * 20 + x);
        }
    }
    const LuminanceFrame frame = luminanceOf(imageOf(odd));
    ASSERT_EQ(frame.width, 13);
    ASSERT_EQ(frame.height, 3);
    ASSERT_EQ(frame.pixels.size(), 39u);
    EXPECT_EQ(frame.pixels[13], 20);
    EXPECT_EQ(frame.pixels[38], 52);
}

}  // namespace
