#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/media/MprisMediaPlayer.h"
#include "services/ServicesWorld.h"
#include "support/PrivateBus.h"
#include "support/mpris/MprisTestPlayer.h"

namespace services_test {
namespace {

namespace requests = kavowatch::requests;

// The watch's music keys on the simulated air drive the desktop's player through the real
// MPRIS backend, here the tests' own player on a private bus. Commands and reads are calls,
// done when they return, so the virtual clock of the air needs no help from the bus's.
class MusicOverMprisTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto started = testing_support::BusWithPlayer::start("kavowatchtest");
        if (started.bus == nullptr) {
            GTEST_SKIP() << "no private bus: " << started.whyNot;
        }
        ASSERT_NE(started.player, nullptr) << started.whyNot;
        bus = std::move(started.bus);
        player = std::move(started.player);
        media = std::make_unique<platform::media::MprisMediaPlayer>(services.world.loop,
                                                                    bus->address());
        music = std::make_unique<TQMusicControl>(*services.world.ap, *media, services.world.loop);
        services.world.handlers.registry.musicControl = music.get();
        services.connect();
    }
    void TearDown() override { services.world.handlers.registry.musicControl = &services.music; }

    ServicesWorld services;
    std::unique_ptr<testing_support::PrivateBus> bus;
    std::unique_ptr<testing_support::MprisTestPlayer> player;
    std::unique_ptr<platform::media::MprisMediaPlayer> media;
    std::unique_ptr<TQMusicControl> music;
};

TEST_F(MusicOverMprisTest, TheWatchsKeysPlayPauseSkipAndTurnUpTheDesktopsPlayer) {
    services.ask(requests::musicKey("playpause"));
    EXPECT_EQ(player->status(), "Playing");
    services.ask(requests::musicKey("pause"));
    EXPECT_EQ(player->status(), "Paused");
    services.ask(requests::musicKey("forward"));
    EXPECT_EQ(player->title(), "Second Wind");
    services.ask(requests::musicKey("play"));
    EXPECT_EQ(player->status(), "Playing");

    // The level the phone knows is the player's 0.5, so up is one step of 6.25 %.
    services.ask(requests::musicVolume("up"));
    EXPECT_DOUBLE_EQ(player->volume(), 0.5625);

    const std::size_t from = services.mark();
    services.ask(requests::musicKeepAlive());
    EXPECT_EQ(services.received(from, "music-playstatechange-rsp").at(0).json["playstate"],
              Value(3));
    const auto nowPlaying = services.received(from, "music-mediachanged-ind").at(0).json;
    EXPECT_EQ(nowPlaying["title"], Value("Second Wind"));
    EXPECT_EQ(nowPlaying["artist"], Value("The Testers"));
    EXPECT_EQ(player->calls(),
              (std::vector<std::string>{"Play", "Pause", "Next", "Play", "SetVolume"}));
}

}  // namespace
}  // namespace services_test
