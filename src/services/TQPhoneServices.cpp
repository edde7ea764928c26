#include "services/TQPhoneServices.h"

#include "listener/TQHandlers.h"
#include "logging/LGLog.h"
#include "platform/audio/PulseAudioSink.h"
#include "platform/media/MprisMediaPlayer.h"
#include "services/TQAlarmSound.h"

namespace {

std::filesystem::path alarmSoundIn(const std::filesystem::path& folder) {
    auto path = TQAlarmSound::ensureFile(folder);
    if (!path.ok()) {
        LG_ERROR("TQPhoneServices: the alarm sound was not written: %@", path.error().message);
        return folder / TQAlarmSound::kFileName;
    }
    return path.value();
}

}  // namespace

TQPhoneServiceBackends TQPhoneServiceBackends::forThisMachine(platform::RunLoop& loop) {
    TQPhoneServiceBackends backends;
    backends.musicPlayer = std::make_unique<platform::media::MprisMediaPlayer>(loop);
    backends.alarmSink = std::make_unique<platform::audio::PulseAudioSink>(loop);
    backends.soundLoader = std::make_unique<platform::audio::FileSoundLoader>(loop);
    backends.push = std::make_unique<platform::push::UnavailablePushService>();
    return backends;
}

TQPhoneServices::Linked::Linked(TQAP& ap, TQPhoneServices& services, platform::RunLoop& loop)
    : music(ap, *services.backends_.musicPlayer, loop),
      push(ap, *services.backends_.push),
      findMyDevice(ap, services.alarm_),
      notificationApps(ap) {}

TQPhoneServices::TQPhoneServices(platform::RunLoop& loop, TQPhoneServiceBackends backends,
                                 const std::filesystem::path& soundFolder)
    : loop_(loop),
      backends_(std::move(backends)),
      alarmQueue_(*backends_.alarmSink),
      alarm_(alarmQueue_, *backends_.soundLoader, loop, alarmSoundIn(soundFolder)) {}

TQPhoneServices::~TQPhoneServices() = default;

void TQPhoneServices::fillHandlers(TQHandlers& handlers) {
    TQHandlers::fillIn(handlers.textTemplates, &textTemplates_);
    TQHandlers::fillIn(handlers.weather, &weather_);
}

void TQPhoneServices::attachLink(TQAP& kavoManager, TQHandlers& handlers) {
    linked_ = std::make_unique<Linked>(kavoManager, *this, loop_);
    TQHandlers::fillIn(handlers.musicControl, &linked_->music);
    TQHandlers::fillIn(handlers.pushNotification, &linked_->push);
    TQHandlers::fillIn(handlers.findMyDevice, &linked_->findMyDevice);
    TQHandlers::fillIn(handlers.notificationApps, &linked_->notificationApps);
    linked_->push.exchangePushSettingsWithKavo();
}

void TQPhoneServices::detachLink(TQHandlers& handlers) {
    if (linked_ == nullptr) {
        return;
    }
    TQHandlers::takeBack(handlers.musicControl, &linked_->music);
    TQHandlers::takeBack(handlers.pushNotification, &linked_->push);
    TQHandlers::takeBack(handlers.findMyDevice, &linked_->findMyDevice);
    TQHandlers::takeBack(handlers.notificationApps, &linked_->notificationApps);
    // The alarm outlives the link, the overlay does not.
    alarm_.stopPlayback();
    linked_.reset();
}
