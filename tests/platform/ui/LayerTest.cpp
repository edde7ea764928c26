#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QTest>
#include <cmath>
#include <vector>

#include "platform/image/QtBridge.h"
#include "platform/ui/Navigation.h"
#include "platform/ui/Table.h"
#include "ui/UiWorld.h"

namespace {

using namespace platform::ui;
using ui_test::UiWorld;

platform::image::Image solid(QColor colour, int width = 8, int height = 8) {
    QImage pixels(width, height, QImage::Format_ARGB32);
    pixels.fill(colour);
    return platform::image::imageOf(pixels);
}

TEST(FakeTextMetricsTest, MeasuresHalfTheSizePerCharacterAndWrapsAtWords) {
    FakeTextMetrics metrics;
    const struct {
        const char* text;
        double size;
        double maxWidth;
        Size expected;
    } cases[] = {
        {"", 15, 390, {0, 0}},
        {"abcd", 14, 390, {28, 17}},
        {"abcd", 15, 390, {30, 18}},
        {"\xC3\xA9t\xC3\xA9", 10, 390, {15, 12}},       // code points, not bytes
        {"aaaa bbbb", 10, 40, {20, 24}},                // breaks at the space
        {"aaaaaaaaaa", 10, 20, {20, 36}},               // a long word breaks at characters
        {"one\ntwo", 10, 390, {15, 24}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(metrics.boundingSize(c.text, c.size, c.maxWidth), c.expected) << c.text;
    }
    EXPECT_EQ(metrics.lineWidth("aaaa bbbb", 10), 45);
}

TEST(FontTextMetricsTest, TheTestFontMeasuresTextAndWrapsIt) {
    ui_test::application();
    FontTextMetrics metrics;
    const Size one = metrics.boundingSize("Settings", 15, 390);
    EXPECT_GT(one.width, 30);
    EXPECT_GT(one.height, 10);
    const Size wrapped = metrics.boundingSize("Settings Settings Settings", 15, one.width * 1.5);
    EXPECT_GE(wrapped.height, one.height * 2);
    EXPECT_NEAR(metrics.lineWidth("Settings", 15), one.width, 1.0);
}

TEST(CurveTest, CurvesRunFromZeroToOneAndTheSpringOvershoots) {
    for (Curve curve : {Curve::linear, Curve::easeIn, Curve::easeOut, Curve::easeInOut,
                        Curve::spring}) {
        EXPECT_DOUBLE_EQ(curveValue(curve, 0), 0) << int(curve);
        EXPECT_DOUBLE_EQ(curveValue(curve, 1), 1) << int(curve);
    }
    EXPECT_DOUBLE_EQ(curveValue(Curve::linear, 0.25), 0.25);
    EXPECT_LT(curveValue(Curve::easeIn, 0.25), 0.25);
    EXPECT_GT(curveValue(Curve::easeOut, 0.25), 0.25);
    double highest = 0;
    for (int i = 0; i <= 100; ++i) {
        highest = std::max(highest, curveValue(Curve::spring, i / 100.0));
    }
    EXPECT_GT(highest, 1.0) << "a spring swings past its rest";
}

TEST(CurveTest, TheSpringsDampingAndVelocityShapeItsCurve) {
    const auto peak = [](Spring spring) {
        double highest = 0;
        for (int i = 0; i <= 1000; ++i) {
            highest = std::max(highest, springValue(spring, 0.4, i / 1000.0));
        }
        return highest;
    };
    for (const Spring spring : {Spring{0.6, 1}, Spring{0.05, 0}, Spring{1, 0}, Spring{4, 20},
                                Spring{0.3, -5}, Spring{0, 0}, Spring{-1, 1e308}}) {
        EXPECT_DOUBLE_EQ(springValue(spring, 0.4, 0), 0) << spring.damping;
        EXPECT_DOUBLE_EQ(springValue(spring, 0.4, 1), 1) << spring.damping;
        for (int i = 0; i <= 100; ++i) {
            EXPECT_TRUE(std::isfinite(springValue(spring, 0.4, i / 100.0))) << spring.damping;
        }
    }
    // Less damping swings further past the rest; from 1 on it does not swing at all.
    EXPECT_GT(peak({0.2, 0}), peak({0.6, 0}));
    EXPECT_GT(peak({0.6, 0}), 1.0);
    EXPECT_LE(peak({1.0, 0}), 1.0 + 1e-9);
    EXPECT_LE(peak({3.0, 0}), 1.0 + 1e-9);
    // A faster start is further along early; a negative one first moves away.
    EXPECT_GT(springValue({0.6, 10}, 0.4, 0.05), springValue({0.6, 0}, 0.4, 0.05));
    double lowest = 0;
    for (int i = 0; i <= 100; ++i) {
        lowest = std::min(lowest, springValue({0.6, -10}, 0.4, i / 1000.0));
    }
    EXPECT_LT(lowest, 0);
    // However fast the start, the curve is the spring's own, not its remainder magnified by
    // the scaling to end at 1: a start away from the rest still first moves away.
    for (const double damping : {0.05, 0.6, 1.0, 3.0}) {
        EXPECT_LT(springValue({damping, -25000}, 0.4, 0.0001), 0) << damping;
        EXPECT_GT(springValue({damping, 25000}, 0.4, 0.0001), 0) << damping;
    }
    // The velocity is per second: the same velocity matters more in a longer animation.
    EXPECT_GT(springValue({1, 5}, 2.0, 0.02), springValue({1, 5}, 0.2, 0.02));
    EXPECT_DOUBLE_EQ(curveValue(Curve::spring, 0.3), springValue(Spring{}, 0.4, 0.3))
        << "the default spring starts at rest, whatever the duration";
    EXPECT_DOUBLE_EQ(animationValue(Animation{0.4, Curve::spring, {}, {}, {0.2, 3}}, 0.3),
                     springValue({0.2, 3}, 0.4, 0.3));
}

class LayerTest : public ::testing::Test {
protected:
    UiWorld world;
};

TEST_F(LayerTest, TheRecordingAnimatorCompletesOnTheVirtualClock) {
    std::vector<double> steps;
    bool done = false;
    world.animator.animate(Animation{0.3, Curve::easeInOut,
                                     [&](double v) { steps.push_back(v); },
                                     [&](bool finished) { done = finished; }, {}});
    EXPECT_EQ(steps, std::vector<double>{0.0});
    world.loop.advance(0.29);
    EXPECT_FALSE(done);
    world.loop.advance(0.01);
    EXPECT_TRUE(done);
    EXPECT_EQ(steps, (std::vector<double>{0.0, 1.0}));
    ASSERT_EQ(world.animator.records().size(), 1U);
    EXPECT_EQ(world.animator.records()[0].duration, 0.3);
    EXPECT_TRUE(world.animator.records()[0].finished);
}

TEST_F(LayerTest, OverlaysStackByLayerWhateverTheOrderTheyCameIn) {
    auto* banner = new View;
    auto* loading = new View;
    auto* alert = new View;
    auto* root = new View;
    world.window->setRootView(root);
    world.window->addOverlay(banner, Layer::banner);
    world.window->addOverlay(loading, Layer::loading);
    world.window->addOverlay(alert, Layer::alert);
    const auto children = world.window->children();
    auto position = [&](QObject* child) { return children.indexOf(child); };
    // Qt paints later children on top.
    EXPECT_LT(position(root), position(alert));
    EXPECT_LT(position(alert), position(loading));
    EXPECT_LT(position(loading), position(banner));
    EXPECT_EQ(world.window->frontView(), banner);
    delete banner;
    EXPECT_EQ(world.window->frontView(), loading);
    EXPECT_EQ(world.window->overlays(Layer::alert), std::vector<View*>{alert});
}

TEST_F(LayerTest, TheTextFieldsVetoCountsUtf16UnitsAndSeesEveryRoadIn) {
    TextField field;
    field.setFrame({0, 0, 200, 30});
    std::vector<std::pair<std::size_t, std::size_t>> asked;
    std::vector<std::string> replacements;
    bool refuse = false;
    int changes = 0;
    int returns = 0;
    field.setShouldChange([&](TextField::Range range, std::string_view replacement) {
        asked.emplace_back(range.location, range.length);
        replacements.emplace_back(replacement);
        return !refuse;
    });
    field.onEditingChanged([&] { ++changes; });
    field.onReturn([&] { ++returns; });
    field.setText("\xF0\x9F\x98\x80");  // one emoji: two UTF-16 units
    EXPECT_EQ(field.length(), 2U);
    field.setCursorPosition(2);
    QTest::keyClicks(&field, "a");
    EXPECT_EQ(field.text(), "\xF0\x9F\x98\x80" "a");
    ASSERT_EQ(asked.size(), 1U);
    EXPECT_EQ(asked[0], (std::pair<std::size_t, std::size_t>{2, 0}));
    EXPECT_EQ(changes, 1);

    refuse = true;
    QTest::keyClicks(&field, "b");
    EXPECT_EQ(field.text(), "\xF0\x9F\x98\x80" "a") << "refused";
    QApplication::clipboard()->setText("pasted");
    field.selectAll();
    QTest::keySequence(&field, QKeySequence::Paste);
    EXPECT_EQ(field.text(), "\xF0\x9F\x98\x80" "a");
    EXPECT_EQ(asked.back(), (std::pair<std::size_t, std::size_t>{0, 3}));
    EXPECT_EQ(replacements.back(), "pasted");
    QTest::keyClick(&field, Qt::Key_Backspace);
    EXPECT_EQ(field.text(), "\xF0\x9F\x98\x80" "a") << "deleting the selection asked too";

    refuse = false;
    QTest::keySequence(&field, QKeySequence::Paste);
    EXPECT_EQ(field.text(), "pasted");
    QTest::keyClick(&field, Qt::Key_Return);
    EXPECT_EQ(returns, 1);
    EXPECT_EQ(field.text(), "pasted") << "return inserts nothing";
}

TEST_F(LayerTest, ButtonsShowTheImageOfTheirStateAndActWhenAsked) {
    Button button;
    button.setFrame({0, 0, 60, 40});
    const auto normal = solid(Qt::red);
    const auto highlighted = solid(Qt::blue);
    button.setImage(Button::State::normal, normal);
    button.setImage(Button::State::highlighted, highlighted);
    int actions = 0;
    button.onAction([&] { ++actions; });
    EXPECT_TRUE(button.currentImage().bitmap().sharesPixelsWith(normal.bitmap()));
    QTest::mousePress(&button, Qt::LeftButton);
    EXPECT_EQ(button.state(), Button::State::highlighted);
    EXPECT_TRUE(button.currentImage().bitmap().sharesPixelsWith(highlighted.bitmap()));
    EXPECT_EQ(actions, 0) << "on release by default";
    QTest::mouseRelease(&button, Qt::LeftButton);
    EXPECT_EQ(actions, 1);
    button.setEnabled(false);
    EXPECT_EQ(button.state(), Button::State::disabled);
    EXPECT_TRUE(button.currentImage().bitmap().sharesPixelsWith(normal.bitmap()))
        << "a state without its own image shows the normal one";

    button.setEnabled(true);
    button.setActionOnTouchDown(true);
    QTest::mousePress(&button, Qt::LeftButton);
    EXPECT_EQ(actions, 2) << "on touch down";
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(500, 500));
    EXPECT_EQ(actions, 2);
}

TEST_F(LayerTest, SwitchesTellTheUserChangesOnly) {
    Switch toggle;
    std::vector<bool> told;
    toggle.onValueChanged([&](bool on) { told.push_back(on); });
    toggle.setOn(true);
    EXPECT_TRUE(told.empty());
    QTest::mouseClick(&toggle, Qt::LeftButton);
    EXPECT_FALSE(toggle.isOn());
    EXPECT_EQ(told, std::vector<bool>{false});
}

TEST_F(LayerTest, ImageFramesAndTheSpinnerTurnOnTheVirtualClock) {
    ImageView view;
    std::vector<platform::image::Image> frames;
    for (int i = 0; i < 4; ++i) {
        frames.push_back(solid(QColor(i * 60, 0, 0)));
    }
    view.setAnimationImages(frames);
    view.setAnimationDuration(0.5);
    view.setAnimationRepeatCount(2);
    view.startAnimating();
    std::vector<std::size_t> seen{view.currentFrame()};
    for (int i = 0; i < 7; ++i) {
        world.loop.advance(0.125);
        seen.push_back(view.currentFrame());
    }
    EXPECT_EQ(seen, (std::vector<std::size_t>{0, 1, 2, 3, 0, 1, 2, 3}));
    world.loop.advance(0.125);
    EXPECT_FALSE(view.isAnimating()) << "two rounds, then it stops";

    Spinner spinner;
    spinner.setHidesWhenStopped(true);
    EXPECT_TRUE(spinner.isHidden());
    spinner.startAnimating();
    world.loop.advance(0.25);
    EXPECT_EQ(spinner.phase(), 3);
    spinner.stopAnimating();
    EXPECT_TRUE(spinner.isHidden());
}

TEST_F(LayerTest, TextViewsShowNoCaretAndOfferNoActions) {
    TextView view;
    view.setText("Fixed text");
    EXPECT_EQ(view.text(), "Fixed text");
    EXPECT_TRUE(view.isReadOnly());
    EXPECT_EQ(view.cursorWidth(), 0);
    EXPECT_EQ(view.contextMenuPolicy(), Qt::NoContextMenu);
    EXPECT_FALSE(TextView::canPerformAction("copy:"));
    EXPECT_EQ(TextView::caretRect(), Rect{});
    QTest::keyClicks(view.viewport(), "typed");
    EXPECT_EQ(view.text(), "Fixed text");
}

TEST_F(LayerTest, ProgressBarsAnimateOnlyWhenAsked) {
    ProgressBar bar;
    bar.setProgress(0.5, false);
    EXPECT_EQ(bar.shownProgress(), 0.5);
    bar.setProgress(1.0, true);
    EXPECT_EQ(bar.progress(), 1.0);
    EXPECT_EQ(bar.shownProgress(), 0.5);
    world.loop.advance(0.25);
    EXPECT_EQ(bar.shownProgress(), 1.0);
    bar.setProgress(2.0, false);
    EXPECT_EQ(bar.progress(), 1.0) << "clamped";
}

// A page that records its life cycle and may answer the back button.
class LoggingPage : public Page {
public:
    LoggingPage(std::string name, std::vector<std::string>& log) : Page(std::move(name)), log_(log) {
        setTitle(className());
    }
    void viewDidLoad() override { note("didLoad"); }
    void viewWillAppear(bool) override { note("willAppear"); }
    void viewDidAppear(bool) override { note("didAppear"); }
    void viewWillDisappear(bool) override { note("willDisappear"); }
    void viewDidDisappear(bool) override { note("didDisappear"); }

private:
    void note(const char* what) { log_.push_back(className() + " " + what); }
    std::vector<std::string>& log_;
};

class NavigationTest : public LayerTest {
protected:
    std::vector<std::string> log;
    NavigationController* nav = nullptr;
    void SetUp() override {
        nav = new NavigationController(std::make_unique<LoggingPage>("A", log));
        world.window->setRootView(nav);
        log.clear();
    }
    std::vector<std::string> classes() const {
        std::vector<std::string> names;
        for (Page* page : nav->pages()) {
            names.push_back(page->className());
        }
        return names;
    }
};

TEST_F(NavigationTest, PushPopAndPopToRootRunTheLifeCycleInOrder) {
    nav->pushPage(std::make_unique<LoggingPage>("B", log), true);
    EXPECT_EQ(log, (std::vector<std::string>{"B didLoad", "A willDisappear", "B willAppear"}));
    world.loop.advance(0.35);
    EXPECT_EQ(log.back(), "B didAppear");
    EXPECT_EQ(log[3], "A didDisappear");
    EXPECT_EQ(nav->navigationBar().itemCount(), 2U);
    nav->pushPage(std::make_unique<LoggingPage>("C", log), false);
    EXPECT_EQ(classes(), (std::vector<std::string>{"A", "B", "C"}));

    log.clear();
    EXPECT_TRUE(nav->popPage(false));
    EXPECT_EQ(log, (std::vector<std::string>{"C willDisappear", "B willAppear",
                                             "C didDisappear", "B didAppear"}));
    EXPECT_EQ(nav->navigationBar().itemCount(), 2U) << "the bar recognised the pop made in code";
    nav->pushPage(std::make_unique<LoggingPage>("D", log), false);
    EXPECT_EQ(nav->popToRoot(false), 2U);
    EXPECT_EQ(classes(), std::vector<std::string>{"A"});
    EXPECT_EQ(nav->navigationBar().itemCount(), 1U);
    EXPECT_FALSE(nav->popPage(false)) << "the root stays";
    UiWorld::flushDeletes();
}

TEST_F(NavigationTest, TheBackButtonAndTheSwipePopAfterTheQuestionAndTheBarHides) {
    nav->pushPage(std::make_unique<LoggingPage>("B", log), false);
    auto* back = nav->navigationBar().findChild<QWidget*>("backButton");
    ASSERT_NE(back, nullptr);
    QTest::mouseClick(back, Qt::LeftButton);
    EXPECT_EQ(classes().size(), 2U) << "the pop is queued after the question";
    world.loop.advance(0.35);
    EXPECT_EQ(classes(), std::vector<std::string>{"A"});

    nav->pushPage(std::make_unique<LoggingPage>("B", log), false);
    nav->setBackSwipeEnabled(false);
    QTest::mousePress(nav, Qt::LeftButton, {}, QPoint(5, 300));
    QTest::mouseMove(nav, QPoint(200, 300));
    QTest::mouseRelease(nav, Qt::LeftButton, {}, QPoint(200, 300));
    world.loop.advance(1);
    EXPECT_EQ(classes().size(), 2U) << "swiping is off";
    nav->setBackSwipeEnabled(true);
    QTest::mousePress(nav, Qt::LeftButton, {}, QPoint(5, 300));
    QTest::mouseRelease(nav, Qt::LeftButton, {}, QPoint(40, 300));
    world.loop.advance(1);
    EXPECT_EQ(classes().size(), 2U) << "too short a pull";
    QTest::mousePress(nav, Qt::LeftButton, {}, QPoint(5, 300));
    QTest::mouseRelease(nav, Qt::LeftButton, {}, QPoint(200, 300));
    world.loop.advance(1);
    EXPECT_EQ(classes(), std::vector<std::string>{"A"});

    EXPECT_EQ(nav->topPage()->mapTo(nav, QPoint(0, 0)).y(), NavigationController::kBarHeight);
    nav->setNavigationBarHidden(true);
    EXPECT_TRUE(nav->navigationBar().isHidden());
    EXPECT_EQ(nav->topPage()->frame().height, 736);
    nav->setNavigationBarHidden(false);
    EXPECT_FALSE(nav->navigationBar().isHidden());
    EXPECT_EQ(nav->topPage()->frame().height, 736 - NavigationController::kBarHeight);
    UiWorld::flushDeletes();
}

TEST_F(LayerTest, GroupedTablesStackHeadersRowsAndFooters) {
    TableView table;
    table.setFrame({0, 0, 320, 400});
    std::vector<TableSection> sections(2);
    sections[0].header = new View;
    sections[0].headerHeight = 30;
    sections[0].cells = {new TableCell, new TableCell};
    sections[0].footer = new View;
    sections[0].footerHeight = 20;
    sections[1].cells = {new TableCell};
    sections[1].cells[0]->setRowHeight(60);
    table.setSections(std::move(sections));
    EXPECT_EQ(table.cell(0, 1)->frame().y, 74);
    EXPECT_EQ(table.sections()[0].footer->frame().y, 118);
    EXPECT_EQ(table.cell(1, 0)->frame().y, 138);
    EXPECT_EQ(table.contentHeight(), 198);
    EXPECT_EQ(table.cell(2, 0), nullptr);
    int touched = 0;
    table.cell(0, 0)->onTouched([&] { ++touched; });
    table.show();
    QTest::mouseClick(table.cell(0, 0), Qt::LeftButton);
    EXPECT_EQ(touched, 1);
}

}  // namespace
