#include "sim/WatchState.h"

#include "platform/foundation/XmlParser.h"

namespace kavowatch {

using platform::Value;

namespace {

constexpr std::string_view kXmlDeclaration = R"(<?xml version="1.0" encoding="UTF-8"?>)";

// One element with text on a line of its own.
void element(std::string& xml, std::string_view name, std::string_view text) {
    xml.append("<").append(name).append(">");
    platform::xml::appendEscapedText(xml, text);
    xml.append("</").append(name).append(">\n");
}

Value textOf(bool flag) {
    return flag ? "true" : "false";
}

Watch::Replies one(Value message) {
    Watch::Replies replies;
    replies.push_back({std::move(message), std::nullopt, std::nullopt});
    return replies;
}

Value success(std::string_view msgId) {
    return Value{{"msgId", msgId}, {"result", "success"}};
}

std::string textAt(const Value& request, std::string_view key) {
    const std::string* text = request[key].stringIf();
    return text != nullptr ? *text : std::string();
}

}  // namespace

std::string defaultAppsListXml() {
    return std::string(kXmlDeclaration) +
           "<WappsList>"
           "<App><PackageName>com.kavo.weather</PackageName><AppName>Weather</AppName>"
           "<Version>1.4.2</Version><Preloaded>true</Preloaded></App>"
           "<App><PackageName>com.kavo.heartrate</PackageName><AppName>Heart Rate</AppName>"
           "<Version>2.0.7</Version><Preloaded>true</Preloaded></App>"
           "<App><PackageName>com.kavo.timer</PackageName><AppName>Timer</AppName>"
           "<Version>1.1.0</Version><Preloaded>false</Preloaded></App>"
           "</WappsList>";
}

std::string defaultFacesListXml() {
    return std::string(kXmlDeclaration) +
           "<ClocksList>"
           "<Clock><PackageName>com.kavo.face.classic</PackageName><ClockName>Classic</ClockName>"
           "<Version>1.0.3</Version><IsCurrent>true</IsCurrent></Clock>"
           "<Clock><PackageName>com.kavo.face.digital</PackageName><ClockName>Digital</ClockName>"
           "<Version>1.2.0</Version><IsCurrent>false</IsCurrent></Clock>"
           "</ClocksList>";
}

std::string defaultAppsOrderXml() {
    return std::string(kXmlDeclaration) +
           "<AppsOrder>"
           "<App><PackageName>com.kavo.weather</PackageName><Order>1</Order></App>"
           "<App><PackageName>com.kavo.heartrate</PackageName><Order>2</Order></App>"
           "<App><PackageName>com.kavo.timer</PackageName><Order>3</Order></App>"
           "</AppsOrder>";
}

std::string statusXml(const WatchState& state) {
    const WatchIdentity& identity = state.identity;
    const DeviceFeatures& features = state.features;
    std::string xml(kXmlDeclaration);
    xml += "\n<DeviceStatus>\n<device>\n";
    element(xml, "deviceID", identity.btMacAddress);
    element(xml, "deviceName", identity.modelName);
    element(xml, "devicePlatform", "Nuvra");
    element(xml, "modelNumber", identity.modelNumber);
    element(xml, "swVersion", identity.nuvraVersion);
    element(xml, "salesCode", identity.salesCode);
    xml += "<deviceFeature>\n";
    element(xml, "voicecall", features.voicecall);
    element(xml, "support.manage.app", features.manageApp);
    element(xml, "support.app.update", features.appUpdate);
    element(xml, "support.esim.activation", features.esimActivation);
    element(xml, "support.esim.multiprofile", features.esimMultiprofile);
    element(xml, "support.callforward.numbersync", features.callforwardNumbersync);
    xml += "</deviceFeature>\n</device>\n</DeviceStatus>";
    return xml;
}

WatchResponder::WatchResponder(Watch& watch, WatchState state)
    : watch_(watch), state_(std::move(state)) {
    for (const Entry& entry : handlers()) {
        watch_.answerAll(std::string(entry.msgId),
                         [this](const ReceivedMessage& request) { return respond(request); });
    }
}

const std::vector<WatchResponder::Entry>& WatchResponder::handlers() {
    static const std::vector<Entry> table = {
        {"mgr_watch_info_req", &WatchResponder::watchInfo},
        {"mgr_reset_device_req", &WatchResponder::resetDevice},
        {"mgr_host_status_ind", &WatchResponder::hostStatus},
        {"mgr_wapps_list_req", &WatchResponder::appsList},
        {"mgr_clocks_list_req", &WatchResponder::facesList},
        {"mgr_sync_init_setting_req", &WatchResponder::syncSettings},
        {"mgr_app_user_agreement_req", &WatchResponder::userAgreement},
        {"mgr_reactivationlock_set_req", &WatchResponder::lock},
        {"mgr_reactivationlock_unlock_req", &WatchResponder::unlock},
        {"mgr_esim_activation_req", &WatchResponder::esimActivation},
        {"mgr_setupwizard_eula_finished_req", &WatchResponder::eulaFinished},
        {"mgr_apps_order_req", &WatchResponder::appsOrder},
        {"mgr_gps_changed_req", &WatchResponder::gpsChanged},
        {"mgr_wps_changed_req", &WatchResponder::wpsChanged},
    };
    return table;
}

Watch::Replies WatchResponder::respond(const ReceivedMessage& request) {
    if (!request.json || !request.json->isDictionary()) {
        return {};
    }
    for (const Entry& entry : handlers()) {
        if (entry.msgId == request.msgId) {
            return (this->*entry.handler)(*request.json);
        }
    }
    return {};
}

Watch::Replies WatchResponder::watchInfo(const Value& /*request*/) {
    const WatchIdentity& identity = state_.identity;
    Value reply{{"msgId", "mgr_watch_info_res"},
                {"model_number", identity.modelNumber},
                {"nuvra_version", identity.nuvraVersion},
                {"bt_mac_address", identity.btMacAddress},
                {"model_name", identity.modelName},
                {"sales_code", identity.salesCode},
                {"serial", identity.serial},
                {"is_initialed_watch", textOf(state_.setup == SetupState::factory)}};
    reply[state_.lockKey] = textOf(state_.reactivationLock);
    reply["profile_count"] = identity.profileCount;
    return one(std::move(reply));
}

Watch::Replies WatchResponder::resetDevice(const Value& /*request*/) {
    // The reactivation lock survives a reset: that is what it is for.
    setSetup(SetupState::factory);
    state_.settings = WatchSettings{};
    ++record_.resets;
    return {};
}

Watch::Replies WatchResponder::hostStatus(const Value& request) {
    record_.hostStatusXml.push_back(textAt(request, "data"));
    record_.hostStatusIndications.push_back(request);
    Watch::Replies replies = one(Value{
        {"msgId", "mgr_wearable_status_ind"}, {"type", "connect"}, {"data", statusXml(state_)}});
    if (state_.statusExchangeDone == StatusExchangeDone::afterStatus) {
        addStatusExchangeDone(replies);
    }
    return replies;
}

Watch::Replies WatchResponder::appsList(const Value& request) {
    record_.listRequests.push_back({"mgr_wapps_list_req", textAt(request, "locale")});
    return one(Value{{"msgId", "mgr_wapps_list_res"}, {"clocklist", state_.appsListXml}});
}

Watch::Replies WatchResponder::facesList(const Value& request) {
    record_.listRequests.push_back({"mgr_clocks_list_req", textAt(request, "locale")});
    Watch::Replies replies =
        one(Value{{"msgId", "mgr_clocks_list_res"}, {"clocklist", state_.facesListXml}});
    if (state_.statusExchangeDone == StatusExchangeDone::afterFaceList) {
        addStatusExchangeDone(replies);
    }
    return replies;
}

void WatchResponder::addStatusExchangeDone(Watch::Replies& replies) {
    const int link = watch_.counters().linksUp;
    if (statusExchangeLink_ == link) {
        return;
    }
    statusExchangeLink_ = link;
    ++record_.statusExchangesDone;
    replies.push_back({Value{{"msgId", "mgr_status_exchange_done"}}, std::nullopt, std::nullopt});
}

Watch::Replies WatchResponder::syncSettings(const Value& request) {
    record_.settingsRequests.push_back(request);
    const WatchSettings& settings = state_.settings;
    return one(Value{{"msgId", "mgr_sync_init_setting_res"},
                     {"noti_onoff", settings.notiOnoff},
                     {"screen_lock", settings.screenLock},
                     {"wear_onoff", settings.wearOnoff},
                     {"noti_indicator", settings.notiIndicator},
                     {"Numbersync_onoff", settings.numbersyncOnoff},
                     {"Numbersync_registered", settings.numbersyncRegistered}});
}

Watch::Replies WatchResponder::userAgreement(const Value& request) {
    record_.consents.push_back(request);
    return one(success("mgr_app_user_agreement_res"));
}

Watch::Replies WatchResponder::lock(const Value& /*request*/) {
    state_.reactivationLock = true;
    return one(success("mgr_reactivationlock_set_res"));
}

Watch::Replies WatchResponder::unlock(const Value& request) {
    if (textAt(request, "authcode").empty()) {
        return one(Value{{"msgId", "mgr_reactivationlock_unlock_res"},
                         {"result", "fail"},
                         {"reason", "invalid authcode"}});
    }
    state_.reactivationLock = false;
    return one(success("mgr_reactivationlock_unlock_res"));
}

Watch::Replies WatchResponder::esimActivation(const Value& /*request*/) {
    return one(success("mgr_esim_activation_res"));
}

Watch::Replies WatchResponder::eulaFinished(const Value& /*request*/) {
    setSetup(SetupState::configured);
    return one(success("mgr_setupwizard_eula_finished_res"));
}

void WatchResponder::setSetup(SetupState setup) {
    state_.setup = setup;
    if (setupChanged_) {
        setupChanged_(setup);
    }
}

Watch::Replies WatchResponder::appsOrder(const Value& /*request*/) {
    return one(Value{{"msgId", "mgr_apps_order_res"}, {"data", state_.appsOrderXml}});
}

Watch::Replies WatchResponder::gpsChanged(const Value& /*request*/) {
    return one(success("mgr_gps_changed_res"));
}

Watch::Replies WatchResponder::wpsChanged(const Value& request) {
    record_.wpsChanges.push_back(request);
    return {};
}

}  // namespace kavowatch
