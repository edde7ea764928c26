#include <gtest/gtest.h>

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <string>
#include <vector>

#include "platform/image/NamedImage.h"
#include "platform/image/QtBridge.h"
#include "ui/UiWorld.h"

namespace {

using platform::image::Image;
using platform::image::Size;

// Every picture the screens name, with the size it shows at and where.
struct Asset {
    std::string name;
    Size size;
    const char* where;
};

std::vector<Asset> catalogue() {
    std::vector<Asset> assets = {
        {"kavomanager_home_main_bg_01", {32, 32}, "home menu: notifications row, behind its icon"},
        {"kavomanager_home_main_bg_02", {32, 32}, "home menu: settings row"},
        {"kavomanager_home_main_bg_03", {32, 32}, "home menu: apps layout and find rows"},
        {"kavomanager_home_main_bg_04", {32, 32}, "home menu: store row"},
        {"kavomanager_home_main_notifications_ic", {32, 32}, "home menu icon"},
        {"kavomanager_home_main_appslayout_ic", {32, 32}, "home menu icon"},
        {"kavomanager_home_main_settings_ic", {32, 32}, "home menu icon"},
        {"kavomanager_home_main_findmykavo_ic", {32, 32}, "home menu icon"},
        {"kavomanager_home_main_kavoapps_ic", {32, 32}, "home menu icon"},
        {"km_home_main_notifications_ic_dim", {32, 32}, "home menu, row disabled"},
        {"km_home_main_appslayout_ic_dim", {32, 32}, "home menu, row disabled"},
        {"km_home_main_settings_ic_dim", {32, 32}, "home menu, row disabled"},
        {"km_home_main_findmykavo_ic_dim", {32, 32}, "home menu, row disabled"},
        {"km_home_main_kavoapps_ic_dim", {32, 32}, "home menu, row disabled"},
        {"kavomanager_featured_card_bg", {60, 60}, "featured row: icon placeholder"},
        {"recent_app_icon", {56, 56}, "apps layout: centre of the first page"},
        {"minus", {25, 25}, "blocked apps: locked phone application row"},
        {"km_list_btn_add_normal", {24, 24}, "buddy and template lists: add row"},
        {"km_list_btn_add_disabled", {24, 24}, "buddy and template lists: add row, full"},
        {"qrcode_focus_frame", {196, 196}, "QR code reader: over the camera"},
        {"fmk_ic_kavo01", {200, 200}, "find my watch: radar, idle"},
        {"fmk_ic_kavo02", {200, 200}, "find my watch: radar, ringing"},
        {"fmk_radar_sweep", {100, 100}, "find my watch and find popup: turning sweep"},
        {"kavomanager_help_image02", {280, 134}, "find-my-phone overlay: illustration"},
        {"kavomanager_welcome_image", {240, 180}, "welcome page (text of \"WelcomeImage\")"},
        {"km_check_box_off", {24, 24}, "permissions, consent, unlock: check box"},
        {"km_check_box_on", {24, 24}, "check box, ticked"},
        {"km_check_box_off_dim", {24, 24}, "check box, disabled"},
        {"km_check_box_on_dim", {24, 24}, "check box, ticked and disabled"},
        {"km_photo_check", {24, 24}, "photo picker: chosen photo"},
        {"km_list_arrow_down", {16, 16}, "about page: licence row arrow"},
        {"kavomanager_esim_guide_image", {320, 176}, "eSIM registration guide"},
        {"kavomanager_esim_register_image", {320, 176}, "eSIM register page"},
    };
    for (int i = 30; i <= 41; ++i) {
        assets.push_back(
            {"loading_" + std::to_string(i), {80, 10}, "find-my-phone overlay frames"});
    }
    for (int i = 1; i <= 8; ++i) {
        assets.push_back({"350_" + std::to_string(i), {40, 40}, "connecting page animation"});
    }
    return assets;
}

bool hasInk(const Image& image) {
    const auto& pixels = image.bitmap();
    for (int y = 0; y < pixels.height(); ++y) {
        for (int x = 0; x < pixels.width(); ++x) {
            if ((pixels.pixel(x, y) >> 24) != 0) {
                return true;
            }
        }
    }
    return false;
}

TEST(NamedImagesTest, TheCatalogueAndTheDrawingsAreTheSameNames) {
    std::vector<std::string> listed;
    for (const auto& asset : catalogue()) {
        listed.push_back(asset.name);
    }
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, platform::image::namedImageNames());
}

TEST(NamedImagesTest, EveryPictureIsDrawnForItsSizeAndShowsSomething) {
    for (const auto& asset : catalogue()) {
        SCOPED_TRACE(asset.name);
        EXPECT_EQ(platform::image::namedImageSize(asset.name), asset.size);
        const Image image = platform::image::namedImage(asset.name + ".png", asset.size, 2);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), asset.size);
        EXPECT_TRUE(hasInk(image));
    }
}

// One sheet with every picture, on white and on the orange bar, for a person to look at.
TEST(NamedImagesTest, ContactSheet) {
    ui_test::application();
    constexpr int kWidth = 1400;
    constexpr int kPad = 12;
    constexpr int kLabel = 16;
    const QColor orange(249, 168, 37);
    struct Placed {
        Asset asset;
        QRect cell;
    };
    std::vector<Placed> placed;
    int x = kPad;
    int y = kPad;
    int rowHeight = 0;
    QFont font;
    font.setPixelSize(10);
    const QFontMetrics metrics(font);
    for (const auto& asset : catalogue()) {
        const int w =
            std::max(static_cast<int>(asset.size.width) * 2 + 3 * kPad,
                     metrics.horizontalAdvance(QString::fromStdString(asset.name)) + kPad);
        const int h = static_cast<int>(asset.size.height) + 2 * kPad + kLabel;
        if (x + w > kWidth) {
            x = kPad;
            y += rowHeight + kPad;
            rowHeight = 0;
        }
        placed.push_back({asset, QRect(x, y, w, h)});
        x += w + kPad;
        rowHeight = std::max(rowHeight, h);
    }
    QImage sheet(kWidth, y + rowHeight + kPad, QImage::Format_ARGB32);
    sheet.fill(QColor(230, 230, 230));
    QPainter painter(&sheet);
    painter.setFont(font);
    for (const auto& [asset, cell] : placed) {
        const int half = cell.width() / 2;
        painter.fillRect(cell.x(), cell.y(), half, cell.height() - kLabel, Qt::white);
        painter.fillRect(cell.x() + half, cell.y(), cell.width() - half, cell.height() - kLabel,
                         orange);
        const Image image = platform::image::namedImage(asset.name);
        ASSERT_FALSE(image.isNull()) << asset.name;
        const QImage& pixels = platform::image::qImageOf(image.bitmap());
        const int top = cell.y() + kPad;
        painter.drawImage(cell.x() + (half - pixels.width()) / 2, top, pixels);
        painter.drawImage(cell.x() + half + (cell.width() - half - pixels.width()) / 2, top,
                          pixels);
        painter.setPen(Qt::black);
        painter.drawText(QRect(cell.x(), cell.bottom() - kLabel + 2, cell.width(), kLabel),
                         Qt::AlignCenter, QString::fromStdString(asset.name));
    }
    painter.end();
    std::filesystem::create_directories(ui_test::screenshotFolder());
    const auto path = ui_test::screenshotFolder() / "named_images.png";
    EXPECT_TRUE(sheet.save(QString::fromStdString(path.string())));
}

}  // namespace
