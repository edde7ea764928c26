#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "store/TQActivityBar.h"
#include "ui/TQCustomNavigationViewController.h"
#include "ui/UiWorld.h"

namespace {

using platform::Value;
using platform::ui::Page;
using ui_test::UiWorld;

// A page that ends above the activity bar and may answer the back button.
class BottomPage : public Page {
public:
    explicit BottomPage(std::string name, std::optional<bool> answer = std::nullopt)
        : Page(std::move(name)), answer_(answer) {
        setTitle(className());
        addConstraint("verticalSpaceTop", 7);
        addConstraint("verticalSpaceBottom", 0);
    }
    std::optional<bool> shouldPopViewController() override {
        ++asked;
        return answer_;
    }
    [[nodiscard]] double bottom() { return constraints()[1].constant; }
    int asked = 0;

private:
    std::optional<bool> answer_;
};

class RootNavigationTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto root = std::make_unique<BottomPage>("TQViewController");
        home = root.get();
        nav = new TQCustomNavigationViewController(std::move(root));
        world.window->setRootView(nav);
        world.window->show();
    }
    void post(const char* name, Value userInfo = {}) {
        world.center.post(name, nullptr, {}, std::move(userInfo));
    }
    static Value progress(Value type, Value value, Value name) {
        return Value{{TQActivityBar::kProgressTypeKey, std::move(type)},
                     {TQActivityBar::kProgressValueKey, std::move(value)},
                     {TQActivityBar::kAppNameKey, std::move(name)}};
    }
    TQActivityBarView& bar() { return nav->activityBar(); }
    bool cancelShown() {
        return !bar().cancelButton().isHidden() && bar().cancelButton().isEnabled();
    }

    UiWorld world;
    TQCustomNavigationViewController* nav = nullptr;
    BottomPage* home = nullptr;
};

TEST_F(RootNavigationTest, ARecordedInstallationDrivesTheBar) {
    struct Step {
        const char* name;
        Value userInfo;
        bool shown;
        std::string text;
        double progress;
        bool cancel;
    };
    const std::string downloading50 = "Downloading Weather Plus\u2026 50.0 %";
    const Step steps[] = {
        {TQActivityBar::kShow, {}, true, "", 0, false},
        {TQActivityBar::kShowCancelButton, {}, true, "", 0, true},
        {TQActivityBar::kProgress, progress(1U, 0.25F, "Weather Plus"), true,
         "Downloading Weather Plus\u2026 25.0 %", 0.25, true},
        {TQActivityBar::kShowCancelButton, {}, true, "Downloading Weather Plus\u2026 25.0 %", 0.25, true},
        {TQActivityBar::kProgress, progress(1U, 0.5F, "Weather Plus"), true, downloading50, 0.5, true},
        // The install phase begins with the integer 0.
        {TQActivityBar::kProgress, progress(2U, 0, "Weather Plus"), true,
         "Installing Weather Plus\u2026 0.0 %", 0, true},
        {TQActivityBar::kShow, {}, true, "Installing Weather Plus\u2026 0.0 %", 0, true},
        {TQActivityBar::kShowCancelButton, {}, true, "Installing Weather Plus\u2026 0.0 %", 0, true},
        {TQActivityBar::kProgress, progress(2U, 0.4F, "Weather Plus"), true,
         "Installing Weather Plus\u2026 40.0 %", 0.4, true},
        // At 100 percent the cancel button goes and no show is posted.
        {TQActivityBar::kHideCancelButton, {}, true, "Installing Weather Plus\u2026 40.0 %", 0.4, false},
        {TQActivityBar::kProgress, progress(2U, 1.0F, "Weather Plus"), true,
         "Installing Weather Plus\u2026 100.0 %", 1.0, false},
        {TQActivityBar::kHide, {}, false, "", 0, false},
    };
    for (const auto& step : steps) {
        post(step.name, step.userInfo);
        SCOPED_TRACE(step.name);
        EXPECT_EQ(nav->isActivityBarShown(), step.shown);
        EXPECT_EQ(bar().progressLabel().text(), step.text);
        EXPECT_NEAR(bar().progressBar().progress(), step.progress, 1e-6);
        EXPECT_EQ(cancelShown(), step.cancel);
        world.loop.advance(0.3);
        EXPECT_EQ(bar().isVisible(), step.shown) << "after the 0.3 s fade";
    }
}

TEST_F(RootNavigationTest, ProgressWithoutItsKeysOrOfAnotherTypeClearsTheText) {
    post(TQActivityBar::kProgress, progress(1U, 0.5F, "Maps"));
    EXPECT_FALSE(nav->isActivityBarShown()) << "progress alone does not show the bar";
    post(TQActivityBar::kShow);
    EXPECT_EQ(bar().progressLabel().text(), "Downloading Maps\u2026 50.0 %") << "the last values";
    post(TQActivityBar::kProgress, progress(3U, 0.7F, "Maps"));
    EXPECT_EQ(bar().progressLabel().text(), "");
    EXPECT_NEAR(bar().progressBar().progress(), 0.7, 1e-6);
    EXPECT_EQ(bar().progressType(), 3);
    post(TQActivityBar::kProgress);
    EXPECT_EQ(bar().progressType(), 0);
    EXPECT_EQ(bar().progressBar().progress(), 0);
    post(TQActivityBar::kProgress, Value{{TQActivityBar::kProgressTypeKey, 1}});
    EXPECT_EQ(bar().progressLabel().text(), "Downloading \u2026 0.0 %");
}

