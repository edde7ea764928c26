#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "services/ServicesWorld.h"

namespace services_test {
namespace {

using platform::audio::QueuePlayer;

TEST(FinderCopiesTest, ASoundIsQueuedOftenEnoughToLoopAndAnUnusableDurationIsNot) {
    const struct {
        double duration;
        std::optional<int> copies;
    } cases[] = {{3.0, 2},
                 {1.5, 2},
                 {1.0, 3},
                 {0.5, 4},
                 {0.0, std::nullopt},
                 {-1.0, std::nullopt},
                 {std::numeric_limits<double>::infinity(), std::nullopt},
                 {std::numeric_limits<double>::quiet_NaN(), std::nullopt}};
    for (const auto& c : cases) {
        EXPECT_EQ(TQFinderMediaPlayer::copiesFor(c.duration), c.copies) << c.duration;
    }
}

// The alarm on its own, over the fake sink on the virtual clock.
class FinderMediaPlayerTest : public ::testing::Test {
protected:
    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop mainLoop{loop};
    platform::audio::FakeAudioSink sink{loop};
    QueuePlayer queue{sink};
    ManualSoundLoader loader;
    TQFinderMediaPlayer alarm{queue, loader, loop, "alarm.wav"};
};

TEST_F(FinderMediaPlayerTest, AThreeSecondSoundAlternatesTwoItemsUntilStopped) {
    alarm.playAudio();
    ASSERT_EQ(loader.pending.size(), 1U);
    EXPECT_EQ(loader.pending[0].first, "alarm.wav");
    loader.finish(0, soundOf(3.0));
    ASSERT_EQ(queue.items().size(), 2U);
    const auto first = queue.items()[0];
    const auto second = queue.items()[1];
    EXPECT_TRUE(alarm.isPlaying());

    loop.advance(3.0);
    EXPECT_EQ(queue.items(), (std::deque<QueuePlayer::Item>{second, first}));
    loop.advance(3.0);
    EXPECT_EQ(queue.items(), (std::deque<QueuePlayer::Item>{first, second}));
    loop.advance(60.0);
    EXPECT_EQ(sink.started.size(), 23U) << "the sound never runs dry";

    alarm.stopPlayback();
    EXPECT_FALSE(alarm.isPlaying());
    EXPECT_TRUE(queue.items().empty());
    EXPECT_FALSE(sink.isSounding());
    loop.advance(10.0);
    EXPECT_EQ(sink.started.size(), 23U);
}

TEST_F(FinderMediaPlayerTest, AStopWhileTheSoundLoadsCancelsIt) {
    alarm.playAudio();
    alarm.stopPlayback();
    loader.finish(0, soundOf(1.0));
    loop.advance(5.0);
    EXPECT_TRUE(queue.items().empty());
    EXPECT_TRUE(sink.started.empty());
    EXPECT_FALSE(alarm.isPlaying());
}

TEST_F(FinderMediaPlayerTest, TwoQuickPlaysQueueOneSetAndObserveOnce) {
    alarm.playAudio();
    alarm.playAudio();
    loader.finish(0, soundOf(3.0));  // superseded
    loader.finish(1, soundOf(3.0));
    EXPECT_EQ(queue.items().size(), 2U);
    loop.advance(3.0);
    EXPECT_EQ(queue.items().size(), 2U) << "the ended item went back once, not twice";
    // A play while playing starts afresh.
    alarm.playAudio();
    EXPECT_TRUE(queue.items().empty());
    loader.finish(2, soundOf(0.5));
    EXPECT_EQ(queue.items().size(), 4U);
}

TEST_F(FinderMediaPlayerTest, ASoundWithoutAUsableDurationPlaysNothing) {
    alarm.playAudio();
    loader.finish(0, soundOf(0.0));
    alarm.playAudio();
    loader.finish(1, platform::Error{"test", 1, "unreadable"});
    EXPECT_TRUE(queue.items().empty());
    EXPECT_TRUE(sink.started.empty());
    EXPECT_FALSE(alarm.isPlaying());
}

TEST_F(FinderMediaPlayerTest, RemoteControlEventsAndTheAlertsButtons) {
    alarm.stopPlayback();  // idle: nothing to stop, nothing fails
    alarm.playAudio();
    loader.finish(0, soundOf(2.0));
    alarm.remoteControlReceivedWithEvent(TQRemoteControlEvent::togglePlayPause);
    EXPECT_FALSE(alarm.isPlaying());
    alarm.remoteControlReceivedWithEvent(TQRemoteControlEvent::togglePlayPause);
    EXPECT_TRUE(alarm.isPlaying());
    alarm.remoteControlReceivedWithEvent(TQRemoteControlEvent::pause);
    EXPECT_FALSE(alarm.isPlaying());
    alarm.remoteControlReceivedWithEvent(TQRemoteControlEvent::play);
    EXPECT_TRUE(alarm.isPlaying());
    alarm.remoteControlReceivedWithEvent(TQRemoteControlEvent::other);
    EXPECT_TRUE(alarm.isPlaying());
    alarm.alertViewClickedButtonAtIndex(1);
    EXPECT_FALSE(alarm.isPlaying());
    EXPECT_TRUE(queue.items().empty());
}

TEST_F(FinderMediaPlayerTest, NoSoundServerIsNotPlaying) {
    sink.refuseWith = platform::Error{platform::audio::kErrorDomain, 10, "no sound server"};
    alarm.playAudio();
    loader.finish(0, soundOf(1.0));
    loop.runUntilIdle();
    EXPECT_FALSE(alarm.isPlaying());
}

// The watch rings the phone over the air, and the ringing stops from the watch or the phone.
class FindMyPhoneOnTheAirTest : public ::testing::Test {
protected:
    void SetUp() override { services.connect(); }
    void send(const Value& message) { services.world.send(message, 2); }
    // Starts the ringing and lets the sound load.
    void ring() {
        services.ask(kavowatch::requests::findMyPhoneStart());
        ASSERT_FALSE(services.loader.pending.empty());
        services.loader.finish(services.loader.pending.size() - 1, soundOf(1.5));
    }

