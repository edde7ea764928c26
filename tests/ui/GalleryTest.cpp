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
#include "ui/BNToastView.h"
#include "ui/TSToast.h"
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

namespace {

// A page with something on it, for the banners' strip and the toasts to stand over.
platform::ui::View* samplePage() {
    auto* page = new platform::ui::View;
    page->setBackgroundColor({0.937, 0.937, 0.957, 1});
    for (int row = 0; row < 6; ++row) {
        auto* label = new platform::ui::Label(page);
        label->setText("Row " + std::to_string(row + 1) + " of the page under the banner");
        label->setFontSize(15);
        label->setFrame({16, 20.0 + row * 44, 380, 44});
    }
    return page;
}

TEST_F(GalleryTest, BannersOfEachStyle) {
    world.window->setRootView(samplePage());
    BNToastManager banners(*world.window, world.loop);
    const auto showAndShoot = [&](BNToastOptions options, const std::string& name) {
        banners.showNotificationWithOptions(std::move(options), {});
        world.loop.advance(0.4);
        capture(*world.window, name);
        banners.dismissNotification(false);
    };
    const auto k = [](std::string_view key) { return std::string(key); };
    showAndShoot({{k(kBNToastTextKey), std::string("Status-bar banner")}}, "banner_status_bar");
    showAndShoot(BNToastOptionsFromBanner([] {
                     platform::Banner error;
                     error.text = "The watch is disconnected.";
                     error.backgroundColor = platform::Color{237 / 255.0, 110 / 255.0, 43 / 255.0, 1};
                     error.kind = platform::BannerKind::navigationBar;
                     return error;
                 }()),
                 "banner_navigation_bar");
    showAndShoot({{k(kBNToastTextKey), std::string("Installing Weather Plus")},
                  {k(kBNToastSubtitleTextKey), std::string("The watch restarts the app when done")},
                  {k(kBNToastNotificationTypeKey), std::int64_t{BNToastTypeCustom}},
                  {k(kBNToastNotificationPreferredHeightKey), std::int64_t{90}},
                  {k(kBNToastNotificationPresentationTypeKey), std::int64_t{BNToastPresentationCover}},
                  {k(kBNToastFontKey), BNToastFont{"", 17}},
                  {k(kBNToastSubtitleFontKey), BNToastFont{"", 13}},
                  {k(kBNToastTextAlignmentKey), std::int64_t{0}},
                  {k(kBNToastSubtitleTextAlignmentKey), std::int64_t{0}},
                  {k(kBNToastBackgroundColorKey), platform::ui::Color{0.16, 0.45, 0.85, 1}},
                  {k(kBNToastImageKey), picture(40, 40, QColor(255, 255, 255), QColor(200, 220, 255))},
                  {k(kBNToastShowActivityIndicatorKey), true},
                  {k(kBNToastActivityIndicatorAlignmentKey), std::int64_t{BNToastAlignmentRight}}},
                 "banner_custom_cover");
    showAndShoot({{k(kBNToastTextKey), std::string("Shadowed text")},
                  {k(kBNToastSubtitleTextKey), std::string("and a shadowed subtitle")},
                  {k(kBNToastNotificationTypeKey), std::int64_t{BNToastTypeCustom}},
                  {k(kBNToastNotificationPreferredHeightKey), std::int64_t{80}},
                  {k(kBNToastFontKey), BNToastFont{"", 24}},
                  {k(kBNToastSubtitleFontKey), BNToastFont{"", 15}},
                  {k(kBNToastBackgroundColorKey), platform::ui::Color{0.35, 0.6, 0.9, 1}},
                  {k(kBNToastTextShadowColorKey), platform::ui::Color{0.05, 0.1, 0.3, 0.8}},
                  {k(kBNToastTextShadowOffsetKey), platform::ui::Size{2, 2}},
                  {k(kBNToastSubtitleTextShadowColorKey), platform::ui::Color{0.9, 0.2, 0.1, 1}},
                  {k(kBNToastSubtitleTextShadowOffsetKey), platform::ui::Size{1, 1}}},
                 "banner_text_shadow");
    // Half-way through a push: the banner comes down while the strip of the page goes.
    banners.showNotificationWithOptions({{k(kBNToastTextKey), std::string("Pushing the page")},
                                         {k(kBNToastNotificationTypeKey), std::int64_t{1}},
                                         {k(kBNToastBackgroundColorKey), platform::ui::Color{0.2, 0.6, 0.3, 1}}},
                                        {});
    banners.notification()->notificationView().setFrame({0, -32, 414, 65});
    banners.notification()->existingStatusBarView()->setFrame({0, 32, 414, 64});
    capture(*world.window, "banner_push_midway");
    banners.dismissAllNotifications(false);
}

TEST_F(GalleryTest, ToastsInEachPosition) {
    auto* page = samplePage();
    world.window->setRootView(page);
    const struct {
        TSToastPosition position;
        const char* name;
    } positions[] = {{std::string(TSToastPositionTop), "toast_top"},
                     {std::string(TSToastPositionCenter), "toast_center"},
                     {std::string(TSToastPositionBottom), "toast_bottom"},
                     {platform::ui::Point{140, 420}, "toast_point"}};
    for (const auto& p : positions) {
        TSToast::makeToast(*page, "Page 2", 1.0, p.position, "Applications",
                           picture(80, 80, QColor(255, 160, 60), QColor(255, 220, 180)), std::nullopt,
                           {});
        world.loop.advance(0.2);
        capture(*world.window, p.name);
        world.loop.advance(1.2);
    }
    auto shadowed = TSToastStyle::initWithDefaultStyle();
    shadowed.displayShadow = true;
    shadowed.shadowColor = platform::ui::Color{0, 0, 0, 1};
    TSToast::makeToast(*page, "Page 3", 1.0, std::string(TSToastPositionCenter), "Shadow", std::nullopt,
                       shadowed, {});
    world.loop.advance(0.2);
    capture(*world.window, "toast_shadow", true);
    world.loop.advance(1.2);
    TSToast::makeToast(*page, "A message toast without a title, long enough to wrap onto lines", 1.0,
                       std::string(TSToastPositionBottom));
    TSToast::makeToastActivity(*page, std::string(TSToastPositionCenter));
    world.loop.advance(0.25);
    capture(*world.window, "toast_activity");
}

}  // namespace
