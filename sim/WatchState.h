#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"
#include "sim/MessageLog.h"
#include "sim/Watch.h"

// The watch's side of the phone's post-connect initialisation: what the watch is, what it
// holds, and how it answers each request on application identifier 1.
namespace kavowatch {

struct WatchIdentity {
    // The advertising name by default: the phone shows one and stores the other.
    std::string modelName = "Kavo R5 (1A2B)";
    std::string modelNumber = "KV-R500";
    std::string nuvraVersion = "R500XXU1AWK3";
    std::string salesCode = "XAR";
    std::string serial = "RKV5A1B2C3D";
    // Also the status's device identifier.
    std::string btMacAddress = "A0:B1:C2:D3:1A:2B";
    std::string profileCount = "1";

    friend bool operator==(const WatchIdentity&, const WatchIdentity&) = default;
};

// The status's feature texts, sent as they stand.
struct DeviceFeatures {
    std::string voicecall = "true";
    std::string manageApp = "true";
    std::string appUpdate = "true";
    std::string esimActivation = "false";
    std::string esimMultiprofile = "false";
    std::string callforwardNumbersync = "false";
};

// A factory watch has these; a reset brings them back.
struct WatchSettings {
    std::string notiOnoff = "true";
    std::string screenLock = "false";
    std::string wearOnoff = "true";
    std::string notiIndicator = "true";
    std::string numbersyncOnoff = "false";
    std::string numbersyncRegistered = "false";
};

enum class SetupState {
    factory,     // new or reset: the phone sets it up
    configured,  // set up once; keeps its settings
};

// When "mgr_status_exchange_done" goes out, once per connection.
enum class StatusExchangeDone {
    afterFaceList,  // right after the first face-list reply
    afterStatus,    // right after "mgr_wearable_status_ind", before the phone asked for lists
};

[[nodiscard]] std::string defaultAppsListXml();
[[nodiscard]] std::string defaultFacesListXml();
[[nodiscard]] std::string defaultAppsOrderXml();

struct WatchState {
    WatchIdentity identity;
    SetupState setup = SetupState::factory;
    bool reactivationLock = false;
    // The key that carries the lock in the watch-info reply.
    std::string lockKey = "is_reactivation_lock";
    std::string appsListXml = defaultAppsListXml();
    std::string facesListXml = defaultFacesListXml();
    std::string appsOrderXml = defaultAppsOrderXml();
    DeviceFeatures features;
    WatchSettings settings;
    StatusExchangeDone statusExchangeDone = StatusExchangeDone::afterFaceList;
};

// The status document of "mgr_wearable_status_ind", one element per line.
[[nodiscard]] std::string statusXml(const WatchState& state);

// What the phone told the watch, for tests to read.
struct WatchRecord {
    struct ListRequest {
        std::string msgId;
        // The request's "locale", empty when it has none.
        std::string locale;
    };

    // The "data" of each "mgr_host_status_ind", and each indication whole.
    std::vector<std::string> hostStatusXml;
    std::vector<platform::Value> hostStatusIndications;
    std::vector<platform::Value> settingsRequests;
    std::vector<platform::Value> consents;
    std::vector<ListRequest> listRequests;
    std::vector<platform::Value> wpsChanges;
    int resets = 0;
    int statusExchangesDone = 0;
};

// Answers the initialisation requests from a WatchState. The rules it installs on the watch
// point at it: it must outlive every message the watch still takes in.
class WatchResponder {
public:
    explicit WatchResponder(Watch& watch, WatchState state = {});
    WatchResponder(const WatchResponder&) = delete;
    WatchResponder& operator=(const WatchResponder&) = delete;

    [[nodiscard]] WatchState& state() { return state_; }
    [[nodiscard]] const WatchState& state() const { return state_; }
    [[nodiscard]] const WatchRecord& record() const { return record_; }

    // What a request does to the state, and the messages that answer it; nothing for a request
    // the responder does not know.
    Watch::Replies respond(const ReceivedMessage& request);

    // Called whenever the phone sets the watch up or resets it.
    void onSetupChanged(std::function<void(SetupState)> observer) {
        setupChanged_ = std::move(observer);
    }

private:
    using Handler = Watch::Replies (WatchResponder::*)(const platform::Value& request);
    struct Entry {
        std::string_view msgId;
        Handler handler;
    };
    static const std::vector<Entry>& handlers();

    Watch::Replies watchInfo(const platform::Value& request);
    Watch::Replies resetDevice(const platform::Value& request);
    Watch::Replies hostStatus(const platform::Value& request);
    Watch::Replies appsList(const platform::Value& request);
    Watch::Replies facesList(const platform::Value& request);
    Watch::Replies syncSettings(const platform::Value& request);
    Watch::Replies userAgreement(const platform::Value& request);
    Watch::Replies lock(const platform::Value& request);
    Watch::Replies unlock(const platform::Value& request);
    Watch::Replies esimActivation(const platform::Value& request);
    Watch::Replies eulaFinished(const platform::Value& request);
    Watch::Replies appsOrder(const platform::Value& request);
    Watch::Replies gpsChanged(const platform::Value& request);
    Watch::Replies wpsChanged(const platform::Value& request);

    // "mgr_status_exchange_done" the first time on this connection, else nothing.
    void addStatusExchangeDone(Watch::Replies& replies);
    void setSetup(SetupState setup);

    Watch& watch_;
    WatchState state_;
    WatchRecord record_;
    // The watch's link count when the exchange last ended: one per connection.
    int statusExchangeLink_ = -1;
    std::function<void(SetupState)> setupChanged_;
};

}  // namespace kavowatch
