#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "app/AppContext.h"
#include "platform/audio/AudioSink.h"
#include "platform/audio/Sound.h"
#include "platform/bluetooth/AbsentRadio.h"
#include "platform/media/ScriptedMediaPlayer.h"
#include "platform/push/PushService.h"
#include "services/TQAlarmSound.h"
#include "support/TempDir.h"

namespace {

TQPhoneServiceBackends testBackends(platform::RunLoop& loop) {
    TQPhoneServiceBackends backends;
    backends.musicPlayer = std::make_unique<platform::media::ScriptedMediaPlayer>(loop);
    backends.alarmSink = std::make_unique<platform::audio::FakeAudioSink>(loop);
    backends.soundLoader = std::make_unique<platform::audio::FileSoundLoader>(loop);
    backends.push = std::make_unique<platform::push::UnavailablePushService>();
    return backends;
}

class PhoneServicesContextTest : public ::testing::Test {
protected:
    testing_support::TempDir folder;
    AppContext::Settings settings{platform::RunLoop::Clock::virtualTime, folder.path() / "home",
                                  false, &testBackends};
};

TEST_F(PhoneServicesContextTest, TheServicesAreHandlersAndThoseOfTheLinkGoWithIt) {
    AppContext context(settings);
    TQHandlers& handlers = context.handlers();
    EXPECT_NE(handlers.weather, nullptr);
    EXPECT_NE(handlers.textTemplates, nullptr);
    EXPECT_EQ(handlers.musicControl, nullptr);
    EXPECT_EQ(handlers.findMyDevice, nullptr);

    context.startLink(std::make_unique<platform::bluetooth::AbsentRadio>());
    EXPECT_EQ(handlers.musicControl, context.phoneServices().musicControl());
    EXPECT_EQ(handlers.pushNotification, context.phoneServices().pushNotification());
    EXPECT_EQ(handlers.findMyDevice, context.phoneServices().findMyDevice());
    EXPECT_NE(handlers.notificationApps, nullptr);

    context.stopLink();
    EXPECT_EQ(handlers.musicControl, nullptr);
    EXPECT_EQ(handlers.pushNotification, nullptr);
    EXPECT_EQ(handlers.findMyDevice, nullptr);
    EXPECT_EQ(handlers.notificationApps, nullptr);
    EXPECT_NE(handlers.weather, nullptr) << "no link needed";
}

TEST_F(PhoneServicesContextTest, TheListenersOwnHandlersComeAndGoWithTheLink) {
    AppContext context(settings);
    TQHandlers& handlers = context.handlers();
    const auto slots = [&handlers] {
        return std::vector<const void*>{handlers.appIcons,
                                        handlers.watchAppIcons,
                                        handlers.buddies,
                                        handlers.generalMessage,
                                        handlers.networkStatus,
                                        handlers.webSearch,
                                        handlers.powerSaving,
                                        handlers.timeSync,
                                        handlers.notiIndicator,
                                        handlers.numberSyncReplies,
                                        handlers.hfp};
    };
    for (const void* slot : slots()) {
        EXPECT_EQ(slot, nullptr);
    }
    context.startLink(std::make_unique<platform::bluetooth::AbsentRadio>());
    for (const void* slot : slots()) {
        EXPECT_NE(slot, nullptr);
    }
    context.stopLink();
    for (const void* slot : slots()) {
        EXPECT_EQ(slot, nullptr);
    }
}

TEST_F(PhoneServicesContextTest, TheAlarmSoundIsOurOwnToneWrittenAtStartUp) {
    AppContext context(settings);
    const auto path = context.container().caches() / "Sounds" / TQAlarmSound::kFileName;
    const auto sound = platform::audio::readSoundFile(path);
    ASSERT_TRUE(sound.ok()) << sound.error().message;
    EXPECT_DOUBLE_EQ(sound.value()->duration(), TQAlarmSound::kSeconds);
    EXPECT_EQ(sound.value()->samples, TQAlarmSound::generate().samples);
}

// This machine's backends: no session bus and no sound server are normal states.
TEST_F(PhoneServicesContextTest, ThisMachinesBackendsComeUpWithoutABusOrASoundServer) {
    settings.phoneBackends = nullptr;
    AppContext context(settings);
    context.startLink(std::make_unique<platform::bluetooth::AbsentRadio>());
    EXPECT_NE(context.handlers().musicControl, nullptr);
    context.phoneServices().alarm().stopPlayback();
    context.stopLink();
}

}  // namespace