TEST_F(RootNavigationTest, HideResetsAtOnceAndFadesAfterwards) {
    post(TQActivityBar::kShow);
    post(TQActivityBar::kShowCancelButton);
    post(TQActivityBar::kProgress, progress(1U, 0.5F, "Maps"));
    world.loop.advance(0.3);
    post(TQActivityBar::kHide);
    EXPECT_EQ(bar().progressLabel().text(), "");
    EXPECT_EQ(bar().progressBar().shownProgress(), 0);
    EXPECT_FALSE(cancelShown());
    EXPECT_TRUE(bar().isVisible()) << "still fading";
    world.loop.advance(0.3);
    EXPECT_FALSE(bar().isVisible());
    ASSERT_FALSE(world.animator.records().empty());
    EXPECT_EQ(world.animator.records().back().duration, 0.3);
}

TEST_F(RootNavigationTest, TheCancelButtonPostsCancelAndChangesNothing) {
    std::vector<platform::Notification> cancels;
    world.center.addObserver(TQActivityBar::kCancel,
                             [&](const platform::Notification& n) { cancels.push_back(n); });
    post(TQActivityBar::kShow);
    post(TQActivityBar::kShowCancelButton);
    post(TQActivityBar::kProgress, progress(1U, 0.5F, "Maps"));
    world.loop.advance(0.3);
    auto* button = nav->findChild<QWidget*>("cancelButton");
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(cancels.size(), 1U);
    EXPECT_EQ(cancels[0].sender, nullptr);
    EXPECT_TRUE(cancels[0].object.isNull());
    EXPECT_TRUE(cancels[0].userInfo.isNull());
    EXPECT_TRUE(nav->isActivityBarShown());
    EXPECT_EQ(bar().progressLabel().text(), "Downloading Maps\u2026 50.0 %");
}

TEST_F(RootNavigationTest, PagesEndAboveTheBarWhileItShows) {
    EXPECT_EQ(home->bottom(), 0);
    post(TQActivityBar::kShow);
    EXPECT_EQ(home->bottom(), 44);
    EXPECT_EQ(home->contentView().frame().height, home->height() - 44);
    EXPECT_EQ(home->constraints()[0].constant, 7) << "only the first bottom constraint";

    auto pushed = std::make_unique<BottomPage>("TQSettingsViewController");
    BottomPage* settings = pushed.get();
    nav->pushPage(std::move(pushed), true);
    world.loop.advance(0.35);
    EXPECT_EQ(settings->bottom(), 44);
    post(TQActivityBar::kHide);
    EXPECT_EQ(settings->bottom(), 0);
    EXPECT_EQ(home->bottom(), 44) << "only the visible page";
    nav->popPage(false);
    EXPECT_EQ(home->bottom(), 0) << "set when it shows again";
    EXPECT_EQ(nav->rootView(), home);

    auto plain = std::make_unique<Page>("TQPlainPage");
    Page* page = plain.get();
    nav->pushPage(std::move(plain), false);
    post(TQActivityBar::kShow);
    EXPECT_TRUE(page->constraints().empty());
    EXPECT_EQ(page->contentView().frame().height, page->height());
    EXPECT_EQ(nav->metrics(), (platform::Dictionary{{"activityBarHeight", 44.0}}));
}

TEST_F(RootNavigationTest, TheBackVetoKeepsThePageAndQueuesThePopOtherwise) {
    auto* back = nav->findChild<QWidget*>("backButton");
    ASSERT_NE(back, nullptr);
    const struct {
        std::optional<bool> answer;
        bool popped;
    } cases[] = {{false, false}, {true, true}, {std::nullopt, true}};
    for (const auto& c : cases) {
        auto made = std::make_unique<BottomPage>("TQStoreWebViewController", c.answer);
        BottomPage* page = made.get();
        nav->pushPage(std::move(made), false);
        QTest::mouseClick(back, Qt::LeftButton);
        EXPECT_EQ(nav->topPage(), page) << "nothing pops during the question";
        if (!c.popped) {
            EXPECT_EQ(nav->navigationBar().backButton().alpha(), 1.0)
                << "the vetoed back button is opaque again";
        }
        world.loop.advance(0.35);
        EXPECT_EQ(nav->topPage() != page, c.popped);
        if (!c.popped) {
            EXPECT_EQ(page->asked, 1);
            EXPECT_TRUE(nav->popPage(true)) << "a pop made in code is never questioned";
            EXPECT_EQ(page->asked, 1);
            world.loop.advance(0.35);
        }
        EXPECT_EQ(nav->pages().size(), 1U);
        EXPECT_EQ(nav->navigationBar().itemCount(), 1U);
        UiWorld::flushDeletes();
    }
}

TEST(ActivityBarScaleTest, InsetsAndTheCancelButtonFollowTheScreen) {
    const struct {
        platform::ui::Size screen;
        double s;
    } cases[] = {{{414, 736}, 1.0}, {{320, 568}, 568.0 / 736}, {{375, 667}, 667.0 / 736}};
    for (const auto& c : cases) {
        UiWorld world(c.screen);
        TQActivityBarView bar;
        EXPECT_DOUBLE_EQ(bar.downloadTextLeft.constant, 58 * c.s);
        EXPECT_DOUBLE_EQ(bar.downloadTextRight.constant, 58 * c.s);
        EXPECT_DOUBLE_EQ(bar.cancelButtonWidth.constant, 24 * c.s);
        EXPECT_DOUBLE_EQ(bar.cancelButtonHeight.constant, 24 * c.s);
        EXPECT_DOUBLE_EQ(bar.cancelButtonRight.constant, 18 * c.s);
    }
}

TEST(ActivityBarLifetimeTest, AGoneControllerStopsObserving) {
    UiWorld world;
    {
        TQCustomNavigationViewController nav(std::make_unique<Page>("TQViewController"));
    }
    world.center.post(TQActivityBar::kShow);
    world.center.post(TQActivityBar::kProgress);
    world.loop.advance(1);
}

}  // namespace
