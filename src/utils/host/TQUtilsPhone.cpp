#include <utility>

#include "logging/LGLog.h"
#include "platform/host/AppHost.h"
#include "platform/telephony/Telephony.h"
#include "utils/TQLocalization.h"
#include "utils/TQUtils.h"
#include "utils/WatchName.h"

using platform::Value;

namespace {

constexpr std::string_view kLeftToRightMark = "\u200E";

}  // namespace

std::optional<std::string> TQUtils::addParenthesesToKavoNumber(std::string_view name) {
    const auto words = watch_name::split(name);
    if (!words) {
        return std::nullopt;
    }
    std::string text;
    text.append(words->first).append(" ").append(words->second).append(" (");
    text.append(words->number).append(")");
    if (platform::AppHost::current().userInterfaceLayoutDirection() ==
        platform::LayoutDirection::rightToLeft) {
        text += kLeftToRightMark;
    }
    return text;
}

int TQUtils::getCarrierType() {
    const auto group = getPreferenceByGroup(kGroupKavoInfo);
    const Value* code = group ? group->find(kKavoSalesCode) : nullptr;
    if (code != nullptr) {
        LG_VERBOSE("TQUtils: getCarrierType, sales code %@", *code);
    } else {
        LG_VERBOSE("TQUtils: getCarrierType, sales code %@", static_cast<const char*>(nullptr));
    }
    const std::string* text = code != nullptr ? code->stringIf() : nullptr;
    if (text == nullptr) {
        return 0;
    }
    static constexpr std::pair<std::string_view, int> kCarriers[] = {
        {"ATT", 2}, {"TMB", 3}, {"VZW", 4}, {"SPR", 5}, {"SKC", 6}, {"SKO", 6},
    };
    for (const auto& [salesCode, type] : kCarriers) {
        if (*text == salesCode) {
            return type;
        }
    }
    return 0;
}

bool TQUtils::isCarrierTypeUSA() {
    const int type = getCarrierType();
    return type >= 2 && type <= 5;
}

std::string TQUtils::getQuorvelKavoAppsTitle() {
    const auto carrier = platform::Telephony::current().subscriberCarrier();
    const bool japan =
        carrier && (carrier->mobileCountryCode == "440" || carrier->mobileCountryCode == "441");
    return TQLocalization::localizedString(japan ? "menu_quorvelapps_jpn" : "menu_quorvelapps");
}
