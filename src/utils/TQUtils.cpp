#include "utils/TQUtils.h"

#include <array>
#include <system_error>
#include <utility>

#include "logging/LGLog.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Utf8.h"
#include "platform/host/AppHost.h"
#include "platform/host/Banner.h"
#include "platform/telephony/Telephony.h"
#include "utils/TQLocalization.h"

using platform::Dictionary;
using platform::Value;

namespace {

constexpr const char* kClassName = "TQUtils";
constexpr double kNotificationDelay = 1.0;
constexpr std::string_view kLeftToRightMark = "\u200E";

// Hostile names end up in a log line: keep that line one line of printable text.
std::string printable(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        out += u < 0x20 || u == 0x7F ? '?' : c;
    }
    return out;
}

// The first three blank-separated words; blanks are single separators, so "a  b" holds an
// empty second word.
std::optional<std::array<std::string_view, 3>> firstThreeWords(std::string_view name) {
    const auto first = name.find(' ');
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    const auto second = name.find(' ', first + 1);
    if (second == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view third = name.substr(second + 1);
    third = third.substr(0, third.find(' '));
    return std::array{name.substr(0, first), name.substr(first + 1, second - first - 1), third};
}

std::string_view withoutParentheses(std::string_view word) {
    const auto begin = word.find_first_not_of("()");
    if (begin == std::string_view::npos) {
        return {};
    }
    return word.substr(begin, word.find_last_not_of("()") - begin + 1);
}

std::string replacingAll(std::string text, std::string_view pattern, std::string_view with) {
    for (auto at = text.find(pattern); at != std::string::npos;
         at = text.find(pattern, at + with.size())) {
        text.replace(at, pattern.size(), with);
    }
    return text;
}

void scheduleNotification(std::string body, Dictionary userInfo) {
    platform::LocalNotification notification;
    notification.fireDelay = kNotificationDelay;
    notification.title = TQLocalization::localizedString("Quorvel Kavo R5");
    notification.body = std::move(body);
    notification.defaultSound = true;
    notification.userInfo = std::move(userInfo);
    platform::AppHost::current().scheduleLocalNotification(notification);
}

// Decodes the UTF-8 sequence at the start of text when it is one of at most three bytes in
// its shortest form (every white space character is); length 0 otherwise.
std::pair<char32_t, std::size_t> leadingCodePoint(std::string_view text) {
    if (text.empty()) {
        return {0, 0};
    }
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const auto continuation = [&](std::size_t i) {
        return i < text.size() && (byte(i) & 0xC0) == 0x80;
    };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return {lead, 1};
    }
    if ((lead & 0xE0) == 0xC0 && continuation(1)) {
        const char32_t c = (char32_t{lead} & 0x1F) << 6 | (byte(1) & 0x3F);
        return c >= 0x80 ? std::pair{c, std::size_t{2}} : std::pair{char32_t{0}, std::size_t{0}};
    }
    if ((lead & 0xF0) == 0xE0 && continuation(1) && continuation(2)) {
        const char32_t c =
            (char32_t{lead} & 0x0F) << 12 | (char32_t{byte(1)} & 0x3F) << 6 | (byte(2) & 0x3F);
        return c >= 0x800 ? std::pair{c, std::size_t{3}} : std::pair{char32_t{0}, std::size_t{0}};
    }
    return {0, 0};
}

bool isWhiteSpaceOrNewline(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

void createFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        LG_VERBOSE("[%@] ERROR: attempting to write create MyFolder directory", kClassName);
    }
}

}  // namespace

// ---- preference groups ----

std::optional<Dictionary> TQUtils::getPreferenceByGroup(std::string_view group) {
    return platform::UserDefaults::standard().dictionary(group);
}

bool TQUtils::setPreferenceByGroup(std::string_view group, const Dictionary& dictionary) {
    auto& defaults = platform::UserDefaults::standard();
    if (!defaults.set(group, Value(dictionary))) {
        return false;
    }
    return defaults.synchronize().ok();
}

// ---- per-watch files ----

