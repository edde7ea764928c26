#include "store/TQKavoAppUpdateRequests.h"

#include <cstdio>

#include "platform/foundation/Base64.h"
#include "platform/security/Crypto.h"
#include "store/TQDownloadKavoAppOperation.h"
#include "utils/TQUtils.h"
#include "utils/XMLDictParser.h"

namespace {

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

template <std::size_t N>
std::string hex(const std::array<std::uint8_t, N>& digest) {
    std::string out;
    char pair[3];
    for (const std::uint8_t byte : digest) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        out += pair;
    }
    return out;
}

std::optional<std::string> text(const platform::Value& entry, std::string_view key) {
    const platform::Value* value = entry.find(key);
    if (value == nullptr) {
        return std::nullopt;
    }
    if (auto string = value->stringValue()) {
        return std::string(TQUtils::trimmedWhiteSpaceAndNewlines(*string));
    }
    return std::nullopt;
}

void setIfPresent(platform::Dictionary& params, std::string key, std::optional<std::string> value) {
    if (value) {
        params.set(std::move(key), std::move(*value));
    }
}

// The common parameters with the two lists (each without its last ":") and the hash.
platform::Dictionary withLists(const TQStoreDevice& device, std::string app, std::string pre) {
    for (std::string* list : {&app, &pre}) {
        if (!list->empty()) {
            list->pop_back();
        }
    }
    platform::Dictionary params = TQKavoAppUpdateRequests::getCommonRequestParams(device);
    params.set("hashValue", TQKavoAppUpdateRequests::createHashValueForAppInfo(app));
    params.set("appInfo", std::move(app));
    params.set("preloadAppInfo", std::move(pre));
    return params;
}

}  // namespace

platform::Array TQKavoAppUpdateRequests::installedList(std::string_view wapplistXml) {
    const auto parsed = xmldict::dictionaryWithXMLString(TQUtils::trimmedWhiteSpaceAndNewlines(wapplistXml));
    if (!parsed.ok() || !parsed.dictionary) {
        return {};
    }
    const platform::Value* items = parsed.dictionary->find("item");
    if (items == nullptr) {
        return {};
    }
    // One entry reads as a dictionary, not a list: it is still one installed application.
    if (items->isDictionary()) {
        return {*items};
    }
    return items->isArray() ? *items->arrayIf() : platform::Array{};
}

platform::Dictionary TQKavoAppUpdateRequests::getCommonRequestParams(const TQStoreDevice& device) {
    platform::Dictionary params;
    params.set("deviceId", device.deviceId());
    setIfPresent(params, "csc", device.salesCode);
    params.set("sdkVer", device.systemVersion);
    params.set("pd", "0");
    setIfPresent(params, "kOSVersion", device.kOSVersion);
    params.set("loginType", "N");
    setIfPresent(params, "mcc", device.mcc());
    setIfPresent(params, "mnc", device.mnc());
    return params;
}

platform::Dictionary TQKavoAppUpdateRequests::buildApplistDictOnType(
    const platform::Array& installed) {
    platform::Dictionary map;
    for (const platform::Value& entry : installed) {
        const auto packageName = text(entry, "PackageName");
        if (!packageName || packageName->empty()) {
            continue;
        }
        map.set(*packageName, entry.find("PreLoad") != nullptr ? "preload" : "postload");
    }
    return map;
}

platform::Dictionary TQKavoAppUpdateRequests::buildCheckUpdateParameter(
    const platform::Array& installed, const TQStoreDevice& device) {
    std::string pre;
    std::string app;
    for (const platform::Value& entry : installed) {
        const auto packageName = text(entry, "PackageName");
        if (!packageName || packageName->empty()) {
            continue;
        }
        const auto version =
            changeWGTVersionFormat(text(entry, "Version").value_or(kMissingVersion));
        std::string& target = entry.find("PreLoad") != nullptr ? pre : app;
        target += *packageName + "@" + version.value_or("") + ":";
    }
    return withLists(device, std::move(app), std::move(pre));
}

platform::Dictionary TQKavoAppUpdateRequests::buildDownloadAppParameter(
    const platform::Array& appInfo, const platform::Dictionary& preloadMap,
    const TQStoreDevice& device) {
    std::string pre;
    std::string app;
    for (const platform::Value& element : appInfo) {
        if (platform::stringIntValue(text(element, "resultCode").value_or("")) != 2) {
            continue;
        }
        const auto id = text(element, "appId");
        if (!id || id->empty()) {
            continue;
        }
        const platform::Value* kind = preloadMap.find(*id);
        std::string& target = kind != nullptr && kind->stringValue() == "preload" ? pre : app;
        target += *id + ":";
    }
    platform::Dictionary params = withLists(device, std::move(app), std::move(pre));
    params.set("encImei", createHashValueForAppInfo(device.vendorIdentifier));
    return params;
}

