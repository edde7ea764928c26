#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "db/TQDBManager.h"
#include "db/TQDBManagerImpl.h"
#include "db/TQDBRecords.h"
#include "listener/ListenerPrinters.h"
#include "listener/ListenerWorld.h"
#include "platform/audio/AudioSink.h"
#include "platform/audio/QueuePlayer.h"
#include "platform/audio/Sound.h"
#include "platform/media/ScriptedMediaPlayer.h"
#include "platform/push/PushService.h"
#include "services/TQFindMyDevice.h"
#include "services/TQFinderMediaPlayer.h"
#include "services/TQMusicControl.h"
#include "services/TQNotificationApps.h"
#include "services/TQPushNotification.h"
#include "services/TQTextTemplateUtils.h"
#include "services/TQWeatherUtil.h"
#include "sim/PhoneServiceRequests.h"
#include "utils/TQUtils.h"

namespace services_test {

using platform::Value;

// A sound of the given length: silence, a thousand frames a second.
inline std::shared_ptr<const platform::audio::Sound> soundOf(double seconds) {
    auto sound = std::make_shared<platform::audio::Sound>();
    sound->sampleRate = 1000;
    sound->channels = 1;
    sound->samples.assign(static_cast<std::size_t>(seconds * 1000), 0);
    return sound;
}

// Loads only when the test says so, so that a test can act while a sound is still loading.
class ManualSoundLoader final : public platform::audio::SoundLoader {
public:
    void load(const std::filesystem::path& path, Completion completion) override {
        pending.emplace_back(path, std::move(completion));
    }
    // Completes the load at index with result.
    void finish(std::size_t index,
                platform::Result<std::shared_ptr<const platform::audio::Sound>> result) {
        auto completion = std::move(pending.at(index).second);
        completion(std::move(result));
    }
    std::vector<std::pair<std::filesystem::path, Completion>> pending;
};

// Hands out the token it is given, or fails like this machine's service.
class ScriptedPushService final : public platform::push::PushService {
public:
    void registerForRemoteNotifications(TokenHandler onToken, ErrorHandler onError) override {
        ++registrations;
        if (token.empty()) {
            onError(platform::Error{platform::push::kErrorDomain, 1, "unavailable"});
        } else {
            onToken(token);
        }
    }
    platform::Bytes token;
    int registrations = 0;
};

// The phone's link, core manager and dispatch with a simulated watch on the simulated air (the
// listener tests' world), with the phone services in place of the recorders: the music control
// over a scripted player, the alarm over a fake sink on the virtual clock, a database of its own.
class ServicesWorld {
public:
    static constexpr const char* kModel = "KV-R500";
    static constexpr const char* kWatchAddress = "A1:B2:C3:D4:E5:F6";

    ServicesWorld() {
        auto& registry = world.handlers.registry;
        registry.musicControl = &music;
        registry.pushNotification = &push;
        registry.findMyDevice = &findMyDevice;
        registry.notificationApps = &notificationApps;
        registry.weather = &weather;
        registry.textTemplates = &textTemplates;
        world.host.navigator.homeScreenIsRoot = true;
        TQDBManager manager = TQDBManager::getSharedInstance();
        manager.createModel(TQDBGeneralMessage::tableSchema());
        manager.createModel(TQDBCallRejectionMessage::tableSchema());
        EXPECT_TRUE(TQUtils::setPreferenceByGroup(
            TQUtils::kGroupKavoInfo,
            {{"kavoModelNumber", kModel}, {"btMacAddress", kWatchAddress}}));
    }

    // The watch is connected and in use.
    void connect() {
        world.connectWatch();
        world.defaults.set("isWMSConnected", 1);
    }

    // The messages the watch received from `from` on with this "msgId".
    std::vector<listener_test::ListenerWorld::Reply> received(std::size_t from,
                                                              std::string_view msgId) const {
        std::vector<listener_test::ListenerWorld::Reply> found;
        for (const auto& reply : world.repliesSince(from)) {
            if (const std::string* id = reply.json["msgId"].stringIf();
                id != nullptr && *id == msgId) {
                found.push_back(reply);
            }
        }
        return found;
    }
    // The watch asks; returns once the phone has had it and its answers have arrived.
    void ask(const kavowatch::requests::Request& request) {
        world.send(request.body, request.appId);
    }
    [[nodiscard]] std::size_t mark() const { return world.watch.messages().all().size(); }
    // A message as the watch read it, without the null "msgId" its log gives a message that
    // has none.
    static Value fields(Value message) {
        if (const Value* id = message.find("msgId"); id != nullptr && id->isNull()) {
            message.mutableDictionary()->remove("msgId");
        }
        return message;
    }

    listener_test::ListenerWorld world;
    TQDBManagerImpl database{world.folder.path() / "TQA_DB.db"};
    platform::ScopedInstall<TQDBManagerImpl> installDatabase{&database};
    platform::media::ScriptedMediaPlayer player{world.loop};
    platform::audio::FakeAudioSink sink{world.loop};
    platform::audio::QueuePlayer queue{sink};
    ManualSoundLoader loader;
    TQFinderMediaPlayer alarm{queue, loader, world.loop, "HeadspinLong.wav"};
    ScriptedPushService pushService;
    TQMusicControl music{*world.ap, player, world.loop};
    TQPushNotification push{*world.ap, pushService};
    TQFindMyDevice findMyDevice{*world.ap, alarm};
    TQNotificationApps notificationApps{*world.ap};
    TQWeatherUtil weather;
    TQTextTemplateUtils textTemplates;
};

}  // namespace services_test
