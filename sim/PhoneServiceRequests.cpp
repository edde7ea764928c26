#include "sim/PhoneServiceRequests.h"

#include <string>

namespace kavowatch::requests {

using platform::Value;

namespace {

constexpr std::uint8_t kFindMyDevice = 2;
constexpr std::uint8_t kWeather = 5;
constexpr std::uint8_t kNotifications = 7;
constexpr std::uint8_t kMusic = 9;

}  // namespace

Request musicKey(std::string_view action, bool pressed) {
    return {Value{{"msgId", "music-remotecontrol-req"},
                  {"action", std::string(action)},
                  {"status", pressed ? "pressed" : "released"}},
            kMusic};
}

Request musicVolume(std::string_view volume, std::string_view mute) {
    return {Value{{"msgId", "music-setattribute-req"},
                  {"volume", std::string(volume)},
                  {"mute", std::string(mute)}},
            kMusic};
}

Request musicReports(bool on) {
    return {Value{{"msgId", "music-mediachanged-req"}, {"value", on}}, kMusic};
}

Request musicGetVolume() {
    return {Value{{"msgId", "music-getattribute-req"}}, kMusic};
}

Request musicKeepAlive() {
    return {Value{{"msgId", "music-keepalive-ping"}}, kMusic};
}

Request musicCapability(bool distinctState) {
    return {Value{{"msgId", "capability-feature-ind"}, {"distinct-state", distinctState}}, kMusic};
}

Request findMyPhoneStart() {
    return {Value{{"msgId", "fmp-startalert-req"}}, kFindMyDevice};
}

Request findMyPhoneStop() {
    return {Value{{"cmd", "findMyDevice"}, {"subcmd", "stop"}}, kFindMyDevice};
}

Request weatherSettings() {
    return {Value{{"WEATHER_REQUEST", Value{{"FETCH_REQ", 1}}}}, kWeather};
}

Request weatherShowOnPhone() {
    return {Value{{"WEATHER_REQUEST", Value{{"SHOW_SETTING_ON_DEVICE", 1}}}}, kWeather};
}

Request blockApplication(std::string_view name, std::string_view bundleId) {
    return {Value{{"msgId", "msg_notification_block_info_req"},
                  {"app_name", std::string(name)},
                  {"bundle_id", std::string(bundleId)}},
            kNotifications};
}

}  // namespace kavowatch::requests
