// Every component as a person would see it, one PNG each in the build's screenshots/ folder;
// a few are held against reference images within a tolerance. The find-my-phone overlay is
// drawn by its own test, over the alarm and link it needs. KAVO_UI_WRITE_REFERENCES=1
// writes those references anew (after a deliberate change of look).

#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>

#include "platform/image/QtBridge.h"
#include "store/TQActivityBar.h"
#include "ui/BNToastManager.h"
#include "ui/TQCustomAlertOverlay.h"
#include "ui/TQCustomNavigationViewController.h"
#include "ui/TQCustomTableViewCell.h"
#include "ui/TQHeaderFooterUtils.h"
#include "ui/TQInputTextTableViewCell.h"
#include "ui/TQLoadingView.h"
#include "ui/TQPopUpviewUtils.h"
#include "ui/TQWindowHost.h"
#include "ui/UiWorld.h"

namespace {

using platform::Value;
using platform::ui::Page;
using platform::ui::TableSection;
using ui_test::UiWorld;

platform::image::Image picture(int width, int height, QColor colour, QColor stripe) {
    QImage pixels(width, height, QImage::Format_ARGB32);
    pixels.fill(colour);
    for (int y = 0; y < height; y += 6) {
        for (int x = 0; x < width; ++x) {
            pixels.setPixelColor(x, y, stripe);
        }
    }
    return platform::image::imageOf(pixels);
}

class GalleryTest : public ::testing::Test {
protected:
    // The gallery draws with the real test font, so the texts measure as they render.
    void SetUp() override { world.window->show(); }

    // Saves the PNG; for the named few, holds it against the reference.
    void capture(QWidget& view, const std::string& name, bool reference = false) {
        QApplication::processEvents();
        UiWorld::shoot(view, name);
        if (!reference) {
            return;
        }
        const auto file = ui_test::referenceFolder() / (name + ".png");
        if (std::getenv("KAVO_UI_WRITE_REFERENCES") != nullptr) {
            ASSERT_TRUE(platform::ui::saveScreenshot(view, file));
            return;
        }
        const auto difference = platform::ui::compareWithReference(view, file, 40);
        ASSERT_TRUE(difference) << difference.error().message;
        EXPECT_TRUE(difference->sameSize) << name;
        EXPECT_LE(difference->differingShare, 0.01) << name;
    }