void TQUtils::synchronizeDefaults(std::string_view owner) {
    synchronizeDefaults(platform::UserDefaults::standard(), owner);
}

void TQUtils::synchronizeDefaults(platform::UserDefaults& defaults, std::string_view owner) {
    if (const auto stored = defaults.synchronize(); !stored) {
        LG_WARN("%@: user defaults not stored: %@", owner, stored.error().message);
    }
}

bool TQUtils::isSafePathComponent(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

platform::Result<std::filesystem::path> TQUtils::perWatchFile(std::string_view folder,
                                                              std::string_view fileName) {
    for (const std::string_view name : {folder, fileName}) {
        if (!isSafePathComponent(name)) {
            LG_VERBOSE("TQUtils: refusing unsafe path component \"%@\"", printable(name));
            return platform::Error{kErrorDomain, kUnsafeName,
                                   "unsafe path component \"" + printable(name) + "\""};
        }
    }
    return platform::Container::current().documents() / folder / fileName;
}

platform::Result<void> TQUtils::saveXml(std::string_view xml, std::string_view modelNumber,
                                        std::string_view fileName) {
    auto path = perWatchFile(modelNumber, fileName);
    if (!path) {
        return path.error();
    }
    createFolder(path->parent_path());
    LG_VERBOSE("Saving to file: %@", path->string());
    return platform::fs::writeFileAtomically(*path, xml);
}

std::optional<std::string> TQUtils::retrieveXml(std::string_view modelNumber,
                                                std::string_view fileName) {
    auto path = perWatchFile(modelNumber, fileName);
    if (!path) {
        return std::nullopt;
    }
    auto text = platform::fs::readFile(*path);
    if (!text || !platform::isValidUtf8(*text)) {
        return std::nullopt;
    }
    return std::move(*text);
}

platform::Result<void> TQUtils::saveDictionary(const Dictionary& dictionary,
                                               std::optional<std::string_view> modelNumber,
                                               std::string_view fileName) {
    auto path = perWatchFile(modelNumber.value_or(kCommonFolder), fileName);
    if (!path) {
        return path.error();
    }
    createFolder(path->parent_path());
    LG_VERBOSE("Saving to file: %@", path->string());
    return platform::plist::writeFile(*path, Value(dictionary));
}

std::optional<Dictionary> TQUtils::retrieveDictionary(std::optional<std::string_view> modelNumber,
                                                      std::string_view fileName) {
    auto path = perWatchFile(modelNumber.value_or(kCommonFolder), fileName);
    if (!path) {
        return std::nullopt;
    }
    std::error_code ec;
    if (!std::filesystem::is_regular_file(*path, ec)) {
        return std::nullopt;
    }
    auto value = platform::plist::readFile(*path);
    if (!value || !value->isDictionary()) {
        return std::nullopt;
    }
    return *value->dictionaryIf();
}

// ---- watch names ----

std::optional<std::string> TQUtils::addParenthesesToKavoNumber(std::string_view name) {
    const auto words = firstThreeWords(name);
    if (!words) {
        return std::nullopt;
    }
    std::string text;
    text.append((*words)[0]).append(" ").append((*words)[1]).append(" (");
    text.append(withoutParentheses((*words)[2])).append(")");
    if (platform::AppHost::current().userInterfaceLayoutDirection() ==
        platform::LayoutDirection::rightToLeft) {
        text += kLeftToRightMark;
    }
    return text;
}

std::optional<std::string> TQUtils::getKavoNumber(std::string_view name) {
    const auto words = firstThreeWords(name);
    if (!words) {
        return std::nullopt;
    }
    return std::string(withoutParentheses((*words)[2]));
}

std::optional<std::string> TQUtils::getDeviceMacFromName(std::string_view name) {
    return getKavoNumber(name);
}

// ---- carrier ----

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

// ---- texts ----

std::string TQUtils::convertNumberToLocalize(std::int64_t number) {
    // The locales this runs in write Western digits without a style's grouping.
    return std::to_string(number);
}

std::string TQUtils::getQuorvelKavoAppsTitle() {
    const auto carrier = platform::Telephony::current().subscriberCarrier();
    const bool japan =
        carrier && (carrier->mobileCountryCode == "440" || carrier->mobileCountryCode == "441");
    return TQLocalization::localizedString(japan ? "menu_quorvelapps_jpn" : "menu_quorvelapps");
}

std::string TQUtils::escapeString(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        const bool kept = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') ||
                          (u >= '0' && u <= '9') || u == '-' || u == '.' || u == '_' || u == '~';
        if (kept) {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 0x0F];
        }
    }
    return out;
}

