#include "store/TQKavoAppsUtil.h"

#include <array>
#include <string_view>
#include <system_error>
#include <utility>

#include "logging/LGLog.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/FileSystem.h"

namespace {

// A documentation address, the phone and watch models joined by "_", the account service's
// API host and a 30-digit device identifier stand in for the values of a real test set-up.
constexpr std::array<std::pair<std::string_view, std::string_view>, 12> kTemplate{{
    {"getDomainURL", "192.0.2.10/api/getDomain.as"},
    {"mcc", "450"},
    {"mnc", "01"},
    {"deviceModel", "iPhone8,1_KV-R500"},
    {"kOSVersion", "2.2.1.4"},
    {"MANUFACTURER", "Apple"},
    {"accessTokenValue", "TmRw5yKqZe"},
    {"acl", "api.account.kavo.example"},
    {"preloadApp", ""},
    {"postloadApp", ""},
    {"deviceId", "3A5F09C2E1B74D6A8F0C2B9E7D1A4C"},
    {"webApiVersion", "3.1"},
}};

}  // namespace

std::filesystem::path TQKavoAppsUtil::configFilePath() {
    return platform::Container::current().documents() / kFileName;
}

std::string TQKavoAppsUtil::dummyConfigData() {
    std::string text = "{";
    for (std::size_t i = 0; i < kTemplate.size(); ++i) {
        text.append("\n\"").append(kTemplate[i].first).append("\":\"");
        text.append(kTemplate[i].second).append("\"");
        if (i + 1 < kTemplate.size()) {
            text += ",";
        }
    }
    return text + "\n}";
}

void TQKavoAppsUtil::generateDummyConfigData() {
    const auto path = configFilePath();
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(path, error))) {
        return;
    }
    if (const auto written = platform::fs::writeFileAtomically(path, dummyConfigData());
        !written.ok()) {
        LG_VERBOSE("TQKavoAppsUtil: template not written: %@", written.error().message);
    }
}
