#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/RunLoop.h"
#include "platform/media/MprisMediaPlayer.h"
#include "support/PrivateBus.h"
#include "support/TempDir.h"
#include "support/mpris/MprisTestPlayer.h"

namespace {

using platform::media::MprisMediaPlayer;
using platform::media::NowPlayingItem;
using platform::media::PlaybackState;
using testing_support::MprisTestPlayer;

class CountingObserver final : public platform::media::MediaPlayerObserver {
public:
    void nowPlayingItemChanged() override { ++items; }
    void playbackStateChanged() override { ++states; }
    void volumeChanged() override { ++volumes; }
    int items = 0;
    int states = 0;
    int volumes = 0;
};

// The real backend against the tests' own player on a bus of the test's own. The loop runs on
// the real clock, since the bus's signals come when they come; every wait is for an event,
// bounded.
class MprisMediaPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto started = testing_support::BusWithPlayer::start("kavotest");
        if (started.bus == nullptr) {
            GTEST_SKIP() << "no private bus: " << started.whyNot;
        }
        ASSERT_NE(started.player, nullptr) << started.whyNot;
        bus = std::move(started.bus);
        player = std::move(started.player);
        media = std::make_unique<MprisMediaPlayer>(loop, bus->address());
        media->setObserver(&observer);
        media->beginGeneratingPlaybackNotifications();
    }

    // Runs the loop until done() holds, at most a bound; done()'s value.
    bool runUntil(const std::function<bool()>& done) {
        bool bounded = false;
        auto guard = loop.scheduleTimer(10, false, [&] { bounded = true; });
        loop.runUntil([&] { return done() || bounded; });
        guard->invalidate();
        return done();
    }

    std::unique_ptr<testing_support::PrivateBus> bus;
    std::unique_ptr<MprisTestPlayer> player;
    platform::RunLoop loop{platform::RunLoop::Clock::real};
    CountingObserver observer;
    std::unique_ptr<MprisMediaPlayer> media;
};

TEST_F(MprisMediaPlayerTest, CommandsReachThePlayerAndItsChangesComeBack) {
    ASSERT_TRUE(media->hasBus());
    EXPECT_EQ(media->activePlayer(), player->busName());
    EXPECT_EQ(media->playbackState(), PlaybackState::stopped);
    EXPECT_EQ(media->currentPlaybackRate(), 0);

    media->play();
    EXPECT_EQ(player->status(), "Playing");
    EXPECT_EQ(media->playbackState(), PlaybackState::playing);
    EXPECT_EQ(media->currentPlaybackRate(), 1.0);
    EXPECT_TRUE(runUntil([&] { return observer.states >= 1; }));

    media->pause();
    EXPECT_EQ(player->status(), "Paused");
    EXPECT_EQ(media->playbackState(), PlaybackState::paused);
    EXPECT_EQ(media->currentPlaybackRate(), 0);

    media->skipToNextItem();
    EXPECT_EQ(media->nowPlayingItem(), (NowPlayingItem{"The Testers", "Second Wind"}));
    EXPECT_TRUE(runUntil([&] { return observer.items >= 1; }));

    EXPECT_EQ(player->calls(), (std::vector<std::string>{"Play", "Pause", "Next"}));
}

TEST_F(MprisMediaPlayerTest, AVolumeChangeIsSeenByBothSides) {
    media->setVolume(0.25);
    EXPECT_DOUBLE_EQ(player->volume(), 0.25);
    EXPECT_DOUBLE_EQ(media->volume(), 0.25);
    EXPECT_TRUE(runUntil([&] { return observer.volumes == 1; }));

    // Another program turns the player up: the phone hears of it and reads the new volume.
    MprisTestPlayer::setVolumeFromAnotherProgram(bus->address(), player->busName(), 0.75);
    EXPECT_TRUE(runUntil([&] { return observer.volumes == 2; }));
    EXPECT_DOUBLE_EQ(media->volume(), 0.75);
}

TEST_F(MprisMediaPlayerTest, APlayerThatLeavesLeavesNoPlayerBehind) {
    player.reset();
    EXPECT_TRUE(runUntil([&] { return !media->activePlayer().has_value(); }));
    EXPECT_EQ(media->playbackState(), PlaybackState::stopped);
    EXPECT_EQ(media->nowPlayingItem(), std::nullopt);
    media->play();  // nothing to play on, nothing fails
}

// The environment names no session bus and the runtime folder holds none.
class ScopedNoSessionBus {
public:
    ScopedNoSessionBus() {
        save("DBUS_SESSION_BUS_ADDRESS", address_);
        save("XDG_RUNTIME_DIR", runtime_);
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        ::setenv("XDG_RUNTIME_DIR", folder_.path().c_str(), 1);
    }
    ~ScopedNoSessionBus() {
        restore("DBUS_SESSION_BUS_ADDRESS", address_);
        restore("XDG_RUNTIME_DIR", runtime_);
    }

private:
    static void save(const char* name, std::optional<std::string>& into) {
        if (const char* value = std::getenv(name)) {
            into = value;
        }
    }
    static void restore(const char* name, const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    testing_support::TempDir folder_;
    std::optional<std::string> address_;
    std::optional<std::string> runtime_;
};

TEST(MprisMediaPlayerWithoutBusTest, NoSessionBusIsAPlayerThatIsNeverThere) {
    ScopedNoSessionBus noBus;
    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
    MprisMediaPlayer media(loop);
    EXPECT_FALSE(media.hasBus());
    EXPECT_EQ(media.activePlayer(), std::nullopt);
    EXPECT_EQ(media.playbackState(), PlaybackState::stopped);
    EXPECT_EQ(media.volume(), 0);
    media.play();
    media.setVolume(0.5);
    media.beginSeekingForward();
    EXPECT_EQ(media.playbackState(), PlaybackState::stopped);
}

}  // namespace