std::optional<std::string> TQUtils::unescapeString(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (text.size() - i < 3) {
            return std::nullopt;
        }
        const int high = hexDigit(text[i + 1]);
        const int low = hexDigit(text[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(high << 4 | low);
        i += 2;
    }
    if (!platform::isValidUtf8(out)) {
        return std::nullopt;
    }
    return out;
}

std::string_view TQUtils::trimmedWhiteSpaceAndNewlines(std::string_view text) {
    while (!text.empty()) {
        const auto [c, length] = leadingCodePoint(text);
        if (length == 0 || !isWhiteSpaceOrNewline(c)) {
            break;
        }
        text.remove_prefix(length);
    }
    while (!text.empty()) {
        std::size_t trailing = 0;
        for (std::size_t length = 1; length <= 3 && length <= text.size(); ++length) {
            const auto [c, decoded] = leadingCodePoint(text.substr(text.size() - length));
            if (decoded == length) {
                trailing = isWhiteSpaceOrNewline(c) ? length : 0;
                break;
            }
        }
        if (trailing == 0) {
            break;
        }
        text.remove_suffix(trailing);
    }
    return text;
}

// ---- screens ----

void TQUtils::showToast(std::string_view message) {
    platform::Banner banner;
    banner.text = std::string(message);
    banner.textAlignment = platform::TextAlignment::center;
    banner.backgroundColor = platform::Color{237 / 255.0, 110 / 255.0, 43 / 255.0, 1.0};
    banner.animationInDirection = platform::BannerDirection::top;
    banner.animationOutDirection = platform::BannerDirection::bottom;
    banner.timeInterval = 2.0;
    banner.kind = platform::BannerKind::navigationBar;
    banner.presentation = platform::BannerPresentation::push;
    banner.interactionResponders.push_back(platform::BannerInteractionResponder{
        platform::banner_interaction::anyTap, true, [](int interactionType) {
            const auto name = platform::banner_interaction::name(interactionType);
            LG_VERBOSE("Dismissed with %@ interaction", name.value_or("(null)"));
        }});
    platform::BannerPresenter::current().showBanner(std::move(banner),
                                                    [] { LG_VERBOSE("BNToast completed"); });
}

void TQUtils::createHFPNotification() {
    scheduleNotification(
        replacingAll(
            TQLocalization::localizedString("WDS_WMGR_SBODY_VIEW_PS_SETTINGS_ON_YOUR_PHONE_ABB"),
            "%s", TQLocalization::localizedString("WDS_ST_MBODY_CALL_AUDIO_ABB")),
        Dictionary{{"actionToHandle", "hfpAction"}});
}

void TQUtils::createNumberSyncNotification(std::string_view result) {
    LG_VERBOSE("%s", __func__);
    scheduleNotification(
        TQLocalization::localizedString(
            result == "success"
                ? "WDS_ST_TPOP_NUMBERSYNC_ENABLED_ABB_ATNT"
                : "WDS_STU_POP_UNABLE_TO_SET_UP_NUMBERSYNC_PLEASE_TRY_AGAIN_LATER_ATNT"),
        Dictionary{{"actionToHandle", "numberSyncAction"}});
}

void TQUtils::createKavoAppsWebNotification(std::string_view link) {
    scheduleNotification(
        replacingAll(TQLocalization::localizedString("WDS_WMGR_SBODY_VIEW_PS_ON_YOUR_PHONE"), "%s",
                     getQuorvelKavoAppsTitle()),
        Dictionary{{"actionToHandle", "kavoAppsWeb"}, {"KavoAppsURILink", std::string(link)}});
}
