#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <cmath>
#include <mutex>

#include "logging/LGLog.h"
#include "logging/LGLogger.h"
#include "platform/image/QtBridge.h"
#include "platform/ui/Accessibility.h"
#include "ui/BNGravity.h"
#include "ui/BNToastManager.h"
#include "ui/BNToastView.h"
#include "ui/UiWorld.h"
#include "utils/TQUtils.h"

namespace {

using platform::ui::Gesture;
using platform::ui::Point;
using platform::ui::Rect;
using platform::ui::SwipeDirection;
using ui_test::UiWorld;

class Lines final : public LGAbstractLogger {
public:
    Lines() : LGAbstractLogger("test.banner.lines") {}
    void logMessage(const LGLogMessage& message) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(message.message());
    }
    std::vector<std::string> take() {
        LGLog::flushLog();
        std::lock_guard lock(mutex_);
        return std::exchange(lines_, {});
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Every test leaves the process-wide defaults as it found them and hears the log.
class BannerTest : public ::testing::Test {
protected:
    BannerTest() { LGLog::addLogger(lines); }
    ~BannerTest() override {
        LGLog::flushLog();
        LGLog::removeLogger(lines);
        BNToast::restoreDefaultOptions();
    }
    std::shared_ptr<Lines> lines = std::make_shared<Lines>();
    BNToastScreenTraits traits;
    platform::ScopedInstall<BNToastScreenTraits> installTraits{&traits};
};

std::shared_ptr<BNToast> make(BNToastOptions options) {
    return BNToast::notificationWithOptions(std::move(options), {}, {});
}

std::string key(std::string_view k) { return std::string(k); }

TEST_F(BannerTest, TheKeyTableGivesEachKeyItsKindAndDefault) {
    using K = BNToastValueKind;
    const auto toast = make({});
    const struct {
        std::string_view key;
        K kind;
        double number;  // for numbers and booleans
    } cases[] = {
        {kBNToastNotificationTypeKey, K::number, 0},
        {kBNToastNotificationPreferredHeightKey, K::number, 0},
        {kBNToastNotificationPresentationTypeKey, K::number, 1},
        {kBNToastUnderStatusBarKey, K::boolean, 0},
        {kBNToastKeepNavigationBarBorder, K::boolean, 1},
        {kBNToastAnimationInTypeKey, K::number, 0},
        {kBNToastAnimationOutTypeKey, K::number, 0},
        {kBNToastAnimationInDirectionKey, K::number, 0},
        {kBNToastAnimationOutDirectionKey, K::number, 1},
        {kBNToastAnimateInTimeInterval, K::number, 0.4},
        {kBNToastTimeIntervalKey, K::number, 2.0},
        {kBNToastAnimateOutTimeInterval, K::number, 0.4},
        {kBNToastAnimationSpringDampingKey, K::number, 0.6},
        {kBNToastAnimateSpringVelocityKey, K::number, 1.0},
        {kBNToastAnimationGravityMagnitudeKey, K::number, 1.0},
        {kBNToastTextAlignmentKey, K::number, 1},
        {kBNToastTextMaxNumberOfLinesKey, K::number, 0},
        {kBNToastSubtitleTextAlignmentKey, K::number, 1},
        {kBNToastSubtitleTextMaxNumberOfLinesKey, K::number, 0},
        {kBNToastStatusBarStyleKey, K::number, 0},
        {kBNToastImageContentModeKey, K::number, 4},
        {kBNToastImageAlignmentKey, K::number, 0},
        {kBNToastShowActivityIndicatorKey, K::boolean, 0},
        {kBNToastActivityIndicatorViewStyleKey, K::number, 1},
        {kBNToastActivityIndicatorAlignmentKey, K::number, 0},
        {kBNToastForceUserInteractionKey, K::boolean, 0},
        {kBNToastAutorotateKey, K::boolean, 1},
        {kBNToastCaptureDefaultWindowKey, K::boolean, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const auto& table = BNToastKeyTable();
        const auto entry = std::find_if(table.begin(), table.end(),
                                        [&](const auto& e) { return e.key == c.key; });
        ASSERT_NE(entry, table.end());
        EXPECT_EQ(entry->kind, c.kind);
        const auto* value = BNToast::defaultOption(c.key);
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(BNToastKindOf(*value), c.kind);
        const double got = std::visit(
            [](const auto& v) -> double {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_arithmetic_v<T>) {
                    return double(v);
                } else {
                    return -1;
                }
            },
            *value);
        EXPECT_DOUBLE_EQ(got, c.number);
    }
    // The rest, by accessor.
    EXPECT_EQ(BNToastKeyTable().size(), 43U);
    EXPECT_EQ(toast->text(), "");
    EXPECT_EQ(toast->font(), (BNToastFont{"", 12}));
    EXPECT_EQ(toast->subtitleFont(), (BNToastFont{"", 12}));
    EXPECT_EQ(toast->textColor(), (platform::ui::Color{1, 1, 1, 1}));
    EXPECT_EQ(toast->subtitleTextColor(), (platform::ui::Color{1, 1, 1, 1}));
    EXPECT_EQ(toast->backgroundColor(), (platform::ui::Color{1, 0, 0, 1}));
    EXPECT_EQ(toast->textShadowOffset(), (platform::ui::Size{0, 0}));
    EXPECT_FALSE(toast->textShadowColor());
    EXPECT_FALSE(toast->subtitleText());
    EXPECT_FALSE(toast->identifier());
    EXPECT_FALSE(toast->image());
    EXPECT_EQ(toast->backgroundView(), nullptr);
    EXPECT_TRUE(toast->interactionResponders().empty());
    EXPECT_EQ(toast->state(), BNToastState::waiting);
    EXPECT_EQ(toast->uuid().size(), 36U);
    EXPECT_NE(toast->uuid(), make({})->uuid());
}

TEST_F(BannerTest, ValidationDropsUnknownKeysAndWrongKindsAndWarnsAboutOddChoices) {
    const auto toast = make({
        {key(kBNToastTextKey), std::string("Hi")},
        {key(kBNToastTimeIntervalKey), true},                       // boolean for a number
        {key(kBNToastUnderStatusBarKey), std::int64_t{1}},          // number for a boolean
        {key(kBNToastAnimationOutDirectionKey), std::int64_t{3}},   // alone, without the in one
        {key(kBNToastNotificationTypeKey), 1.0},                    // a double for an integer
        {"kBNToastTextColourKey", platform::ui::Color{0, 0, 0, 1}}, // misspelt
    });
    EXPECT_EQ(toast->options().size(), 3U);
    EXPECT_EQ(toast->timeInterval(), 2.0);
    EXPECT_FALSE(toast->displayUnderStatusBar());
    EXPECT_EQ(toast->outAnimationDirection(), BNToastDirectionRight);
    EXPECT_EQ(toast->inAnimationDirection(), BNToastDirectionTop);
    EXPECT_EQ(toast->notificationType(), BNToastTypeNavigationBar);
    const auto logged = lines->take();
    EXPECT_NE(std::find(logged.begin(), logged.end(),
                        "[BNToast] : ERROR given 1 for key kBNToastTimeIntervalKey was expecting "
                        "Class Number but got Class Boolean, passing default on instead"),
              logged.end());
    EXPECT_NE(std::find(logged.begin(), logged.end(),
                        "[BNToast] : ERROR given 1 for key kBNToastUnderStatusBarKey was "
                        "expecting Class Boolean but got Class Number, passing default on instead"),
              logged.end());
    EXPECT_NE(std::find(logged.begin(), logged.end(),
                        "[BNToast] : ERROR given unrecognized key kBNToastTextColourKey in "
                        "options with object <Color>"),
              logged.end());

    const struct {
        BNToastOptions options;
        std::string_view warning;  // empty: none
    } warnings[] = {
        {{{key(kBNToastUnderStatusBarKey), true}}, "while setting kBNToastUnderStatusBarKey"},
        {{{key(kBNToastSubtitleTextKey), std::string("s")}}, "configuring subtitle text"},
        {{{key(kBNToastAnimationInTypeKey), std::int64_t{2}}}, ""},
        {{{key(kBNToastAnimationInTypeKey), std::int64_t{2}}, {key(kBNToastAnimateInTimeInterval), 1.0}},
         "set kBNToastAnimationInTypeKey to @(BNToastAnimationTypeGravity)"},
        {{{key(kBNToastAnimationOutTypeKey), std::int64_t{2}}, {key(kBNToastAnimateOutTimeInterval), 1.0}},
         "set kBNToastAnimationOutTypeKey to @(BNToastAnimationTypeGravity)"},
        {{{key(kBNToastForceUserInteractionKey), true}}, "can only be dismissed programmatically"},
    };
    for (const auto& w : warnings) {
        make(w.options);
        const auto got = lines->take();
        if (w.warning.empty()) {
            EXPECT_TRUE(got.empty());
        } else {
            ASSERT_EQ(got.size(), 1U) << w.warning;
            EXPECT_NE(got[0].find(w.warning), std::string::npos) << got[0];
        }
    }
}

TEST_F(BannerTest, DefaultOptionsChangeLaterBannersButNotTheBorder) {
    BNToast::setDefaultOptions({{key(kBNToastTimeIntervalKey), 5.0},
                                {key(kBNToastKeepNavigationBarBorder), false}});
    const auto toast = make({});
    EXPECT_EQ(toast->timeInterval(), 5.0);
    EXPECT_TRUE(toast->shouldKeepNavigationBarBorder());
    EXPECT_EQ(make({{key(kBNToastTimeIntervalKey), 1.0}})->timeInterval(), 1.0);
}

TEST_F(BannerTest, HeightsFramesGravityAndCollisionPoints) {
    // 414 wide (the installed screen), 20-point status bar.
    EXPECT_EQ(BNToastBannerHeight(BNToastTypeStatusBar, 0, 1), 20);
    EXPECT_EQ(BNToastBannerHeight(BNToastTypeNavigationBar, 0, 1), 65);
    EXPECT_EQ(BNToastBannerHeight(BNToastTypeNavigationBar, 0, 3), 53) << "compact landscape";
    traits.horizontalRegular = true;
    EXPECT_EQ(BNToastBannerHeight(BNToastTypeNavigationBar, 0, 4), 65);
    traits.horizontalRegular = false;
    EXPECT_EQ(BNToastBannerHeight(BNToastTypeCustom, 0, 1), 0);
    EXPECT_EQ(BNToastBannerHeight(7, 30, 1), 30) << "other kinds behave as custom";

    const double w = 414;
    const double h = 65;
    const struct {
        int direction;
        Rect frame;        // the banner's start for in, end for out
        Rect strip;        // the strip's frame for that direction
        Point gravityIn, gravityOut;
    } frames[] = {
        {0, {0, -h, w, h}, {0, h, w, h}, {0, 1}, {0, -1}},
        {1, {0, h, w, h}, {0, -h, w, h}, {0, -1}, {0, 1}},
        {2, {-w, 0, w, h}, {w, 0, w, h}, {1, 0}, {-1, 0}},
        {3, {w, 0, w, h}, {-w, 0, w, h}, {-1, 0}, {1, 0}},
        {9, {0, 0, w, h}, {0, 0, w, h}, {0, 0}, {-0.0, -0.0}},
    };
    for (const auto& f : frames) {
        SCOPED_TRACE(f.direction);
        const auto toast = make({{key(kBNToastNotificationTypeKey), std::int64_t{1}},
                                 {key(kBNToastAnimationInDirectionKey), std::int64_t{f.direction}},
                                 {key(kBNToastAnimationOutDirectionKey), std::int64_t{f.direction}}});
        EXPECT_EQ(toast->notificationViewAnimationFrame1(), f.frame);
        EXPECT_EQ(toast->notificationViewAnimationFrame2(), f.frame);
        EXPECT_EQ(toast->statusBarViewAnimationFrame1(), f.strip);
        EXPECT_EQ(toast->statusBarViewAnimationFrame2(), f.strip);
        EXPECT_EQ(toast->inGravityDirection(), f.gravityIn);
        EXPECT_EQ(toast->outGravityDirection(), f.gravityOut);
    }

    const struct {
        int presentation;
        int direction;
        Point in1, in2, out1, out2;
    } points[] = {
        {0, 0, {0, h + 0.5}, {w, h + 0.5}, {w, -h - 0.5}, {0, -h - 0.5}},
        {1, 0, {0, 2 * (h - 2)}, {w, 2 * (h - 2)}, {w, -h - 0.5}, {0, -h - 0.5}},
        {0, 1, {w, -0.5}, {0, -0.5}, {0, 2 * h + 0.5}, {w, 2 * h + 0.5}},
        {1, 1, {w, -h + 2.5}, {0, -h + 2.5}, {0, 2 * h + 0.5}, {w, 2 * h + 0.5}},
        {0, 2, {w + 1, h}, {w + 1, 0}, {-w - 0.5, 0}, {-w - 0.5, h}},
        {1, 2, {2 * w - 2.5, h}, {2 * w - 2.5, 0}, {-w - 0.5, 0}, {-w - 0.5, h}},
        {0, 3, {-1, 0}, {-1, h}, {2 * w + 1, h}, {2 * w + 1, 0}},
        {1, 3, {-w + 2.5, 0}, {-w + 2.5, h}, {2 * w + 1, h}, {2 * w + 1, 0}},
    };
    for (const auto& p : points) {
        SCOPED_TRACE(testing::Message() << p.presentation << "/" << p.direction);
        const auto toast = make({{key(kBNToastNotificationTypeKey), std::int64_t{1}},
                                 {key(kBNToastNotificationPresentationTypeKey), std::int64_t{p.presentation}},
                                 {key(kBNToastAnimationInDirectionKey), std::int64_t{p.direction}},
                                 {key(kBNToastAnimationOutDirectionKey), std::int64_t{p.direction}}});
        EXPECT_EQ(toast->inCollisionPoint1(), p.in1);
        EXPECT_EQ(toast->inCollisionPoint2(), p.in2);
        EXPECT_EQ(toast->outCollisionPoint1(), p.out1);
        EXPECT_EQ(toast->outCollisionPoint2(), p.out2);
    }
    EXPECT_FALSE(make({{key(kBNToastAnimationInDirectionKey), std::int64_t{5}}})->inCollisionPoint1());
}

TEST_F(BannerTest, RespondersBecomeRecognisersAndTheDefaultsComeOnce) {
    EXPECT_EQ(BNToastInteractionTypeName(240), "Any Tap");
    EXPECT_EQ(BNToastInteractionTypeName(16), "Tap Once");
    EXPECT_EQ(BNToastInteractionTypeName(128), "Two Fingers Tap Twice");
    EXPECT_FALSE(BNToastInteractionTypeName(255));
    EXPECT_FALSE(BNToastInteractionTypeName(0));

    using R = BNToastGestureRecognizer;
    const struct {
        int type;
        std::vector<std::tuple<R::Kind, int, int, int, SwipeDirection>> expected;
        // kind, interaction type, touches, taps, direction
    } cases[] = {
        {15, {{R::Kind::swipe, 1, 1, 1, SwipeDirection::up}, {R::Kind::swipe, 2, 1, 1, SwipeDirection::left},
              {R::Kind::swipe, 4, 1, 1, SwipeDirection::down}, {R::Kind::swipe, 8, 1, 1, SwipeDirection::right}}},
        {240, {{R::Kind::tap, 16, 1, 1, SwipeDirection::right}, {R::Kind::tap, 32, 1, 2, SwipeDirection::right},
               {R::Kind::tap, 64, 2, 1, SwipeDirection::right}, {R::Kind::tap, 128, 2, 2, SwipeDirection::right}}},
        {3, {{R::Kind::swipe, 3, 1, 1, SwipeDirection::right}}},
        {48, {{R::Kind::tap, 48, 1, 1, SwipeDirection::right}}},
        {256, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        const auto made = BNToast::gestureRecognizersForInteractionResponder({{c.type, true, {}}});
        ASSERT_EQ(made.size(), c.expected.size());
        for (std::size_t i = 0; i < made.size(); ++i) {
            const auto& [kind, type, touches, taps, direction] = c.expected[i];
            EXPECT_EQ(made[i].kind, kind);
            EXPECT_EQ(made[i].interactionType, type);
            if (kind == R::Kind::tap) {
                EXPECT_EQ(made[i].touchesRequired, touches);
                EXPECT_EQ(made[i].tapsRequired, taps);
            } else {
                EXPECT_EQ(made[i].direction, direction);
            }
            EXPECT_TRUE(made[i].automaticallyDismiss);
        }
    }

    // Default responders: once, before the banner's own; and once for a banner without any.
    BNToast::setDefaultOptions({{key(kBNToastInteractionRespondersKey), BNToastResponders{{16, false, {}}}}});
    EXPECT_EQ(make({})->gestureRecognizers().size(), 1U);
    const auto both = make({{key(kBNToastInteractionRespondersKey), BNToastResponders{{4, true, {}}}}})
                          ->gestureRecognizers();
    ASSERT_EQ(both.size(), 2U);
    EXPECT_EQ(both[0].interactionType, 16);
    EXPECT_EQ(both[1].interactionType, 4);
}

// Steps a fall until it settles (or gives up), keeping what each step reported.
struct GravityRun {
    std::vector<BNGravityWorld> worlds;
    std::vector<BNGravityEvents> events;

    GravityRun(BNGravityWorld world, int limit = 1000) {
        while (!world.settled && int(worlds.size()) < limit) {
            auto [next, happened] = BNGravityAdvance(world, kBNGravityStep);
            world = next;
            worlds.push_back(world);
            events.push_back(happened);
        }
    }
    // Steps (1-based) at whose end the item left the line.
    std::vector<int> departures(std::size_t item) const {
        std::vector<int> steps;
        for (std::size_t k = 0; k < events.size(); ++k) {
            for (auto i : events[k].leftBoundary) {
                if (i == item) {
                    steps.push_back(int(k) + 1);
                }
            }
        }
        return steps;
    }
};

TEST(BannerGravityTest, ABannerFallsBouncesOffTheLineAndComesToRestOnIt) {
    // Semi-implicit Euler at 1000 points/s² per unit of magnitude.
    const BNGravityBody banner{{0, -65, 414, 65}, true};
    BNGravityWorld world = BNGravityStart(std::span(&banner, 1), {0, 1}, {0, 1000}, 1.0);
    auto [one, none] = BNGravityAdvance(world, 0.1);
    EXPECT_DOUBLE_EQ(one.items[0].velocity, 100);
    EXPECT_DOUBLE_EQ(one.items[0].position, -65 + 10);
    EXPECT_DOUBLE_EQ(BNGravityAdvance(one, 0.1).first.items[0].position, -65 + 30);

    // Onto the line at 65.5: the foot arrives after 22 steps, the first bounce leaves it in
    // the next, each bounce is lower than the one before, and the banner rests at 0.5.
    const GravityRun run(BNGravityStart(std::span(&banner, 1), {0, 1}, {0, 65.5}, 1.0));
    ASSERT_TRUE(run.worlds.back().settled);
    EXPECT_DOUBLE_EQ(run.worlds.back().items[0].position, 0.5);
    const auto left = run.departures(0);
    ASSERT_GE(left.size(), 2U);
    EXPECT_EQ(left.front(), 23);
    EXPECT_DOUBLE_EQ(run.worlds[21].items[0].leading(), 65.5) << "stopped exactly at the line";
    std::vector<double> heights;  // the highest point of each bounce, above the rest
    for (std::size_t b = 0; b < left.size(); ++b) {
        const int end = b + 1 < left.size() ? left[b + 1] : int(run.worlds.size());
        double lowest = HUGE_VAL;
        for (int k = left[b]; k < end; ++k) {
            lowest = std::min(lowest, run.worlds[k - 1].items[0].position);
        }
        heights.push_back(0.5 - lowest);
    }
    for (std::size_t b = 1; b < heights.size(); ++b) {
        EXPECT_LT(heights[b], heights[b - 1]);
    }
    EXPECT_GT(heights.front(), 5);
    for (const auto& w : run.worlds) {
        EXPECT_LE(w.items[0].leading(), 65.5);
    }

    // Starting on the line it never leaves it: the fall settles with no contact ending, which
    // is why a settled fall runs the completion it still holds.
    const GravityRun resting(BNGravityStart(std::span(&banner, 1), {0, 1}, {0, 0}, 1.0));
    EXPECT_TRUE(resting.worlds.back().settled);
    EXPECT_TRUE(resting.departures(0).empty());
    EXPECT_LE(resting.worlds.size(), 2U);
}

TEST(BannerGravityTest, EveryDirectionEndsWithTheLeadingEdgeOnTheLine) {
    const struct {
        Point direction;
        Rect start;
        Point boundary;
        Rect end;
    } cases[] = {
        {{0, 1}, {0, -65, 414, 65}, {414, 65.5}, {0, 0.5, 414, 65}},
        {{0, -1}, {0, 65, 414, 65}, {0, -0.5}, {0, -0.5, 414, 65}},
        {{1, 0}, {-414, 0, 414, 65}, {415, 65}, {1, 0, 414, 65}},
        {{-1, 0}, {414, 0, 414, 65}, {-1, 0}, {-1, 0, 414, 65}},
    };
    for (const auto& c : cases) {
        const BNGravityBody body{c.start, true};
        const auto start = BNGravityStart(std::span(&body, 1), c.direction, c.boundary, 2.0);
        ASSERT_TRUE(BNGravityReachesBoundary(start));
        const GravityRun run(start);
        ASSERT_TRUE(run.worlds.back().settled) << c.direction.x << "," << c.direction.y;
        EXPECT_EQ(BNGravityFrame(c.start, start.items[0], run.worlds.back().items[0], c.direction),
                  c.end);
    }
}

TEST(BannerGravityTest, ThePushedStripAndTheBannerMeetPartAndRestStacked) {
    // The strip (ahead) lands on the line at 124 and bounces into the banner falling 35
    // points behind it: they meet, part, and come to rest one on the other.
    const BNGravityBody bodies[] = {{{0, -100, 414, 65}, true}, {{0, 0, 414, 64}, true}};
    const GravityRun run(BNGravityStart(bodies, {0, 1}, {0, 124}, 1.0));
    ASSERT_TRUE(run.worlds.back().settled);
    int parted = 0;
    for (const auto& e : run.events) {
        for (const auto& pair : e.parted) {
            EXPECT_EQ(pair, (std::pair<std::size_t, std::size_t>{0, 1}));
            ++parted;
        }
    }
    EXPECT_GT(parted, 0) << "the banner bounced off the strip";
    EXPECT_FALSE(run.departures(1).empty()) << "the strip bounced off the line";
    EXPECT_DOUBLE_EQ(run.worlds.back().items[1].position, 60) << "the strip on the line";
    EXPECT_DOUBLE_EQ(run.worlds.back().items[0].position, -5) << "the banner on the strip";

    // Touching from the start, whatever the pull and however heavy the banner is against the
    // strip: the banner never passes through it, and both come to rest, stacked, well before
    // the longest fall.
    const struct {
        double banner, strip;
    } sizes[] = {{20, 19}, {65, 64}, {90, 64}, {128, 64}, {65, 20}};
    for (const double magnitude : {1.0, 20.0, 100.0}) {
        for (const auto& size : sizes) {
            SCOPED_TRACE(testing::Message() << magnitude << ": " << size.banner << " on "
                                            << size.strip);
            const double line = 2 * (size.banner - 2);
            const BNGravityBody stack[] = {{{0, -size.banner, 414, size.banner}, true},
                                           {{0, 0, 414, size.strip}, true}};
            const GravityRun fall(BNGravityStart(stack, {0, 1}, {0, line}, magnitude));
            ASSERT_TRUE(fall.worlds.back().settled);
            EXPECT_LT(fall.worlds.size(), 300U);
            for (const auto& w : fall.worlds) {
                ASSERT_LE(w.items[0].leading(), w.items[1].position + 1e-9);
                ASSERT_LE(w.items[1].leading(), line + 1e-9);
            }
            EXPECT_DOUBLE_EQ(fall.worlds.back().items[1].position, line - size.strip);
            EXPECT_DOUBLE_EQ(fall.worlds.back().items[0].position, line - size.strip - size.banner);
        }
    }
}

TEST(BannerGravityTest, AFallTooWeakToArriveEndsAfterItsLongestWhereItStands) {
    const BNGravityBody banner{{0, -65, 414, 65}, true};
    const GravityRun run(BNGravityStart(std::span(&banner, 1), {0, 1}, {0, 65.5}, 1e-6));
    ASSERT_TRUE(run.worlds.back().settled);
    EXPECT_NEAR(run.worlds.back().elapsed, kBNGravityLongest, kBNGravityStep);
    EXPECT_LT(run.worlds.back().items[0].leading(), 65.5);
}

TEST(BannerGravityTest, FallsThatCanNeverMeetTheLineAreKnownAtTheStart) {
    const BNGravityBody ahead{{0, 0, 414, 65}, true};
    const BNGravityBody loose{{0, 0, 414, 65}, false};
    const struct {
        const char* name;
        BNGravityBody body;
        Point direction;
        double magnitude;
        bool reaches;
    } cases[] = {
        {"falls onto it", ahead, {0, 1}, 1.0, true},
        {"no gravity", ahead, {0, 1}, 0.0, false},
        {"pulled away", ahead, {0, 1}, -1.0, false},
        {"not a number", ahead, {0, 1}, std::nan(""), false},
        {"no direction", ahead, {0, 0}, 1.0, false},
        {"already past the line", ahead, {0, -1}, 1.0, false},
        {"takes no part in collisions", loose, {0, 1}, 1.0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BNGravityReachesBoundary(
                      BNGravityStart(std::span(&c.body, 1), c.direction, {0, 100}, c.magnitude)),
                  c.reaches)
            << c.name;
    }
}

// The manager on a 414 x 736 window with a page under it.
class BannerManagerTest : public BannerTest {
protected:
    BannerManagerTest() {
        world.window->show();
        manager = std::make_unique<BNToastManager>(*world.window, world.loop);
    }
    ~BannerManagerTest() override {
        manager.reset();
        UiWorld::flushDeletes();
    }
    BNToastView* view() {
        auto head = manager->notification();
        return head ? &head->notificationView() : nullptr;
    }
    platform::ui::View* strip() {
        auto head = manager->notification();
        return head ? head->existingStatusBarView() : nullptr;
    }
    BNToastOptions named(std::string id, double time = 2.0) {
        return {{key(kBNToastTextKey), id}, {key(kBNToastIdentifierKey), id},
                {key(kBNToastTimeIntervalKey), time}};
    }

    UiWorld world;
    platform::ui::RecordingAccessibility accessibility;
    platform::ScopedInstall<platform::ui::Accessibility> installAccessibility{&accessibility};
    std::unique_ptr<BNToastManager> manager;
    platform::ScopedInstall<platform::BannerPresenter> installPresenter{nullptr};
    std::vector<std::string> done;
};

TEST_F(BannerManagerTest, TheErrorBannerSlidesInStaysAndSlidesOutOnTheVirtualClock) {
    platform::ScopedInstall<platform::BannerPresenter> install(manager.get());
    TQUtils::showToast("The watch is disconnected.");
    ASSERT_TRUE(manager->showingNotification());
    auto banner = manager->notification();
    EXPECT_EQ(banner->state(), BNToastState::entering);
    EXPECT_TRUE(manager->container().isVisible());
    EXPECT_EQ(manager->container().frame(), (Rect{0, 0, 414, 64})) << "20 + 45 - 1";
    EXPECT_EQ(view()->label().text(), "The watch is disconnected.");
    EXPECT_EQ(view()->backgroundColor(), (platform::ui::Color{237 / 255.0, 110 / 255.0, 43 / 255.0, 1}));
    EXPECT_EQ(view()->frame(), (Rect{0, -65, 414, 65})) << "just above the container";
    EXPECT_EQ(strip()->frame(), (Rect{0, 0, 414, 64}));
    EXPECT_TRUE(strip()->isVisible()) << "push";
    EXPECT_EQ(manager->recognizers().size(), 4U);

    world.loop.advance(0.4);
    EXPECT_EQ(banner->state(), BNToastState::displaying);
    EXPECT_EQ(view()->frame(), (Rect{0, 0, 414, 64}));
    EXPECT_EQ(strip()->frame(), (Rect{0, 65, 414, 65})) << "pushed out below";
    EXPECT_EQ(world.animator.records().at(0).duration, 0.4);
    EXPECT_TRUE(accessibility.announcements.empty());

    world.loop.advance(1.99);
    EXPECT_EQ(accessibility.announcements, std::vector<std::string>{"Alert: The watch is disconnected., "});
    EXPECT_EQ(banner->state(), BNToastState::displaying);
    world.loop.advance(0.01);
    EXPECT_EQ(banner->state(), BNToastState::exiting);
    EXPECT_FALSE(manager->recognizers().front().enabled);
    world.loop.advance(0.4);
    EXPECT_EQ(banner->state(), BNToastState::completed);
    EXPECT_EQ(banner->notificationView().frame(), (Rect{0, 65, 414, 65})) << "out at the bottom";
    EXPECT_EQ(banner->existingStatusBarView()->frame(), (Rect{0, 0, 414, 64})) << "back from the top";
    EXPECT_FALSE(manager->showingNotification());
    EXPECT_FALSE(manager->container().isVisible());
}

TEST_F(BannerManagerTest, QueuedBannersShowOneAtATimeAndACompletionMayAskForAnother) {
    manager->showNotificationWithOptions(named("first"), [&] {
        done.push_back("first");
        EXPECT_EQ(manager->notification()->text(), "first") << "still the head while it runs";
        manager->showNotificationWithOptions(named("third"), [&] { done.push_back("third"); });
    });
    manager->showNotificationWithOptions({{key(kBNToastTextKey), std::string("anonymous")}},
                                         [&] { done.push_back("second"); });
    EXPECT_EQ(manager->notificationIdentifiersInQueue(), std::vector<std::string>{"first"})
        << "banners without an identifier are skipped";
    world.loop.advance(2.79);
    EXPECT_TRUE(done.empty());
    EXPECT_EQ(manager->notificationIdentifiersInQueue(), (std::vector<std::string>{"first"}));
    world.loop.advance(0.01);
    EXPECT_EQ(done, std::vector<std::string>{"first"});
    EXPECT_EQ(manager->notification()->text(), "anonymous");
    EXPECT_EQ(manager->notificationIdentifiersInQueue(), std::vector<std::string>{"third"});
    world.loop.advance(2.8);
    EXPECT_EQ(done, (std::vector<std::string>{"first", "second"}));
    world.loop.advance(2.9);
    EXPECT_EQ(done, (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_FALSE(manager->container().isVisible());
}

TEST_F(BannerManagerTest, DismissalsByCallIdentifierAndAll) {
    // Without animation: at once, with the completion, and the next one follows.
    manager->showNotificationWithOptions(named("a"), [&] { done.push_back("a"); });
    manager->showNotificationWithOptions(named("b"), [&] { done.push_back("b"); });
    world.loop.advance(1.0);
    manager->dismissNotification(false);
    EXPECT_EQ(done, std::vector<std::string>{"a"});
    EXPECT_EQ(manager->notification()->text(), "b");
    // The first banner's timer finds another banner at the head and does nothing.
    world.loop.advance(1.5);
    EXPECT_EQ(manager->notification()->state(), BNToastState::displaying);

    // By identifier: only the waiting one goes; the one on screen stays.
    manager->showNotificationWithOptions(named("c"), [&] { done.push_back("c"); });
    manager->showNotificationWithOptions(named("d"), [&] { done.push_back("d"); });
    manager->dismissAllNotificationsWithIdentifier("c", true);
    EXPECT_EQ(manager->notificationIdentifiersInQueue(), (std::vector<std::string>{"b", "d"}));
    manager->dismissAllNotificationsWithIdentifier("b", true);
    EXPECT_EQ(manager->notification()->state(), BNToastState::exiting);
    world.loop.advance(0.4);
    EXPECT_EQ(done, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(manager->notification()->text(), "d");

    // Forced interaction without responders stays until a call.
    manager->dismissAllNotifications(false);
    manager->showNotificationWithOptions(
        {{key(kBNToastForceUserInteractionKey), true}, {key(kBNToastTextKey), std::string("stay")}},
        [&] { done.push_back("stay"); });
    world.loop.advance(100);
    EXPECT_EQ(manager->notification()->state(), BNToastState::displaying);
    manager->dismissNotification(true);
    world.loop.advance(0.4);
    EXPECT_EQ(done.back(), "stay");
    EXPECT_FALSE(manager->showingNotification());
    manager->dismissNotification(true);  // an empty queue: nothing
}

TEST_F(BannerManagerTest, DismissingAllWithoutAnimationLeavesNothingOnScreen) {
    for (const char* id : {"a", "b", "c"}) {
        manager->showNotificationWithOptions(named(id), [&, id] { done.push_back(id); });
    }
    world.loop.advance(1.0);
    manager->dismissAllNotifications(false);
    EXPECT_EQ(done, std::vector<std::string>{"a"}) << "the waiting ones are dropped unshown";
    EXPECT_FALSE(manager->showingNotification());
    EXPECT_FALSE(manager->container().isVisible());
    world.loop.advance(10);
    EXPECT_EQ(done, std::vector<std::string>{"a"});

    // With animation the same: the head leaves, nothing follows.
    manager->showNotificationWithOptions(named("x"), [&] { done.push_back("x"); });
    manager->showNotificationWithOptions(named("y"), [&] { done.push_back("y"); });
    world.loop.advance(1.0);
    manager->dismissAllNotifications(true);
    world.loop.advance(0.4);
    EXPECT_EQ(done, (std::vector<std::string>{"a", "x"}));
    EXPECT_FALSE(manager->container().isVisible());
}

TEST_F(BannerManagerTest, ALateAnimationEndNeverRemovesTheBannerAfterIt) {
    manager->showNotificationWithOptions(named("a"), [&] { done.push_back("a"); });
    manager->showNotificationWithOptions(named("b"), [&] { done.push_back("b"); });
    world.loop.advance(2.4);
    ASSERT_EQ(manager->notification()->state(), BNToastState::exiting);
    // A dismissal while the banner leaves does nothing: its exit completes it.
    manager->dismissNotification(false);
    manager->dismissNotification(true);
    EXPECT_TRUE(done.empty());
    world.loop.advance(0.4);
    EXPECT_EQ(done, std::vector<std::string>{"a"});
    ASSERT_TRUE(manager->showingNotification());
    EXPECT_EQ(manager->notification()->text(), "b");

    // Dismissed without animation while entering: the entry's end finds it completed.
    manager->showNotificationWithOptions(named("c"), [&] { done.push_back("c"); });
    world.loop.advance(2.8);  // b ends, c starts entering
    ASSERT_EQ(manager->notification()->text(), "c");
    manager->showNotificationWithOptions(named("d"), [&] { done.push_back("d"); });
    manager->dismissNotification(false);
    EXPECT_EQ(manager->notification()->text(), "d");
    world.loop.advance(0.4);
    EXPECT_EQ(done, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(manager->notification()->state(), BNToastState::displaying);
}

TEST_F(BannerManagerTest, GesturesFireTheirRespondersOnceAndDismiss) {
    std::vector<int> fired;
    const auto responder = [&](int type, bool dismiss) {
        return BNToastInteractionResponder{type, dismiss, [&fired](int t) { fired.push_back(t); }};
    };
    // Injected gestures.
    manager->showNotificationWithOptions(
        {{key(kBNToastInteractionRespondersKey),
          BNToastResponders{responder(15, true), responder(32, false)}}},
        [&] { done.push_back("swiped"); });
    world.loop.advance(0.4);
    manager->handleGesture({Gesture::Kind::tap, SwipeDirection::right, 1, 2});
    EXPECT_EQ(fired, std::vector<int>{32});
    EXPECT_EQ(manager->notification()->state(), BNToastState::displaying);
    manager->handleGesture({Gesture::Kind::swipe, SwipeDirection::left, 1, 1});
    EXPECT_EQ(fired, (std::vector<int>{32, 2}));
    EXPECT_EQ(manager->notification()->state(), BNToastState::exiting);
    manager->handleGesture({Gesture::Kind::swipe, SwipeDirection::up, 1, 1});
    EXPECT_EQ(fired, (std::vector<int>{32, 2})) << "recognisers are off while it leaves";
    world.loop.advance(0.4);
    EXPECT_EQ(done, std::vector<std::string>{"swiped"});

    // Each direction of a type-15 responder reports its own bit.
    for (const auto& [direction, bit] : std::vector<std::pair<SwipeDirection, int>>{
             {SwipeDirection::up, 1}, {SwipeDirection::down, 4}, {SwipeDirection::right, 8}}) {
        fired.clear();
        manager->showNotificationWithOptions(
            {{key(kBNToastInteractionRespondersKey), BNToastResponders{responder(15, true)}}}, {});
        world.loop.advance(0.4);
        manager->handleGesture({Gesture::Kind::swipe, direction, 1, 1});
        EXPECT_EQ(fired, std::vector<int>{bit});
        world.loop.advance(0.4);
        EXPECT_FALSE(manager->showingNotification());
    }

    // Real events on the container: a click is one tap of one finger.
    fired.clear();
    manager->showNotificationWithOptions(
        {{key(kBNToastInteractionRespondersKey), BNToastResponders{responder(240, true)}}},
        [&] { done.push_back("tapped"); });
    world.loop.advance(0.4);
    QTest::mouseClick(&manager->container(), Qt::LeftButton, {}, QPoint(100, 30));
    EXPECT_EQ(fired, std::vector<int>{16});
    world.loop.advance(0.4);
    EXPECT_EQ(done.back(), "tapped");
    // The display timer of the tapped banner finds none and does nothing.
    world.loop.advance(3);
}

TEST_F(BannerManagerTest, ATouchOutsideTheBannerReachesThePage) {
    auto* page = new platform::ui::View;
    auto* button = new platform::ui::Button(page);
    button->setFrame({0, 200, 414, 60});
    int pressed = 0;
    button->onAction([&] { ++pressed; });
    world.window->setRootView(page);
    std::vector<int> fired;
    manager->showNotificationWithOptions(
        {{key(kBNToastInteractionRespondersKey),
          BNToastResponders{{240, true, [&](int t) { fired.push_back(t); }}}}},
        {});
    world.loop.advance(0.4);
    const auto clickWindowAt = [&](QPoint at) {
        QWidget* target = world.window->childAt(at);
        EXPECT_NE(target, nullptr);
        if (target != nullptr) {
            QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(world.window.get(), at));
        }
        return target;
    };
    EXPECT_EQ(clickWindowAt(QPoint(200, 230)), button);
    EXPECT_EQ(pressed, 1);
    EXPECT_TRUE(fired.empty());
    EXPECT_EQ(manager->notification()->state(), BNToastState::displaying);
    EXPECT_EQ(clickWindowAt(QPoint(200, 10)), &manager->container()) << "the 19-point banner area";
    EXPECT_EQ(fired, std::vector<int>{16});
}

TEST_F(BannerManagerTest, SpringAndGravityRunOnTheVirtualClock) {
    manager->showNotificationWithOptions(
        {{key(kBNToastAnimationInTypeKey), std::int64_t{1}},
         {key(kBNToastAnimationSpringDampingKey), 0.3},
         {key(kBNToastAnimateSpringVelocityKey), std::int64_t{2}},
         {key(kBNToastAnimationOutTypeKey), std::int64_t{2}},
         {key(kBNToastNotificationPresentationTypeKey), std::int64_t{0}},
         {key(kBNToastAnimationOutDirectionKey), std::int64_t{0}},
         {key(kBNToastTextKey), std::string("springs in, falls out")}},
        [&] { done.push_back("fell"); });
    EXPECT_FALSE(strip()->isVisible()) << "cover";
    world.loop.advance(0.4);
    EXPECT_EQ(world.animator.records().back().curve, platform::ui::Curve::spring);
    EXPECT_EQ(world.animator.records().back().spring, (platform::ui::Spring{double(0.3f), 2}));
    EXPECT_EQ(view()->frame(), (Rect{0, 0, 414, 19}));
    world.loop.advance(2.0);
    EXPECT_EQ(manager->notification()->state(), BNToastState::exiting);
    // Up out of the 20-point area: 20.5 points at 1000 pt/s² takes 12 steps of 1/60 s; the
    // banner bounces off the line in the next, and that end of contact completes it.
    world.loop.advance(12 * kBNGravityStep);
    EXPECT_TRUE(done.empty());
    EXPECT_DOUBLE_EQ(view()->frame().y, -20.5);
    world.loop.advance(kBNGravityStep);
    EXPECT_EQ(done, std::vector<std::string>{"fell"});
    EXPECT_FALSE(manager->container().isVisible());

    // Gravity in: from above onto the line under the area; the first bounce off it starts
    // the display time, later ones lift the banner less, and it comes to rest on the line.
    manager->showNotificationWithOptions(
        {{key(kBNToastAnimationInTypeKey), std::int64_t{2}},
         {key(kBNToastNotificationPresentationTypeKey), std::int64_t{0}},
         {key(kBNToastTextKey), std::string("falls in")}},
        {});
    auto banner = manager->notification();
    world.loop.advance(12 * kBNGravityStep);
    EXPECT_EQ(banner->state(), BNToastState::entering);
    EXPECT_DOUBLE_EQ(banner->notificationView().frame().y, 0.5) << "the line at h + 0.5";
    world.loop.advance(kBNGravityStep);
    EXPECT_EQ(banner->state(), BNToastState::displaying);
    double highest = 0.5;
    for (int k = 0; k < 60; ++k) {
        world.loop.advance(kBNGravityStep);
        highest = std::min(highest, banner->notificationView().frame().y);
    }
    EXPECT_LT(highest, -2) << "it bounced";
    EXPECT_DOUBLE_EQ(banner->notificationView().frame().y, 0.5);
}

TEST_F(BannerManagerTest, PushedGravityMovesTheStripAndTheQueueGoesOn) {
    const BNToastOptions falling{{key(kBNToastAnimationInTypeKey), std::int64_t{2}},
                                 {key(kBNToastAnimationOutTypeKey), std::int64_t{2}},
                                 {key(kBNToastTextKey), std::string("pushed")}};
    manager->showNotificationWithOptions(falling, [&] { done.push_back("first"); });
    manager->showNotificationWithOptions(falling, [&] { done.push_back("second"); });
    const auto first = manager->notification();
    // The strip falls out of the area, the banner comes down after it and they land on the
    // line at 2 (h - 2) = 36: the 19-point strip sits on it, the 20-point banner on the strip.
    world.loop.advance(2.0);
    EXPECT_EQ(first->state(), BNToastState::displaying);
    EXPECT_DOUBLE_EQ(strip()->frame().y, 17);
    EXPECT_DOUBLE_EQ(view()->frame().y, -3);
    // Out at the bottom: both fall onto the line under the area, and the first end of a
    // contact completes the banner; the second one then falls in.
    world.loop.advance(2.0);
    EXPECT_EQ(done, std::vector<std::string>{"first"});
    EXPECT_NE(manager->notification(), first);
    world.loop.advance(10.0);
    EXPECT_EQ(done, (std::vector<std::string>{"first", "second"}));
}

TEST_F(BannerManagerTest, AFallThatCanNeverEndStillShowsAndCompletesItsBanner) {
    // Without gravity nothing reaches the line, and no contact would ever end the animation.
    manager->showNotificationWithOptions({{key(kBNToastAnimationInTypeKey), std::int64_t{2}},
                                          {key(kBNToastAnimationOutTypeKey), std::int64_t{2}},
                                          {key(kBNToastAnimationGravityMagnitudeKey), 0.0}},
                                         [&] { done.push_back("done"); });
    manager->showNotificationWithMessage("next", [&] { done.push_back("next"); });
    EXPECT_EQ(manager->notification()->state(), BNToastState::displaying);
    world.loop.advance(2.0);
    EXPECT_EQ(done, std::vector<std::string>{"done"});
    world.loop.advance(3.0);
    EXPECT_EQ(done, (std::vector<std::string>{"done", "next"}));
}

TEST_F(BannerManagerTest, NoAnnouncementWithoutTextAndOddAnimationKindsStillComplete) {
    manager->showNotificationWithOptions({{key(kBNToastAnimationInTypeKey), std::int64_t{7}},
                                          {key(kBNToastAnimationOutTypeKey), std::int64_t{7}}},
                                         [&] { done.push_back("done"); });
    EXPECT_EQ(manager->notification()->state(), BNToastState::displaying);
    EXPECT_EQ(view()->frame(), (Rect{0, -20, 414, 20})) << "nothing moves";
    world.loop.advance(2.0);
    EXPECT_EQ(done, std::vector<std::string>{"done"});
    EXPECT_TRUE(accessibility.announcements.empty());
}

TEST_F(BannerTest, TheBannerViewLaysOutFromItsOptionsWithTheFakeMetrics) {
    UiWorld world({320, 568});
    const auto image = platform::image::imageOf(QImage(30, 30, QImage::Format_ARGB32));
    const struct {
        const char* name;
        BNToastOptions options;
        double height;
        Rect label, subtitle, imageFrame;
    } cases[] = {
        {"error banner", {{key(kBNToastTextKey), std::string("x")}}, 65, {10, 0, 300, 65}, {}, {0, 0, 0, 0}},
        {"right image",
         {{key(kBNToastImageKey), image}, {key(kBNToastImageAlignmentKey), std::int64_t{2}}},
         44, {10, 0, 276, 44}, {}, {276, 0, 44, 44}},
        {"left image",
         {{key(kBNToastImageKey), image}},
         44, {44, 0, 276, 44}, {}, {0, 0, 44, 44}},
        {"left indicator", {{key(kBNToastShowActivityIndicatorKey), true}}, 44, {44, 0, 276, 44}, {}, {0, 0, 0, 0}},
        {"under the status bar", {{key(kBNToastUnderStatusBarKey), true}}, 65, {10, 15, 300, 50}, {}, {0, 15, 0, 0}},
        // Text 12 pt: 14-point lines; "aaaa bbbb" at 12 pt on 300 points is one line.
        {"subtitle",
         {{key(kBNToastTextKey), std::string("aaaa bbbb")}, {key(kBNToastSubtitleTextKey), std::string("cc")}},
         65, {10, 18.5, 300, 14}, {10, 32.5, 300, 14}, {0, 0, 0, 0}},
        // Two 24-point lines of text, a 29-point subtitle line: too tall, the subtitle shrinks.
        {"subtitle squeezed",
         {{key(kBNToastTextKey), std::string(40, 'a')},
          {key(kBNToastFontKey), BNToastFont{"", 20}},
          {key(kBNToastSubtitleTextKey), std::string("cc")},
          {key(kBNToastSubtitleFontKey), BNToastFont{"", 24}}},
         65, {10, 5, 300, 48}, {10, 53, 300, 7}, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto toast = make(c.options);
        BNToastView view;
        view.setFrame({0, 0, 320, c.height});
        view.setToast(toast.get());
        EXPECT_EQ(view.label().frame(), c.label);
        if (toast->subtitleText()) {
            EXPECT_EQ(view.subtitleLabel().frame(), c.subtitle);
        }
        EXPECT_EQ(view.imageView().frame(), c.imageFrame);
    }
}

TEST_F(BannerTest, TheIndicatorTakesItsStyleAndStaysCentredInItsSquare) {
    UiWorld world({320, 568});
    const platform::ui::Color white{1, 1, 1, 1};
    const platform::ui::Color grey{0.5, 0.5, 0.5, 1};
    const struct {
        std::int64_t style;
        double side;
        platform::ui::Color colour;
    } cases[] = {{0, 37, white}, {1, 20, white}, {2, 20, grey}, {9, 20, white}};
    for (const auto& c : cases) {
        const auto toast = make({{key(kBNToastShowActivityIndicatorKey), true},
                                 {key(kBNToastActivityIndicatorViewStyleKey), c.style}});
        BNToastView view;
        view.setFrame({0, 0, 320, 44});
        view.setToast(toast.get());
        const Rect f = view.activityIndicator().frame();
        EXPECT_EQ(f.width, c.side) << c.style;
        EXPECT_EQ((Point{f.x + f.width / 2, f.y + f.height / 2}), (Point{22, 22})) << c.style;
        EXPECT_EQ(view.activityIndicator().color(), c.colour) << c.style;
    }
}

TEST_F(BannerTest, TheBannerViewGivesItsLabelsTheTextShadowsOnlyWithAColour) {
    UiWorld world({320, 568});
    using platform::ui::Shadow;
    const platform::ui::Color red{1, 0, 0, 1};
    const platform::ui::Color blue{0, 0, 1, 0.5};
    const struct {
        const char* name;
        BNToastOptions options;
        std::optional<Shadow> text, subtitle;
    } cases[] = {
        {"none", {}, std::nullopt, std::nullopt},
        {"an offset without a colour", {{key(kBNToastTextShadowOffsetKey), platform::ui::Size{2, 2}}},
         std::nullopt, std::nullopt},
        {"the text's", {{key(kBNToastTextShadowColorKey), red}, {key(kBNToastTextShadowOffsetKey), platform::ui::Size{3, 3}}},
         Shadow{red, 1, 0, {3, 3}}, std::nullopt},
        {"the subtitle's, at the default offset", {{key(kBNToastSubtitleTextShadowColorKey), blue}},
         std::nullopt, Shadow{blue, 1, 0, {0, 0}}},
        {"both",
         {{key(kBNToastTextShadowColorKey), red},
          {key(kBNToastSubtitleTextShadowColorKey), blue},
          {key(kBNToastSubtitleTextShadowOffsetKey), platform::ui::Size{-1, 2}}},
         Shadow{red, 1, 0, {0, 0}}, Shadow{blue, 1, 0, {-1, 2}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto options = c.options;
        options[key(kBNToastTextKey)] = std::string("Text");
        options[key(kBNToastSubtitleTextKey)] = std::string("Subtitle");
        const auto toast = make(options);
        BNToastView view;
        view.setFrame({0, 0, 320, 65});
        view.setToast(toast.get());
        EXPECT_EQ(view.label().shadow(), c.text);
        EXPECT_EQ(view.subtitleLabel().shadow(), c.subtitle);
    }
}

}  // namespace
