#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "platform/audio/AudioSink.h"
#include "platform/audio/PulseAudioSink.h"
#include "platform/audio/QueuePlayer.h"
#include "platform/audio/Sound.h"
#include "platform/foundation/RunLoop.h"
#include "support/TempDir.h"

namespace {

using platform::audio::FakeAudioSink;
using platform::audio::PlayerItem;
using platform::audio::QueuePlayer;
using platform::audio::Sound;

std::shared_ptr<const Sound> soundOf(double seconds, int rate = 1000) {
    auto sound = std::make_shared<Sound>();
    sound->sampleRate = rate;
    sound->channels = 1;
    sound->samples.assign(static_cast<std::size_t>(seconds * rate), 0);
    return sound;
}

TEST(SoundFileTest, AWrittenWavReadsBackSampleForSample) {
    testing_support::TempDir folder;
    Sound sound;
    sound.sampleRate = 8000;
    sound.channels = 2;
    for (int i = 0; i < 1600; ++i) {
        sound.samples.push_back(static_cast<std::int16_t>(i * 37 - 30000));
    }
    ASSERT_TRUE(platform::audio::writeWavFile(folder.path() / "s.wav", sound).ok());
    const auto read = platform::audio::readSoundFile(folder.path() / "s.wav");
    ASSERT_TRUE(read.ok()) << read.error().message;
    EXPECT_EQ(read.value()->sampleRate, 8000);
    EXPECT_EQ(read.value()->channels, 2);
    EXPECT_EQ(read.value()->samples, sound.samples);
    EXPECT_DOUBLE_EQ(read.value()->duration(), 0.1);
}

TEST(SoundFileTest, WhatIsNotASoundOrHasNoFramesIsAnError) {
    testing_support::TempDir folder;
    std::FILE* text = std::fopen((folder.path() / "t.wav").c_str(), "w");
    std::fputs("not a sound", text);
    std::fclose(text);
    EXPECT_FALSE(platform::audio::readSoundFile(folder.path() / "t.wav").ok());
    EXPECT_FALSE(platform::audio::readSoundFile(folder.path() / "missing.wav").ok());
    Sound empty;
    empty.sampleRate = 8000;
    empty.channels = 1;
    ASSERT_TRUE(platform::audio::writeWavFile(folder.path() / "e.wav", empty).ok());
    EXPECT_FALSE(platform::audio::readSoundFile(folder.path() / "e.wav").ok());
}

TEST(FileSoundLoaderTest, TheSoundArrivesLaterOnTheLoop) {
    testing_support::TempDir folder;
    ASSERT_TRUE(platform::audio::writeWavFile(folder.path() / "a.wav", *soundOf(0.5)).ok());
    platform::RunLoop loop{platform::RunLoop::Clock::real};
    std::optional<double> duration;
    {
        platform::audio::FileSoundLoader loader(loop);
        loader.load(folder.path() / "a.wav",
                    [&](auto sound) { duration = sound.ok() ? sound.value()->duration() : -1.0; });
        EXPECT_FALSE(duration.has_value()) << "not before the loop runs";
    }
    loop.runUntilIdle();
    EXPECT_EQ(duration, 0.5);
}

class QueuePlayerTest : public ::testing::Test {
protected:
    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
    FakeAudioSink sink{loop};
    QueuePlayer player{sink};
    std::vector<QueuePlayer::Item> changes;
};

TEST_F(QueuePlayerTest, ItemsPlayInOrderAndLeaveTheQueueAsTheyEnd) {
    auto first = std::make_shared<PlayerItem>(PlayerItem{soundOf(1.0)});
    auto second = std::make_shared<PlayerItem>(PlayerItem{soundOf(2.0)});
    player.setCurrentItemObserver([&](const QueuePlayer::Item& old) { changes.push_back(old); });
    player.insertAtEnd(first);
    player.insertAtEnd(second);
    EXPECT_FALSE(player.canInsert(first));
    player.play();
    EXPECT_EQ(sink.started.size(), 1U);
    loop.advance(1.0);
    EXPECT_EQ(player.currentItem(), second);
    EXPECT_EQ(sink.started.size(), 2U);
    // Paused half-way, the rest of the sound waits.
    loop.advance(1.0);
    player.pause();
    loop.advance(5.0);
    EXPECT_EQ(player.currentItem(), second);
    player.play();
    loop.advance(1.0);
    EXPECT_EQ(player.currentItem(), nullptr);
    EXPECT_EQ(changes, (std::vector<QueuePlayer::Item>{nullptr, first, second}));
}

TEST_F(QueuePlayerTest, ASinkThatCannotPlayIsAnErrorThatStopsPlaying) {
    sink.refuseWith = platform::Error{platform::audio::kErrorDomain, 10, "no sound server"};
    player.insertAtEnd(std::make_shared<PlayerItem>(PlayerItem{soundOf(1.0)}));
    player.play();
    loop.runUntilIdle();
    EXPECT_EQ(player.rate(), 0);
    ASSERT_TRUE(player.error().has_value());
    EXPECT_EQ(player.error()->code, 10);
}

// No sound server here, and none to be reached at the address given: the sound fails as a
// normal outcome, once, on the loop.
TEST(PulseAudioSinkTest, NoSoundServerEndsTheSoundWithAnError) {
    ::setenv("PULSE_SERVER", "unix:/nonexistent/kavo-no-pulse", 1);
    platform::RunLoop loop{platform::RunLoop::Clock::real};
    std::optional<std::optional<platform::Error>> outcome;
    {
        platform::audio::PulseAudioSink sink(loop);
        sink.start(soundOf(0.1, 8000),
                   [&](std::optional<platform::Error> error) { outcome = std::move(error); });
        bool bounded = false;
        auto guard = loop.scheduleTimer(10, false, [&] { bounded = true; });
        loop.runUntil([&] { return outcome.has_value() || bounded; });
        guard->invalidate();
    }
    ::unsetenv("PULSE_SERVER");
    ASSERT_TRUE(outcome.has_value());
    ASSERT_TRUE(outcome->has_value());
    EXPECT_EQ((*outcome)->code, 10);
}

}  // namespace