bool TQKavoAppUpdateRequests::validateResponseResultCode(const platform::Dictionary& response) {
    const platform::Value* code = response.find("resultCode");
    const std::int64_t value =
        code != nullptr ? platform::stringIntValue(code->stringValue().value_or(
                              std::to_string(code->intValue().value_or(0))))
                        : 0;
    return value == 0;
}

platform::Array TQKavoAppUpdateRequests::appInfoList(const platform::Dictionary& response) {
    const platform::Value* list = response.find("appInfo");
    if (list != nullptr && list->isDictionary()) {
        // The XML conversion gives one element as itself: it is still one application.
        return {*list};
    }
    return list != nullptr && list->isArray() ? *list->arrayIf() : platform::Array{};
}

std::vector<TQUpdateEntry> TQKavoAppUpdateRequests::updateEntries(
    const platform::Dictionary& response) {
    std::vector<TQUpdateEntry> entries;
    for (const platform::Value& element : appInfoList(response)) {
        if (platform::stringIntValue(text(element, "resultCode").value_or("")) != 1) {
            continue;
        }
        TQUpdateEntry entry;
        entry.downloadURI = text(element, "downloadURI");
        entry.appId = text(element, "appId");
        entry.productName = text(element, "productName");
        if (entry.downloadURI) {
            entry.appFileName = fileNameFromURI(*entry.downloadURI);
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::optional<std::string> TQKavoAppUpdateRequests::fileNameFromURI(std::string_view uri) {
    // Only the path counts: after the authority, before the query or fragment.
    if (const auto scheme = uri.find("://"); scheme != std::string_view::npos) {
        uri.remove_prefix(scheme + 3);
        const auto slash = uri.find('/');
        uri = slash == std::string_view::npos ? std::string_view{} : uri.substr(slash);
    }
    uri = uri.substr(0, uri.find_first_of("?#"));
    std::optional<std::string> file;
    while (!uri.empty()) {
        const auto slash = uri.find('/');
        const std::string_view raw = uri.substr(0, slash);
        uri = slash == std::string_view::npos ? std::string_view{} : uri.substr(slash + 1);
        const std::string component = TQUtils::unescapeString(raw).value_or(std::string(raw));
        if (component.find(".wgt") != std::string::npos ||
            component.find(".npk") != std::string::npos) {
            file = TQDownloadKavoAppOperation::reformatFileName(component);
        }
    }
    return file;
}

std::string TQKavoAppUpdateRequests::createHashValueForAppInfo(std::string_view text) {
    return createHashValue(std::string(text) + std::string(kSalt));
}

std::string TQKavoAppUpdateRequests::createHashValue(std::string_view text) {
    const auto digest = platform::crypto::sha1(bytesOf(text));
    return platform::base64::encode(digest);
}

std::string TQKavoAppUpdateRequests::sha1AsString(std::string_view text) {
    return hex(platform::crypto::sha1(bytesOf(text)));
}

std::string TQKavoAppUpdateRequests::md5AsString(std::string_view text) {
    return hex(platform::crypto::md5(bytesOf(text)));
}

std::optional<std::string> TQKavoAppUpdateRequests::changeWGTVersionFormat(
    const std::optional<std::string>& version) {
    if (!version) {
        return std::nullopt;
    }
    static constexpr std::size_t kWidths[] = {3, 3, 5};
    std::string formatted;
    std::string_view rest = *version;
    for (std::size_t part = 0; part < 3; ++part) {
        const auto dot = rest.find('.');
        const std::string_view piece = TQUtils::trimmedWhiteSpaceAndNewlines(rest.substr(0, dot));
        formatted += *prependZero(std::string(piece), kWidths[part]);
        if (dot == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(dot + 1);
    }
    return formatted;
}

std::optional<std::string> TQKavoAppUpdateRequests::prependZero(
    const std::optional<std::string>& text, std::size_t maxLength) {
    if (!text) {
        return std::nullopt;
    }
    return text->size() < maxLength ? std::string(maxLength - text->size(), '0') + *text : *text;
}
