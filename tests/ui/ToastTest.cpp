#include <gtest/gtest.h>

#include <QImage>
#include <QTest>

#include "platform/image/QtBridge.h"
#include "ui/TSToast.h"
#include "ui/UiWorld.h"

namespace {

using platform::ui::Point;
using platform::ui::Rect;
using platform::ui::View;
using ui_test::UiWorld;

TEST(ToastStyleTest, DefaultsAndClampedShares) {
    auto style = TSToastStyle::initWithDefaultStyle();
    EXPECT_FALSE(style.displayShadow);
    EXPECT_EQ(style.backgroundColor, (platform::ui::Color{0, 0, 0, 0.8}));
    EXPECT_EQ(style.titleFont, (TSToastFont{16, true}));
    EXPECT_EQ(style.messageFont, (TSToastFont{16, false}));
    EXPECT_EQ(style.fadeDuration, 0.2);
    EXPECT_EQ(style.imageSize, (platform::ui::Size{80, 80}));
    EXPECT_EQ(style.activitySize, (platform::ui::Size{100, 100}));
    EXPECT_EQ(style.shadowOffset, (platform::ui::Size{4, 4}));
    EXPECT_FALSE(style.shadowColor);
    const struct {
        double given, stored;
    } shares[] = {{1.5, 1.0}, {-0.2, 0.0}, {0.5, 0.5}};
    for (const auto& s : shares) {
        style.setMaxWidthPercentage(s.given);
        style.setMaxHeightPercentage(s.given);
        EXPECT_EQ(style.maxWidthPercentage(), s.stored);
        EXPECT_EQ(style.maxHeightPercentage(), s.stored);
    }
    EXPECT_TRUE(TSToastManager::isTapToDismissEnabled());
    EXPECT_TRUE(TSToastManager::isQueueEnabled());
    EXPECT_EQ(TSToastManager::defaultDuration(), 3.0);
    EXPECT_EQ(std::get<std::string>(TSToastManager::defaultPosition()), TSToastPositionBottom);
}

class ToastTest : public ::testing::Test {
protected:
    ToastTest() {
        host.setFrame({0, 0, 320, 568});
        host.show();
    }
    UiWorld world{{320, 568}};
    View host;
    std::vector<std::string> done;
    TSToast::Completion note(std::string name) {
        return [this, name](bool tapped) { done.push_back(name + (tapped ? ":tap" : ":time")); };
    }
};

TEST_F(ToastTest, TheToastIsSizedFromItsPartsWithTheFakeMetrics) {
    // 16-point text: 8 points a character, 19-point lines; 10-point paddings.
    const auto image = platform::image::imageOf(QImage(40, 40, QImage::Format_ARGB32));
    const struct {
        const char* name;
        std::optional<std::string_view> message, title;
        bool withImage;
        Rect toast, title_, message_;
    } cases[] = {
        {"message", "Hello", std::nullopt, false, {0, 0, 60, 39}, {}, {10, 10, 40, 19}},
        {"title and message", "Hello", "Title!", false, {0, 0, 68, 68}, {10, 10, 48, 19}, {10, 39, 40, 19}},
        {"image", "Hello", "Title", true, {0, 0, 150, 100}, {100, 10, 40, 19}, {100, 39, 40, 19}},
        // 40 characters on at most 256 points: 32 a line, two lines.
        {"wrapped", std::string_view("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"), std::nullopt, false,
         {0, 0, 276, 58}, {}, {10, 10, 256, 38}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<View> toast(TSToast::toastViewForMessage(
            host, c.message, c.title, c.withImage ? std::optional(image) : std::nullopt, std::nullopt));
        ASSERT_NE(toast, nullptr);
        EXPECT_EQ(toast->frame(), c.toast);
        if (c.title) {
            EXPECT_EQ(toast->findChild<platform::ui::Label*>("toastTitle")->frame(), c.title_);
        }
        EXPECT_EQ(toast->findChild<platform::ui::Label*>("toastMessage")->frame(), c.message_);
        EXPECT_EQ(toast->cornerRadius(), 10);
    }
    EXPECT_EQ(TSToast::toastViewForMessage(host, std::nullopt, std::nullopt, std::nullopt, std::nullopt),
              nullptr);
    TSToast::makeToast(host, std::nullopt, 1.0, std::string(TSToastPositionTop), std::nullopt,
                       std::nullopt, std::nullopt, note("nothing"));
    world.loop.advance(5);
    EXPECT_EQ(TSToast::activeToast(host), nullptr);
    EXPECT_TRUE(done.empty());
}

TEST_F(ToastTest, PositionsByNameInAnyCaseOrPoint) {
    std::unique_ptr<View> toast(
        TSToast::toastViewForMessage(host, "Hello", std::nullopt, std::nullopt, std::nullopt));
    const struct {
        TSToastPosition position;
        Point centre;
    } cases[] = {
        {std::string(TSToastPositionTop), {160, 29.5}},
        {std::string("tstoastpositiontop"), {160, 29.5}},
        {std::string(TSToastPositionCenter), {160, 284}},
        {std::string("TSTOASTPOSITIONCENTER"), {160, 284}},
        {std::string(TSToastPositionBottom), {160, 538.5}},
        {std::string("somewhere"), {160, 538.5}},
        {Point{50, 60}, {50, 60}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TSToast::centerPointForPosition(host, c.position, *toast), c.centre);
    }
}

TEST_F(ToastTest, ToastsWaitTheirTurnAndATapDismissesEarly) {
    TSToast::makeToast(host, "Page 1", 1.0, std::string(TSToastPositionCenter),
                       std::nullopt, std::nullopt, std::nullopt, note("first"));
    TSToast::makeToast(host, "Page 2", 2.0, std::string(TSToastPositionTop),
                       std::nullopt, std::nullopt, std::nullopt, note("second"));
    View* first = TSToast::activeToast(host);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(TSToast::queuedToasts(host), 1U);
    EXPECT_EQ(platform::ui::center(first->frame()), (Point{160, 284}));
    EXPECT_EQ(first->alpha(), 0) << "fading in";
    world.loop.advance(0.2);
    EXPECT_EQ(first->alpha(), 1);
    world.loop.advance(1.0);
    EXPECT_TRUE(done.empty());
    EXPECT_EQ(world.animator.records().back().curve, platform::ui::Curve::easeIn) << "fading out";
    world.loop.advance(0.2);
    EXPECT_EQ(done, std::vector<std::string>{"first:time"});
    View* second = TSToast::activeToast(host);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(TSToast::queuedToasts(host), 0U);
    EXPECT_EQ(platform::ui::center(second->frame()), (Point{160, 29.5})) << "its own position";
    world.loop.advance(0.2);
    // A tap before its time.
    QTest::mouseClick(second, Qt::LeftButton, {}, QPoint(5, 5));
    world.loop.advance(0.2);
    EXPECT_EQ(done, (std::vector<std::string>{"first:time", "second:tap"}));
    EXPECT_EQ(TSToast::activeToast(host), nullptr);
    world.loop.advance(5);
    EXPECT_EQ(done.size(), 2U) << "its timer was stopped";
}

TEST_F(ToastTest, WithoutTheQueueANewToastShowsAtOnceOnTop) {
    TSToastManager::setQueueEnabled(false);
    TSToast::makeToast(host, "one", 1.0, std::string(TSToastPositionBottom));
    View* one = TSToast::activeToast(host);
    TSToast::makeToast(host, "two", 3.0, std::string(TSToastPositionBottom));
    View* two = TSToast::activeToast(host);
    EXPECT_NE(one, two);
    EXPECT_EQ(TSToast::queuedToasts(host), 0U);
    world.loop.advance(1.5);
    EXPECT_EQ(TSToast::activeToast(host), two) << "the older one's end leaves the newer active";
    TSToastManager::setQueueEnabled(true);
    world.loop.advance(3);
    EXPECT_EQ(TSToast::activeToast(host), nullptr);
}

TEST_F(ToastTest, TheActivityBoxShowsOnceAndFadesOut) {
    TSToast::makeToastActivity(host, std::string(TSToastPositionCenter));
    View* box = TSToast::activityView(host);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->frame(), (Rect{110, 234, 100, 100}));
    TSToast::makeToastActivity(host, std::string(TSToastPositionTop));
    EXPECT_EQ(TSToast::activityView(host), box) << "a second changes nothing";
    world.loop.advance(0.2);
    EXPECT_EQ(box->alpha(), 1);
    world.loop.advance(60);
    EXPECT_EQ(TSToast::activityView(host), box) << "no timer ends it";
    TSToast::hideToastActivity(host);
    world.loop.advance(0.2);
    EXPECT_EQ(TSToast::activityView(host), nullptr);
}

TEST_F(ToastTest, TheToastAndTheActivityBoxCastTheStylesShadowOnlyWhenAsked) {
    using platform::ui::Shadow;
    const platform::ui::Color grey{0.2, 0.2, 0.2, 1};
    const struct {
        const char* name;
        bool display;
        std::optional<platform::ui::Color> colour;
        std::optional<Shadow> expected;
    } cases[] = {
        {"the default style", false, std::nullopt, std::nullopt},
        {"a colour alone", false, grey, std::nullopt},
        {"asked, without a colour (the default)", true, std::nullopt, std::nullopt},
        {"asked, with a colour", true, grey, Shadow{grey, 0.8, 6, {4, 4}}},
    };
    const TSToastStyle shared = TSToastManager::sharedStyle();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto style = TSToastStyle::initWithDefaultStyle();
        style.displayShadow = c.display;
        style.shadowColor = c.colour;
        std::unique_ptr<View> toast(
            TSToast::toastViewForMessage(host, "Hello", std::nullopt, std::nullopt, style));
        EXPECT_EQ(toast->shadow(), c.expected);
        TSToastManager::setSharedStyle(style);
        TSToast::makeToastActivity(host, std::string(TSToastPositionCenter));
        EXPECT_EQ(TSToast::activityView(host)->shadow(), c.expected);
        TSToast::hideToastActivity(host);
        world.loop.advance(0.2);
    }
    TSToastManager::setSharedStyle(shared);
}

}  // namespace
