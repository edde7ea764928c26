#include "sim/CommandRequests.h"

#include <string>

namespace kavowatch::requests {

using platform::Value;

namespace {

constexpr std::uint8_t kGeneral = 1;
constexpr std::uint8_t kContacts = 3;
constexpr std::uint8_t kNotifications = 7;

Request general(std::string_view msgId) {
    return {Value{{"msgId", std::string(msgId)}}, kGeneral};
}

Value stringsOf(const std::vector<std::string_view>& texts) {
    platform::Array array;
    for (const auto text : texts) {
        array.emplace_back(std::string(text));
    }
    return Value(std::move(array));
}

}  // namespace

Request phoneAppIcon(std::string_view bundleId) {
    return {Value{{"msgId", "msg_notification_app_icon_req"}, {"bundle_id", std::string(bundleId)}},
            kNotifications};
}

Request watchAppIcons(const std::vector<std::string_view>& packages,
                      const std::vector<std::string_view>& images) {
    return {Value{{"msgId", "mgr_wappsicon_res"},
                  {"packageNameArray", stringsOf(packages)},
                  {"imageFileDataArray", stringsOf(images)}},
            kGeneral};
}

Request getBuddies() {
    return {Value{{"msgId", "contacts-getbuddy-req"}}, kContacts};
}

Request launchBuddies() {
    return {Value{{"msgId", "contacts-launchbuddy-req"}}, kContacts};
}

Request showGeneralMessages() {
    return {Value{{"msgId", "mgr_show_on_device_req"}, {"data", "texttemplate_setting"}}, kGeneral};
}

Request dataNetwork() {
    return general("mgr_datanetwork_req");
}

Request webSearch(std::string_view name, std::string_view url) {
    return {Value{{"msgId", "context-websearch-req"},
                  {"name", std::string(name)},
                  {"url", std::string(url)}},
            kGeneral};
}

Request powerSaving(const Value& status) {
    Request request = general("mgr_ups_mode_ind");
    if (!status.isNull()) {
        request.body["status"] = status;
    }
    return request;
}

Request syncTime() {
    return general("mgr_sync_time_req");
}

Request systemTime(std::int64_t t1) {
    return {Value{{"msgId", "mgr_systemtime_req"}, {"t1", t1}}, kGeneral};
}

Request notificationIndicator(const Value& state) {
    Request request = general("mgr_noti_indicator_req");
    if (!state.isNull()) {
        request.body["state"] = state;
    }
    return request;
}

Request numberSyncRegisterResult(std::string_view result) {
    return {Value{{"msgId", "mgr_numbersync_register_result_req"}, {"result", std::string(result)}},
            kGeneral};
}

Request numberSyncRegistered(std::string_view state) {
    return {Value{{"msgId", "mgr_numbersync_register_res"}, {"state", std::string(state)}},
            kGeneral};
}

Request numberSyncPostSetup(std::string_view deeplink) {
    return {Value{{"msgId", "mgr_numbersync_post_setup_res"}, {"deeplink", std::string(deeplink)}},
            kGeneral};
}

Request pairCallingProfile() {
    return general("mgr_hfp_connection_req");
}

}  // namespace kavowatch::requests
