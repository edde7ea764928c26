#include "utils/TQDeviceVersion.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "platform/system/DeviceInfo.h"

const std::unordered_map<std::string_view, int>& TQDeviceVersion::deviceNamesByCode() {
    static const std::unordered_map<std::string_view, int> table = {
        {"i386", 0},       {"x86_64", 0},                        //
        {"iPhone3,1", 3},  {"iPhone3,2", 3},  {"iPhone3,3", 3},  //
        {"iPhone4,1", 4},  {"iPhone4,2", 4},  {"iPhone4,3", 4},  //
        {"iPhone5,1", 5},  {"iPhone5,2", 5},                     //
        {"iPhone5,3", 6},  {"iPhone5,4", 6},                     //
        {"iPhone6,1", 7},  {"iPhone6,2", 7},                     //
        {"iPhone7,2", 8},  {"iPhone7,1", 9},                     //
        {"iPhone8,1", 10}, {"iPhone8,2", 11},                    //
        {"iPad1,1", 12},                                         //
        {"iPad2,1", 13},   {"iPad2,2", 13},   {"iPad2,3", 13},  {"iPad2,4", 13},
        {"iPad2,5", 14},   {"iPad2,6", 14},   {"iPad2,7", 14},  //
        {"iPad3,1", 15},   {"iPad3,2", 15},   {"iPad3,3", 15},  //
        {"iPad3,4", 16},   {"iPad3,5", 16},   {"iPad3,6", 16},  //
        {"iPad4,1", 17},   {"iPad4,2", 17},   {"iPad4,3", 17},  //
        {"iPad4,4", 18},   {"iPad4,5", 18},   {"iPad4,6", 18},  //
        {"iPad5,3", 19},   {"iPad5,4", 19},                     //
        {"iPad4,7", 20},   {"iPad4,8", 20},   {"iPad4,9", 20},  //
        {"iPad5,1", 21},   {"iPad5,2", 21},                     //
        {"iPad6,8", 22},                                        //
        {"iPod1,1", 23},   {"iPod2,1", 24},   {"iPod3,1", 25},  //
        {"iPod4,1", 26},   {"iPod5,1", 27},   {"iPod7,1", 28},
    };
    return table;
}

int TQDeviceVersion::deviceVersion() {
    return deviceVersion(platform::DeviceInfo::current().machineIdentifier());
}

int TQDeviceVersion::deviceVersion(std::string_view code) {
    const auto& table = deviceNamesByCode();
    const auto found = table.find(code);
    return found == table.end() ? 0 : found->second;
}

std::string TQDeviceVersion::deviceName() {
    return deviceName(platform::DeviceInfo::current().machineIdentifier());
}

std::string TQDeviceVersion::deviceName(std::string_view code) {
    if (code == "x86_64" || code == "i386") {
        return "Simulator";
    }
    return std::string(code);
}

namespace {

// Whether version is ordered before "8" comparing numbers as numbers ("10" after "8", "7.1"
// before it).
bool isBeforeVersion8(std::string_view version) {
    const auto digits = std::find_if_not(version.begin(), version.end(),
                                         [](unsigned char c) { return std::isdigit(c) != 0; });
    std::string_view number(version.begin(), digits);
    if (number.empty()) {
        return version < "8";
    }
    while (number.size() > 1 && number.front() == '0') {
        number.remove_prefix(1);
    }
    return number.size() == 1 && number.front() < '8';
}

}  // namespace

int TQDeviceVersion::deviceSize(const Screen& screen, std::string_view systemVersion) {
    const double length =
        isBeforeVersion8(systemVersion) ? screen.height : std::max(screen.height, screen.width);
    if (length == 480) {
        return 1;
    }
    if (length == 568) {
        return 2;
    }
    if (length == 667) {
        return screen.scale > 2.9 ? 4 : 3;
    }
    if (length == 736) {
        return 4;
    }
    return 0;
}

std::optional<std::string> TQDeviceVersion::familyName(std::string_view code) {
    static const std::map<std::string_view, std::string_view> kFamilies{
        {"i386", "Simulator"},        {"iPod1,1", "iPodTouch"},  {"iPod2,1", "iPodTouch"},
        {"iPod3,1", "iPodTouch"},     {"iPod4,1", "iPodTouch"},  {"iPhone1,1", "iPhone"},
        {"iPhone1,2", "iPhone"},      {"iPhone2,1", "iPhone"},   {"iPad1,1", "iPad"},
        {"iPad3,1", "iPad"},          {"iPad3,4", "iPad"},       {"iPad2,1", "iPad2"},
        {"iPhone3,1", "iPhone4"},     {"iPhone3,3", "iPhone4"},  {"iPhone4,1", "iPhone4S"},
        {"iPhone5,1", "iPhone5"},     {"iPhone5,2", "iPhone5"},  {"iPhone5,3", "iPhone5c"},
        {"iPhone5,4", "iPhone5c"},    {"iPhone6,1", "iPhone5s"}, {"iPhone6,2", "iPhone5s"},
        {"iPhone7,1", "iPhone6Plus"}, {"iPhone7,2", "iPhone6"},  {"iPad4,1", "iPadAir"},
        {"iPad4,2", "iPadAir"},       {"iPad2,5", "iPadMini"},   {"iPad4,4", "iPadMini"},
        {"iPad4,5", "iPadMini"},
    };
    if (const auto found = kFamilies.find(code); found != kFamilies.end()) {
        return std::string(found->second);
    }
    for (const auto& [part, name] : {std::pair{"iPod", "iPod Touch"}, std::pair{"iPad", "iPad"},
                                     std::pair{"iPhone", "iPhone"}}) {
        if (code.find(part) != std::string_view::npos) {
            return std::string(name);
        }
    }
    return std::nullopt;
}
