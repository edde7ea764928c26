#pragma once

#include <filesystem>
#include <memory>

#include "platform/audio/AudioSink.h"
#include "platform/audio/QueuePlayer.h"
#include "platform/audio/Sound.h"
#include "platform/foundation/RunLoop.h"
#include "platform/media/MediaPlayer.h"
#include "platform/push/PushService.h"
#include "services/TQFindMyDevice.h"
#include "services/TQFinderMediaPlayer.h"
#include "services/TQMusicControl.h"
#include "services/TQNotificationApps.h"
#include "services/TQPushNotification.h"
#include "services/TQTextTemplateUtils.h"
#include "services/TQWeatherUtil.h"

class TQAP;
struct TQHandlers;

// What the phone services stand on: the music player, where the alarm sounds, how sounds load
// and the push service.
struct TQPhoneServiceBackends {
    std::unique_ptr<platform::media::MediaPlayer> musicPlayer;
    std::unique_ptr<platform::audio::AudioSink> alarmSink;
    std::unique_ptr<platform::audio::SoundLoader> soundLoader;
    std::unique_ptr<platform::push::PushService> push;

    // This machine's: MPRIS on the session bus, the sound server, no push service.
    static TQPhoneServiceBackends forThisMachine(platform::RunLoop& loop);
};

// The phone services the watch uses: push exchange, music remote control, text templates,
// weather settings, the find-my-phone alarm and the blocked-apps entry. The alarm is the
// process's one, made here; the services that send through the link are made with it and go
// with it. They fill in only the handlers nobody filled in before, and take back only theirs.
class TQPhoneServices {
public:
    TQPhoneServices(platform::RunLoop& loop, TQPhoneServiceBackends backends,
                    const std::filesystem::path& soundFolder);
    ~TQPhoneServices();
    TQPhoneServices(const TQPhoneServices&) = delete;
    TQPhoneServices& operator=(const TQPhoneServices&) = delete;

    // The services that need no link: templates and weather.
    void fillHandlers(TQHandlers& handlers);
    // The link is up: music, push, find-my-phone and the blocked-apps entry; the push settings
    // are exchanged, as at launch.
    void attachLink(TQAP& kavoManager, TQHandlers& handlers);
    // The link goes: those services go with it.
    void detachLink(TQHandlers& handlers);

    [[nodiscard]] TQFinderMediaPlayer& alarm() { return alarm_; }
    [[nodiscard]] platform::media::MediaPlayer& musicPlayer() { return *backends_.musicPlayer; }
    // Null while no link is up.
    [[nodiscard]] TQFindMyDevice* findMyDevice() {
        return linked_ ? &linked_->findMyDevice : nullptr;
    }
    [[nodiscard]] TQPushNotification* pushNotification() {
        return linked_ ? &linked_->push : nullptr;
    }
    [[nodiscard]] TQMusicControl* musicControl() { return linked_ ? &linked_->music : nullptr; }

private:
    struct Linked {
        Linked(TQAP& ap, TQPhoneServices& services, platform::RunLoop& loop);
        TQMusicControl music;
        TQPushNotification push;
        TQFindMyDevice findMyDevice;
        TQNotificationApps notificationApps;
    };

    platform::RunLoop& loop_;
    TQPhoneServiceBackends backends_;
    platform::audio::QueuePlayer alarmQueue_;
    TQFinderMediaPlayer alarm_;
    TQTextTemplateUtils textTemplates_;
    TQWeatherUtil weather_;
    std::unique_ptr<Linked> linked_;
};