    UiWorld world;
    platform::ui::FontTextMetrics realMetrics;
    platform::ScopedInstall<platform::ui::TextMetrics> useRealMetrics{&realMetrics};
};

// A settings page: a grouped table of every cell type under a header and a footer.
class SettingsPage : public Page {
public:
    SettingsPage() : Page("TQSettingsViewController") {
        setTitle("Settings");
        addConstraint("verticalSpaceBottom", 0);
        table_ = new platform::ui::TableView(&contentView());
        std::vector<TableSection> sections(2);
        const std::string header = "Watch applications";
        sections[0].header = TQHeaderFooterUtils::generateFirstHeaderViewForText(header);
        sections[0].headerHeight = TQHeaderFooterUtils::getHeightForFirstHeaderViewWithText(header);
        const char* titles[] = {"About watch", "Clock style", "Notifications", "Auto update",
                                "Weather Plus", "Storage", "Find my watch"};
        for (int type = 0; type <= 6; ++type) {
            auto* cell = new TQCustomTableViewCell;
            cell->titleLabel().setText(titles[type]);
            cell->descriptionLabel().setText("Shown on the watch");
            cell->accessoryLabel().setText("1.2 GB");
            cell->buttonImage().setImage(picture(29, 29, QColor(255, 127, 0), QColor(255, 200, 120)));
            cell->setCellType(type);
            if (type == 2 || type == 6) {
                cell->setRowHeight(64);
            }
            if (type == 3) {
                cell->switchButton().setOn(true);
            }
            sections[0].cells.push_back(cell);
        }
        const std::string footer =
            "Applications update automatically while the phone is charging and on Wi-Fi.";
        sections[0].footer = TQHeaderFooterUtils::generateFooterViewForText(footer);
        sections[0].footerHeight = TQHeaderFooterUtils::getHeightForFooterViewWithText(footer);
        auto* dimmed = new TQCustomTableViewCell;
        dimmed->titleLabel().setText("Reactivation lock (dimmed)");
        dimmed->setCellType(0);
        dimmed->setDimmed(true);
        sections[1].header = TQHeaderFooterUtils::generateHeaderViewForText("Security");
        sections[1].headerHeight = TQHeaderFooterUtils::getHeightForHeaderViewWithText("Security");
        sections[1].cells.push_back(dimmed);
        table_->setSections(std::move(sections));
    }
    void layoutSubviews() override {
        table_->setFrame({0, 0, double(contentView().width()), double(contentView().height())});
    }

private:
    platform::ui::TableView* table_;
};

TEST_F(GalleryTest, TheRootNavigationWithTheActivityBar) {
    auto* nav = new TQCustomNavigationViewController(std::make_unique<Page>("TQViewController"));
    world.window->setRootView(nav);
    nav->pushPage(std::make_unique<SettingsPage>(), false);
    capture(*world.window, "root_navigation");
    world.center.post(TQActivityBar::kShow);
    world.center.post(TQActivityBar::kShowCancelButton);
    world.center.post(TQActivityBar::kProgress, nullptr, {},
                      Value{{TQActivityBar::kProgressTypeKey, 1U},
                            {TQActivityBar::kProgressValueKey, 0.5},
                            {TQActivityBar::kAppNameKey, "Weather Plus"}});
    world.loop.advance(0.3);
    capture(*world.window, "activity_bar", true);
}

TEST_F(GalleryTest, AlertsTheLoadingWindowAndBanners) {
    auto* nav = new TQCustomNavigationViewController(std::make_unique<SettingsPage>());
    world.window->setRootView(nav);
    TQWindowAppHost host(*world.window, world.host);
    const auto keep = host.showAlert(TQPopUpviewUtils::keepRunningKMAlert());
    capture(*world.window, "alert_keep_running", true);
    host.dismissAlert(keep);
    UiWorld::flushDeletes();
    host.showAlert(TQPopUpviewUtils::showUpdateKavoAlert());
    capture(*world.window, "alert_update");
    TQLoadingView loading(*world.window, world.loop);
    loading.showLoading();
    world.loop.advance(0.25);
    capture(*world.window, "loading_window");
    loading.hideLoading();
    BNToastManager banners(*world.window, world.loop);
    platform::Banner banner;
    banner.text = "The watch is disconnected.";
    banner.kind = platform::BannerKind::navigationBar;
    banner.backgroundColor = platform::Color{0.85, 0.2, 0.2, 1};
    banners.showBanner(banner, {});
    world.loop.advance(0.4);
    capture(*world.window, "banner");
}

TEST_F(GalleryTest, TheConnectingViewAndTheFindMyPhoneOverlayParts) {
    platform::ui::View popup;
    popup.setBackgroundColor({0.97, 0.97, 0.97, 1});
    popup.setCornerRadius(13);
    popup.setFrame({0, 0, 270, 90});
    TQPopUpviewUtils::connectingView(popup, "Connecting to the watch...", 0,
                                     platform::LayoutDirection::leftToRight);
    world.loop.advance(0.25);
    capture(popup, "connecting_view");
}

TEST_F(GalleryTest, CellsAndTextViews) {
    platform::ui::View sheet;
    sheet.setBackgroundColor({0.937, 0.937, 0.957, 1});
    sheet.setFrame({0, 0, 414, 260});
    const int types[] = {0, 1, 2};
    double y = 10;
    for (int type : types) {
        auto* cell = new TQInputTextTableViewCell;
        cell->setParent(&sheet);
        cell->setFrame({0, y, 414, 44});
        cell->titleLabel().setText(type == 2 ? "Add template" : "I'm driving, call you later.");
        cell->iconImage().setImage(picture(28, 28, QColor(0, 122, 255), QColor(120, 180, 255)));
        cell->titleInput().setText("On my way");
        cell->textFieldDidChange();
        cell->setInputCellType(type);
        y += 44;
    }
    auto* collection = new TQCollectionViewCell;
    collection->setParent(&sheet);
    collection->setFrame({10, y + 10, 90, 100});
    collection->appIcon().setImage(picture(60, 60, QColor(52, 199, 89), QColor(150, 230, 170)));
    collection->appName().setText("Weather");
    collection->appCon().setText("Installed");
    auto* text = new TQTextView;
    text->setParent(&sheet);
    text->setFrame({110, y + 10, 294, 80});
    text->setText("Open the Bluetooth settings of the phone and pair the watch's calling profile.");
    capture(sheet, "cells_input_collection_text", true);
}

TEST_F(GalleryTest, Controls) {
    platform::ui::View sheet;
    sheet.setBackgroundColor({1, 1, 1, 1});
    sheet.setFrame({0, 0, 320, 200});
    auto* button = new platform::ui::Button(&sheet);
    button->setFrame({10, 10, 140, 40});
    button->setTitle("Button");
    button->setImage(platform::ui::Button::State::normal,
                     picture(140, 40, QColor(230, 240, 255), QColor(210, 225, 250)));
    auto* on = new platform::ui::Switch(&sheet);
    on->setFrame({170, 14, 51, 31});
    on->setOn(true);
    auto* off = new platform::ui::Switch(&sheet);
    off->setFrame({240, 14, 51, 31});
    auto* progress = new platform::ui::ProgressBar(&sheet);
    progress->setFrame({10, 70, 300, 4});
    progress->setProgress(0.65, false);
    auto* spinner = new platform::ui::Spinner(&sheet);
    spinner->setFrame({10, 90, 37, 37});
    spinner->setColor({0.4, 0.4, 0.4, 1});
    spinner->startAnimating();
    auto* field = new platform::ui::TextField(&sheet);
    field->setFrame({60, 95, 250, 30});
    field->setPlaceholder("Template text");
    auto* label = new platform::ui::Label(&sheet);
    label->setFrame({10, 140, 300, 50});
    label->setNumberOfLines(0);
    label->setFontSize(15);
    label->setText("A label that wraps onto a second line when its text is long enough.");
    world.loop.advance(0.25);
    capture(sheet, "controls");
}

}  // namespace
