#include "screens/pairing/TQPairingRules.h"

#include <array>
#include <utility>

#include "utils/TQUtils.h"

namespace pairing {

namespace {

constexpr std::string_view kBlanks = " \t\r\n";

std::string_view trimmed(std::string_view text) {
    const auto begin = text.find_first_not_of(kBlanks);
    if (begin == std::string_view::npos) {
        return {};
    }
    return text.substr(begin, text.find_last_not_of(kBlanks) - begin + 1);
}

struct Model {
    int number;
    std::string_view name;
};

constexpr std::array kModels{
    Model{0, "Simulator"},
    Model{3, "iPhone 4"},
    Model{4, "iPhone 4S"},
    Model{5, "iPhone 5"},
    Model{6, "iPhone 5C"},
    Model{7, "iPhone 5S"},
    Model{8, "iPhone 6"},
    Model{9, "iPhone 6 Plus"},
    Model{10, "iPhone 6S"},
    Model{11, "iPhone 6S Plus"},
    Model{12, "iPad 1"},
    Model{13, "iPad 2"},
    Model{14, "iPad Mini"},
    Model{15, "iPad 3"},
    Model{16, "iPad 4"},
    Model{17, "iPad Air"},
    Model{18, "iPad Mini 2"},
    Model{19, "iPad Air 2"},
    Model{20, "iPad Mini 3"},
    Model{21, "iPad Mini 4"},
    Model{22, "iPad Pro"},
    Model{23, "iPod Touch 1st Gen"},
    Model{24, "iPod Touch 2nd Gen"},
    Model{25, "iPod Touch 3rd Gen"},
    Model{26, "iPod Touch 4th Gen"},
    Model{27, "iPod Touch 5th Gen"},
    Model{28, "iPod Touch 6th Gen"},
};

constexpr int kFirstSupported = 5;
constexpr int kLastSupported = 11;

}  // namespace

std::string displayedWatchName(std::string_view name) {
    const std::string_view shown = trimmed(name);
    if (auto formatted = TQUtils::addParenthesesToKavoNumber(shown)) {
        return std::move(*formatted);
    }
    return std::string(shown);
}

std::optional<std::string_view> phoneModelName(int model) {
    for (const Model& known : kModels) {
        if (known.number == model) {
            return known.name;
        }
    }
    return std::nullopt;
}

bool refusesPhoneModel(int model) {
    if (model == 0 || (model >= kFirstSupported && model <= kLastSupported)) {
        return false;
    }
    return phoneModelName(model).has_value();
}

NextSetupStep nextStepAfterSync(SetupPage page, bool isReconnecting, bool noPermissionLeft) {
    constexpr NextSetupStep home{"mainViewSegue", true};
    constexpr NextSetupStep terms{"termSegue", true};
    constexpr NextSetupStep permissions{"privacySegue", false};
    switch (page) {
        case SetupPage::welcome:
            return noPermissionLeft ? NextSetupStep{"nearKavoConnect", true} : permissions;
        case SetupPage::scanList:
            if (isReconnecting) {
                return home;
            }
            return noPermissionLeft ? terms : permissions;
        case SetupPage::connecting:
            return isReconnecting ? home : terms;
    }
    return permissions;
}

}  // namespace pairing
