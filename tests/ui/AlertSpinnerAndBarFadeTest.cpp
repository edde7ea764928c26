#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/ui/Animator.h"
#include "platform/ui/Window.h"
#include "store/TQActivityBar.h"
#include "ui/TQCustomNavigationViewController.h"
#include "ui/TQLoadingView.h"
#include "ui/TQPopUpviewUtils.h"
#include "ui/UiWorld.h"

namespace {

using platform::ui::Rect;
using ui_test::UiWorld;

Rect inWindow(const QWidget& widget, const QWidget& window) {
    const QPoint origin = widget.mapTo(&window, QPoint(0, 0));
    return {double(origin.x()), double(origin.y()), double(widget.width()), double(widget.height())};
}

bool overlaps(const Rect& a, const Rect& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height &&
           b.y < a.y + a.height;
}

TEST(AlertSpinnerTest, TheConnectingSpinnerSitsInTheAlertsOwnBox) {
    UiWorld world;
    world.window->show();
    const struct {
        const char* title;
        const char* message;
    } alerts[] = {
        {"", "\r\r"},
        {"Connecting", "Keep the watch close to the phone until it connects."},
    };
    for (const auto& a : alerts) {
        SCOPED_TRACE(a.message);
        auto* alert = new platform::ui::AlertView(a.title, a.message, {"Cancel"});
        world.window->addOverlay(alert, platform::ui::Layer::alert);
        TQPopUpviewUtils::connectingView(*alert, "Connecting to the watch...");
        auto* spinner = alert->findChild<platform::ui::Spinner*>("connectingSpinner");
        auto* text = alert->findChild<platform::ui::Label*>("connectingLabel");
        ASSERT_NE(spinner, nullptr);
        ASSERT_NE(text, nullptr);
        const Rect box = inWindow(alert->box(), *world.window);
        for (const QWidget* part : {static_cast<const QWidget*>(spinner),
                                    static_cast<const QWidget*>(text)}) {
            const Rect r = inWindow(*part, *world.window);
            EXPECT_GE(r.x, box.x);
            EXPECT_LE(r.x + r.width, box.x + box.width);
            EXPECT_GE(r.y, box.y);
            for (const char* name : {"alertTitle", "alertMessage", "alertButton0"}) {
                const auto* other = alert->findChild<QWidget*>(name);
                if (other != nullptr && other->height() > 0) {
                    EXPECT_FALSE(overlaps(r, inWindow(*other, *world.window))) << name;
                }
            }
        }
        world.loop.advance(0.25);
        UiWorld::shoot(*world.window, a.title[0] == 0 ? "alert_connecting_blank"
                                                      : "alert_connecting_with_text");
        alert->dismiss();
        UiWorld::flushDeletes();
    }
}

TEST(AlertSpinnerTest, TheLoadingSpinnerOverAnAlertSitsInABoxOfItsOwn) {
    UiWorld world;
    world.window->show();
    auto* alert = new platform::ui::AlertView("Delete the template?", "", {"Cancel", "Delete"});
    world.window->addOverlay(alert, platform::ui::Layer::alert);
    TQLoadingView loading(*world.window, world.loop);
    loading.showLoading();
    world.loop.advance(0.25);
    auto& content = *loading.content();
    ASSERT_EQ(content.spinner().parentWidget(), &content.box())
        << "the spinner is drawn on its box, not on what lies under the window";
    const Rect box = inWindow(content.box(), *world.window);
    const Rect spinner = inWindow(content.spinner(), *world.window);
    EXPECT_GE(spinner.x, box.x);
    EXPECT_GE(spinner.y, box.y);
    EXPECT_LE(spinner.x + spinner.width, box.x + box.width);
    EXPECT_LE(spinner.y + spinner.height, box.y + box.height);
    ASSERT_TRUE(content.box().backgroundColor().has_value());
    EXPECT_GE(content.box().backgroundColor()->alpha, 0.8) << "the text under it does not show";
    EXPECT_DOUBLE_EQ(box.x + box.width / 2, 207);
    UiWorld::shoot(*world.window, "loading_over_alert");
}

// Keeps each animation for the test to step by hand, as a display would frame by frame.
class SteppedAnimator final : public platform::ui::Animator {
public:
    void animate(platform::ui::Animation animation) override {
        animations.push_back(std::move(animation));
    }
    std::vector<platform::ui::Animation> animations;
};

TEST(ActivityBarFadeTest, AHideDuringTheFadeInNeverShowsTheBarAtFullOpacity) {
    UiWorld world;
    SteppedAnimator stepped;
    platform::ScopedInstall<platform::ui::Animator> install(&stepped);
    auto* nav = new TQCustomNavigationViewController(std::make_unique<platform::ui::Page>("Home"));
    world.window->setRootView(nav);
    world.window->show();
    auto& bar = nav->activityBar();
    stepped.animations.clear();

    world.center.post(TQActivityBar::kShow, nullptr, {}, {});
    ASSERT_EQ(stepped.animations.size(), 1U);
    stepped.animations[0].step(0.0);
    EXPECT_EQ(bar.alpha(), 0.0);
    stepped.animations[0].step(0.4);
    const double midway = bar.alpha();
    EXPECT_GT(midway, 0.0);
    EXPECT_LT(midway, 1.0);

    world.center.post(TQActivityBar::kHide, nullptr, {}, {});
    ASSERT_EQ(stepped.animations.size(), 2U);
    // What a display shows frame by frame, the late fade-in's frames included.
    double brightest = 0;
    for (double t : {0.0, 0.25, 0.5, 0.75, 1.0}) {
        stepped.animations[0].step(t);
        brightest = std::max(brightest, bar.alpha());
        stepped.animations[1].step(t);
        brightest = std::max(brightest, bar.alpha());
    }
    EXPECT_LE(brightest, midway) << "the fade-out starts where the fade-in stood";
    stepped.animations[0].completion(true);
    EXPECT_FALSE(bar.isHidden()) << "the stale fade-in's end changes nothing";
    stepped.animations[1].completion(true);
    EXPECT_TRUE(bar.isHidden());
    EXPECT_EQ(bar.alpha(), 1.0) << "ready to show at full opacity next time";
}

}  // namespace
