#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "services/ServicesWorld.h"

namespace services_test {
namespace {

using platform::media::NowPlayingItem;
using platform::media::PlaybackState;

class MusicControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        services.connect();
        services.music.registerMediaPlayerNotifications();
    }
    void send(const Value& message) { services.world.send(message, 9); }
    std::vector<Value> music(std::size_t from, std::string_view msgId) const {
        std::vector<Value> found;
        for (const auto& reply : services.received(from, msgId)) {
            EXPECT_EQ(reply.appId, 9);
            EXPECT_EQ(reply.priority, 1);
            found.push_back(reply.json);
        }
        return found;
    }
    void enableReports() {
        send(Value{{"msgId", "music-mediachanged-req"}, {"value", true}});
        ASSERT_TRUE(services.music.isMediaChangedReqEnabled());
    }
    Value volumeReport(std::uint32_t level) const {
        return Value{{"msgId", "music-volumechange-rsp"}, {"result", "success"}, {"volume", level}};
    }

    ServicesWorld services;
};

TEST(MusicVolumeLevelTest, LevelsAreSeventeenStepsOfTheVolume) {
    const struct {
        double volume;
        std::uint32_t level;
    } cases[] = {{0.0, 0}, {0.03, 0}, {0.04, 1}, {0.5, 8}, {0.97, 16}, {1.0, 16}, {0.0625, 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(TQMusicControl::volumeLevel(c.volume), c.level) << c.volume;
    }
    EXPECT_DOUBLE_EQ(TQMusicControl::playerVolume(8), 0.5);
}

TEST_F(MusicControlTest, KeysFromTheWatchDriveThePlayer) {
    const struct {
        const char* action;
        const char* status;
        PlaybackState before;
        const char* command;  // "" for none
    } cases[] = {
        {"playpause", "pressed", PlaybackState::stopped, "playLibrary"},
        {"playpause", "pressed", PlaybackState::paused, "play"},
        {"playpause", "pressed", PlaybackState::playing, "pause"},
        {"play", "pressed", PlaybackState::playing, ""},
        {"pause", "pressed", PlaybackState::paused, ""},
        {"stop", "pressed", PlaybackState::paused, "stop"},
        {"forward", "pressed", PlaybackState::playing, "next"},
        {"backward", "pressed", PlaybackState::playing, "previous"},
        {"fastforward", "pressed", PlaybackState::playing, "seekForward"},
        {"fastforward", "released", PlaybackState::seekingForward, "endSeeking"},
        {"rewind", "pressed", PlaybackState::playing, "seekBackward"},
        {"forward", "released", PlaybackState::playing, ""},
        {"dance", "pressed", PlaybackState::playing, ""},
    };
    for (const auto& c : cases) {
        const bool moving =
            c.before == PlaybackState::playing || c.before == PlaybackState::seekingForward;
        services.player.userSetsState(c.before, moving ? 1.0 : 0.0);
        services.player.commands.clear();
        const std::size_t from = services.mark();
        send(Value{
            {"msgId", "music-remotecontrol-req"}, {"action", c.action}, {"status", c.status}});
        const std::vector<std::string> expected = std::string(c.command).empty()
                                                      ? std::vector<std::string>{}
                                                      : std::vector<std::string>{c.command};
        EXPECT_EQ(services.player.commands, expected) << c.action << " " << c.status;
        EXPECT_TRUE(services.world.repliesSince(from).empty()) << "keys are not answered";
    }
}

TEST_F(MusicControlTest, TheWatchLearnsWhatPlaysAndAllMusicGoesUnacknowledged) {
    services.player.userChangesItem(NowPlayingItem{"The Testers", "First Light"});
    services.player.userSetsState(PlaybackState::playing, 1.0);
    const std::size_t from = services.mark();
    enableReports();
    EXPECT_EQ(music(from, "music-mediachanged-ind"),
              (std::vector<Value>{{{"msgId", "music-mediachanged-ind"},
                                   {"artist", "The Testers"},
                                   {"title", "First Light"}}}));
    EXPECT_EQ(
        music(from, "music-playstatechange-rsp"),
        (std::vector<Value>{
            {{"msgId", "music-playstatechange-rsp"}, {"result", "success"}, {"playstate", 3}}}));
    for (const auto& message : services.world.watch.messages().all()) {
        if (message.appId == 9) {
            EXPECT_FALSE(message.acknowledged) << message.msgId;
        }
    }

    // Changes on the phone are reported while reports are on; an interrupted player has no code.
    const std::size_t later = services.mark();
    services.player.userChangesItem(std::nullopt);
    services.player.userSetsState(PlaybackState::interrupted, 0);
    services.world.loop.advance(1.0);
    EXPECT_EQ(
        music(later, "music-mediachanged-ind"),
        (std::vector<Value>{{{"msgId", "music-mediachanged-ind"}, {"artist", ""}, {"title", ""}}}));
    EXPECT_EQ(
        music(later, "music-playstatechange-rsp"),
        (std::vector<Value>{{{"msgId", "music-playstatechange-rsp"}, {"result", "success"}}}));
}

TEST_F(MusicControlTest, CapabilityIsAnsweredOnlyForADistinctState) {
    std::size_t from = services.mark();
    send(Value{{"msgId", "capability-feature-ind"}, {"distinct-state", false}});
    EXPECT_TRUE(services.world.repliesSince(from).empty());
    send(Value{{"msgId", "capability-feature-ind"}, {"distinct-state", true}});
    EXPECT_EQ(music(from, "capability-feature-rsp"),
              (std::vector<Value>{
                  {{"msgId", "capability-feature-rsp"}, {"result", 1}, {"volumemax-state", 16}}}));
}

TEST_F(MusicControlTest, ABurstOfVolumeChangesIsReportedAtItsStartAndOnceMoreAfterTheHold) {
    enableReports();
    const std::size_t from = services.mark();
    const double start = services.world.loop.now();
    services.player.userSetsVolume(0.25);  // level 4
    services.world.loop.runUntilIdle();
    services.world.loop.advance(0.05);
    services.player.userSetsVolume(0.375);  // level 6
    services.world.loop.advance(0.05);
    services.player.userSetsVolume(0.625);  // level 10
    services.world.loop.advance(1.0);
    const auto reports = services.received(from, "music-volumechange-rsp");
    ASSERT_EQ(reports.size(), 2U);
    EXPECT_EQ(reports[0].json, volumeReport(4));
    EXPECT_EQ(reports[1].json, volumeReport(10));
    // The second one was sent when the 0.2 s hold ran out, on the virtual clock.
    const auto& log = services.world.watch.messages().all();
    EXPECT_GE(log.back().time - start, TQMusicControl::kVolumeHold);
    EXPECT_LT(log.back().time - start, TQMusicControl::kVolumeHold + 0.3);
    EXPECT_EQ(services.music.currentVolumeLevel(), 10U);
}

TEST_F(MusicControlTest, VolumeStepsStopAtTheEndsAndMuteKeepsTheLevelForUnmute) {
    enableReports();
    const auto step = [&](const char* volume, const char* mute) {
        send(Value{{"msgId", "music-setattribute-req"}, {"volume", volume}, {"mute", mute}});
    };
    services.player.userSetsVolume(1.0);
    services.world.loop.advance(1.0);
    std::size_t from = services.mark();
    step("up", "on");  // only the volume step, and at 16 nothing
    EXPECT_TRUE(services.received(from, "music-volumechange-rsp").empty());
    EXPECT_DOUBLE_EQ(services.player.volume(), 1.0);

    step("down", "nochange");
    services.world.loop.advance(1.0);
    EXPECT_EQ(services.music.currentVolumeLevel(), 15U);

    from = services.mark();
    step("nochange", "on");
    EXPECT_DOUBLE_EQ(services.player.volume(), 0.0);
    send(Value{{"msgId", "music-getattribute-req"}});
    step("nochange", "off");
    EXPECT_DOUBLE_EQ(services.player.volume(), TQMusicControl::playerVolume(15));
    EXPECT_EQ(services.received(from, "music-volumechange-rsp").size(), 2U);
    EXPECT_EQ(services.received(from, "music-volumechange-rsp")[0].json, volumeReport(0));
    EXPECT_EQ(services.received(from, "music-getattribute-rsp")[0].json,
              (Value{{"msgId", "music-getattribute-rsp"}, {"result", "success"}, {"volume", 15}}));
    EXPECT_EQ(services.received(from, "music-volumechange-rsp")[1].json, volumeReport(15));
}

// Muting a player that is already silent changes nothing, so no notification would clear a
// mark: the user's next real change must still be reported.
TEST_F(MusicControlTest, MutingASilentPlayerDoesNotSwallowTheUsersNextChange) {
    enableReports();
    services.player.userSetsVolume(0.0);
    services.world.loop.advance(1.0);
    send(Value{{"msgId", "music-setattribute-req"}, {"volume", "nochange"}, {"mute", "on"}});
    const std::size_t from = services.mark();
    services.player.userSetsVolume(0.5);
    services.world.loop.advance(1.0);
    EXPECT_EQ(services.received(from, "music-volumechange-rsp").front().json, volumeReport(8));
}

TEST_F(MusicControlTest, WhileTheHomeScreenIsNotTheRootMusicIsNotAnswered) {
    services.world.host.navigator.homeScreenIsRoot = false;
    const std::size_t from = services.mark();
    send(Value{{"msgId", "music-getattribute-req"}});
    EXPECT_TRUE(services.world.repliesSince(from).empty());
}

}  // namespace
}  // namespace services_test