    ServicesWorld services;
};

TEST_F(FindMyPhoneOnTheAirTest, TheWatchRingsThePhoneAndItsStopCommandSilencesIt) {
    std::size_t from = services.mark();
    ring();
    EXPECT_TRUE(services.sink.isSounding());
    EXPECT_TRUE(services.findMyDevice.isAlertShowing());
    const auto started = services.received(from, "fmp-startalert-rsp");
    ASSERT_EQ(started.size(), 1U);
    EXPECT_EQ(started[0].appId, 2);
    EXPECT_EQ(started[0].json, (Value{{"cmd", "findMyDevice"},
                                      {"msgId", "fmp-startalert-rsp"},
                                      {"reason", 0},
                                      {"result", 0}}));
    services.world.loop.advance(10.0);
    EXPECT_GE(services.sink.started.size(), 7U) << "the sound loops";

    // A second start is answered but does not ring twice.
    send(Value{{"msgId", "fmp-startalert-req"}});
    EXPECT_EQ(services.loader.pending.size(), 1U);
    EXPECT_EQ(services.received(from, "fmp-startalert-rsp").size(), 2U);

    // The watch's stop request is only answered; its stop command silences the phone.
    from = services.mark();
    send(Value{{"msgId", "fmp-stopalert-req"}});
    EXPECT_EQ(services.received(from, "fmp-stopalert-rsp")[0].json,
              (Value{{"cmd", "findMyDevice"},
                     {"msgId", "fmp-stopalert-rsp"},
                     {"reason", "0"},
                     {"result", "success"}}));
    EXPECT_TRUE(services.sink.isSounding());
    services.ask(kavowatch::requests::findMyPhoneStop());
    EXPECT_FALSE(services.sink.isSounding());
    EXPECT_FALSE(services.findMyDevice.isAlertShowing());
    EXPECT_FALSE(services.alarm.isPlaying());
}

TEST_F(FindMyPhoneOnTheAirTest, TheUsersStopOnThePhoneSilencesItAndTellsTheWatch) {
    ring();
    ASSERT_NE(services.findMyDevice.findMyDeviceAlert(), nullptr);
    const std::size_t from = services.mark();
    services.findMyDevice.findMyDeviceAlert()->okButtonPressed();
    services.world.loop.advance(1.0);
    EXPECT_FALSE(services.sink.isSounding());
    EXPECT_FALSE(services.findMyDevice.isAlertShowing());
    const auto told = services.world.repliesSince(from);
    ASSERT_EQ(told.size(), 1U);
    EXPECT_EQ(told[0].appId, 2);
    EXPECT_EQ(ServicesWorld::fields(told[0].json),
              (Value{{"cmd", "findMyDevice"}, {"subcmd", "stop"}}));
    // The phone can be rung again.
    ring();
    EXPECT_TRUE(services.sink.isSounding());
}

}  // namespace
}  // namespace services_test
