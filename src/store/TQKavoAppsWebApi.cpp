#include "store/TQKavoAppsWebApi.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "http/HCHTTPRequestOperation.h"
#include "logging/LGLog.h"
#include "logging/LGRedaction.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/Json.h"
#include "utils/TQDeviceVersion.h"
#include "utils/TQLocalization.h"
#include "utils/TQUtils.h"

using platform::Value;

namespace {

std::string textOf(const Value& entry, std::string_view key) {
    const Value* child = entry.find(key);
    const Value* text = child != nullptr ? child->find("text") : nullptr;
    const std::string* string = text != nullptr ? text->stringIf() : nullptr;
    return string != nullptr ? std::string(TQUtils::trimmedWhiteSpaceAndNewlines(*string))
                             : std::string();
}

// A JSON object's member as text; nothing when absent or not text.
std::optional<std::string> member(const Value& object, std::string_view key) {
    const Value* value = object.find(key);
    return value != nullptr && value->isString() ? value->stringValue() : std::nullopt;
}

std::string alertMessage() {
    std::string text =
        TQLocalization::localizedString("WDS_WMGR_POP_PS_IS_NOT_RESPONDING_TRY_AGAIN_LATER");
    const std::string title = TQUtils::getQuorvelKavoAppsTitle();
    if (const auto at = text.find("%@"); at != std::string::npos) {
        text.replace(at, 2, title);
    }
    return text;
}

}  // namespace

TQKavoAppsWebApi::TQKavoAppsWebApi(Environment environment)
    : environment_(std::move(environment)), self_(std::make_shared<TQKavoAppsWebApi*>(this)) {}

TQKavoAppsWebApi::~TQKavoAppsWebApi() {
    *self_ = nullptr;
    if (request_) {
        request_->cancel();
    }
}

std::string TQKavoAppsWebApi::masked(const std::optional<std::string>& secret) {
    return lg::presence(secret);
}

bool TQKavoAppsWebApi::debugMode() const {
    return environment_.defaults.boolean(kDebugModeKey).value_or(false);
}

std::string TQKavoAppsWebApi::versionCode(std::string_view version) {
    std::int64_t parts[3] = {0, 0, 0};
    for (std::size_t i = 0; i < 3 && !version.empty(); ++i) {
        const auto dot = version.find('.');
        parts[i] = platform::stringIntValue(version.substr(0, dot));
        version = dot == std::string_view::npos ? std::string_view{} : version.substr(dot + 1);
    }
    char code[64];
    std::snprintf(code, sizeof code, "%03lld%03lld%05lld", static_cast<long long>(parts[0]),
                  static_cast<long long>(parts[1]), static_cast<long long>(parts[2]));
    return code;
}

std::string TQKavoAppsWebApi::convertAppList(const std::vector<Value>& items, bool checkPreload) {
    std::string list;
    for (const Value& entry : items) {
        const std::string preload = textOf(entry, "PreLoad");
        if (preload != (checkPreload ? "true" : "false")) {
            continue;
        }
        const std::string version = textOf(entry, "Version");
        list += (list.empty() ? "" : "||") + textOf(entry, "PackageName") + "@" + version + "@" +
                versionCode(version) + "@" + (preload == "true" ? "0" : "1");
    }
    return list;
}

std::string TQKavoAppsWebApi::getAppList(const std::vector<Value>& apps,
                                         const std::vector<Value>& clocks, bool checkPreload) {
    const std::string applications = convertAppList(apps, checkPreload);
    return applications + (applications.empty() ? "" : "||") + convertAppList(clocks, checkPreload);
}

std::optional<std::string> TQKavoAppsWebApi::getDeviceName(std::string_view machine) {
    return TQDeviceVersion::familyName(machine);
}

void TQKavoAppsWebApi::setParamValues(const std::vector<Value>& apps,
                                      const std::vector<Value>& clocks) {
    const TQStoreDevice device = environment_.device();
    params_ = {};
    params_.mcc = device.mcc();
    params_.mnc = device.mnc();
    params_.deviceModel = device.deviceId();
    params_.kosversion = device.kOSVersion;
    params_.at = environment_.accessToken();
    params_.acl = environment_.aclHost;
    params_.preloadApp = getAppList(apps, clocks, true);
    params_.postloadApp = getAppList(apps, clocks, false);
    params_.deviceName = getDeviceName(device.machineIdentifier);
    std::string duid;
    for (const char c : device.vendorIdentifier) {
        if (c != '-') {
            duid += c;
        }
    }
    params_.duid = duid.substr(0, 30);
    if (debugMode()) {
        // A missing or broken configuration overrides nothing.
        const auto file =
            platform::fs::readFile(platform::Container::current().documents() / kConfigFile);
        const auto config =
            file.ok() ? platform::json::parse(file.value()) : platform::Result<Value>(file.error());
        if (config.ok() && config.value().isDictionary()) {
            LG_VERBOSE("[DEBUG MODE]: custom request: %@",
                       lg::redacted(config.value()).description());
            const std::pair<const char*, std::optional<std::string>*> overrides[] = {
                {"mcc", &params_.mcc},
                {"mnc", &params_.mnc},
                {"deviceModel", &params_.deviceModel},
                {"kOSVersion", &params_.kosversion},
                {"MANUFACTURER", &params_.manufacturer},
                {"accessTokenValue", &params_.at},
                {"acl", &params_.acl},
                {"preloadApp", &params_.preloadApp},
                {"postloadApp", &params_.postloadApp},
                {"deviceId", &params_.duid},
                {"webApiVersion", &params_.webApiVersion}};
            for (const auto& [key, field] : overrides) {
                if (auto value = member(config.value(), key); value && !value->empty()) {
                    *field = std::move(value);
                }
            }
        } else {
            LG_WARN("[DEBUG MODE]: no usable %@, no overrides", std::string(kConfigFile));
        }
        params_.protocol = environment_.defaults.boolean(kDebugUseHttpsKey).value_or(false)
                               ? "https://"
                               : "http://";
    }
    LG_VERBOSE("==== SET PARAM VALUES ====");
    LG_VERBOSE("= MCC: %@", params_.mcc.value_or("(null)"));
    LG_VERBOSE("= MNC: %@", params_.mnc.value_or("(null)"));
    LG_VERBOSE("= Device Model: %@", params_.deviceModel.value_or("(null)"));
    LG_VERBOSE("= Kavo OS Version: %@", params_.kosversion.value_or("(null)"));
    LG_VERBOSE("= Manufacturer: %@", params_.manufacturer.value_or("(null)"));
    LG_VERBOSE("= AT: %@", masked(params_.at));
    LG_VERBOSE("= ACL: %@", params_.acl.value_or("(null)"));
    LG_VERBOSE("= Preload App: %@", params_.preloadApp.value_or("(null)"));
    LG_VERBOSE("= Postload App: %@", params_.postloadApp.value_or("(null)"));
    LG_VERBOSE("= Device Name: %@", params_.deviceName.value_or("(null)"));
    LG_VERBOSE("= DUID: %@", masked(params_.duid));
    LG_VERBOSE("= Protocol: %@", params_.protocol);
    LG_VERBOSE("= webApiVersion: %@", params_.webApiVersion.value_or("(null)"));
    LG_VERBOSE("==========================");
}

bool TQKavoAppsWebApi::isHostAndPort(std::string_view text) {
    const auto colon = text.rfind(':');
    const std::string_view host = text.substr(0, colon);
    if (colon != std::string_view::npos) {
        const std::string_view port = text.substr(colon + 1);
        unsigned long number = 0;
        for (const char c : port) {
            if (c < '0' || c > '9' || number > 65535) {
                return false;
            }
            number = number * 10 + static_cast<unsigned long>(c - '0');
        }
        if (number == 0 || number > 65535) {
            return false;
        }
    }
    // Labels of letters, digits and inner hyphens, as DNS names have them.
    constexpr std::size_t kMaxName = 253;
    constexpr std::size_t kMaxLabel = 63;
    if (host.empty() || host.size() > kMaxName) {
        return false;
    }
    std::size_t start = 0;
    while (start <= host.size()) {
        const std::size_t end = std::min(host.find('.', start), host.size());
        const std::string_view label = host.substr(start, end - start);
        const bool fits = !label.empty() && label.size() <= kMaxLabel && label.front() != '-' &&
                          label.back() != '-' &&
                          std::all_of(label.begin(), label.end(), [](char c) {
                              return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                     (c >= '0' && c <= '9') || c == '-';
                          });
        if (!fits) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

void TQKavoAppsWebApi::start() {
    auto saved = environment_.defaults.string(kDomainKey);
    if (saved && !isHostAndPort(*saved)) {
        LG_WARN("TQKavoAppsWebApi: the saved domain %@ is no host name; looked up again",
                TQUtils::printableForLog(*saved));
        saved.reset();
    }
    if (!debugMode() && saved && params_.mcc &&
        environment_.defaults.string(kMccKey) == params_.mcc) {
        domain_ = saved;
        setMainPageWebStore();
    } else {
        getKavoAppsAccessURL();
    }
}

void TQKavoAppsWebApi::getKavoAppsAccessURL() {
    state_ = domainAwaited;
    std::string address = environment_.lookupHost + kDomainLookupPath;
    if (debugMode()) {
        const auto file =
            platform::fs::readFile(platform::Container::current().documents() / kConfigFile);
        const auto config =
            file.ok() ? platform::json::parse(file.value()) : platform::Result<Value>(file.error());
        if (config.ok()) {
            if (auto custom = member(config.value(), "getDomainURL"); custom && !custom->empty()) {
                address = *custom;
            }
        }
    }
    LG_VERBOSE("%s Kavo app URL: %@", "getKavoAppsAccessURL", address);
    platform::net::URLRequest request;
    request.url = params_.protocol + address;
    if (params_.mcc) {
        request.url += "?mcc=" + TQUtils::escapeString(*params_.mcc);
    }
    request.headers.set("Content-Type", "application/x-www-form-urlencoded");
    makeRequest(std::move(request));
}

std::string TQKavoAppsWebApi::registrationBody(const TQKavoAppsWebParams& params) {
    const std::pair<const char*, const std::optional<std::string>*> fields[] = {
        {"mcc", &params.mcc},
        {"mnc", &params.mnc},
        {"deviceModel", &params.deviceModel},
        {"kosversion", &params.kosversion},
        {"manufacturer", &params.manufacturer},
        {"at", &params.at},
        {"acl", &params.acl},
        {"preloadApp", &params.preloadApp},
        {"postloadApp", &params.postloadApp},
        {"duid", &params.duid},
        {"webApiVersion", &params.webApiVersion}};
    std::string body;
    for (const auto& [key, value] : fields) {
        if (*value) {
            body += std::string(key) + "=" + TQUtils::escapeString(**value) + "&";
        }
    }
    // The last pair goes without "&", as the version (when set) always ended the body.
    if (!body.empty() && body.back() == '&') {
        body.pop_back();
    }
    return body;
}

void TQKavoAppsWebApi::setMainPageWebStore() {
    state_ = registrationAwaited;
    platform::net::URLRequest request;
    request.method = "POST";
    request.url = params_.protocol + domain_.value_or("") + kRegistrationPath;
    const std::string body = registrationBody(params_);
    request.body = platform::Bytes(body.begin(), body.end());
    request.headers.set("Content-Type", "application/x-www-form-urlencoded");
    LG_VERBOSE("request: %@", request.url);
    // The body carries the access token and the device's identity: logged by their presence.
    TQKavoAppsWebParams shown = params_;
    shown.at = params_.at ? std::optional<std::string>(masked(params_.at)) : std::nullopt;
    shown.duid = params_.duid ? std::optional<std::string>(masked(params_.duid)) : std::nullopt;
    LG_VERBOSE("postParams: %@", registrationBody(shown));
    makeRequest(std::move(request));
}

std::string TQKavoAppsWebApi::getMainPageWebStore() const {
    std::string url = params_.protocol + domain_.value_or("") + kMainPagePath +
                      "?cID=" + TQUtils::escapeString(cID_.value_or(""));
    for (const auto& [key, value] : {std::pair{"&appID=", &environment_.appID},
                                     std::pair{"&productID=", &environment_.productID},
                                     std::pair{"&referID=", &environment_.referID}}) {
        if (*value) {
            url += key + TQUtils::escapeString(**value);
        }
    }
    return url;
}

void TQKavoAppsWebApi::makeRequest(platform::net::URLRequest request) {
    request.limits = platform::net::TransferLimits::call();
    if (request_) {
        request_->cancel();
    }
    const std::string url = request.url;
    request_ = HCHTTPRequestOperation::make(std::move(request), environment_.loader);
    request_->setAnchorCertificates(environment_.anchors);
    const std::weak_ptr<TQKavoAppsWebApi*> weak = self_;
    const HCHTTPRequestOperation* current = request_.get();
    const auto owner = [weak, current]() -> TQKavoAppsWebApi* {
        const auto self = weak.lock();
        return self && *self != nullptr && (*self)->request_.get() == current ? *self : nullptr;
    };
    request_->setCompletionBlockWithSuccess(
        [owner, url](const std::shared_ptr<HCHTTPRequestOperation>& operation, const Value&) {
            TQKavoAppsWebApi* self = owner();
            if (self == nullptr) {
                return;
            }
            self->request_.reset();
            const int status = operation->response() ? operation->response()->statusCode : 0;
            LG_VERBOSE("status code - %@", status);
            // A failing status ends here: its body is not dispatched behind the alert.
            if (status == 204) {
                self->didFail("status 204");
                return;
            }
            self->connectionDidFinishLoading(url,
                                             operation->responseData().value_or(platform::Bytes{}));
        },
        [owner](const std::shared_ptr<HCHTTPRequestOperation>&, const HCError& error) {
            TQKavoAppsWebApi* self = owner();
            if (self == nullptr) {
                return;
            }
            self->request_.reset();
            self->didFail(error.localizedDescription);
        });
    request_->start();
}

void TQKavoAppsWebApi::didFail(const std::string& reason) {
    LG_VERBOSE("Error Code - %@", reason);
    environment_.delegate.showServerAlert(alertMessage());
}

void TQKavoAppsWebApi::connectionDidFinishLoading(const std::string& requestURL,
                                                  const platform::Bytes& body) {
    if (state_ == skipNext) {
        state_ = registrationAwaited;
        return;
    }
    const auto parsed = platform::json::parse(
        std::string_view(reinterpret_cast<const char*>(body.data()), body.size()));
    if (!parsed.ok() || !parsed.value().isDictionary()) {
        // Nothing would follow and the overlay would stay for ever: the alert instead.
        LG_VERBOSE("DataResponse nil");
        didFail("the answer is no JSON object");
        return;
    }
    const Value& answer = parsed.value();
    if (state_ == domainAwaited) {
        domain_ = member(answer, "domain");
        LG_VERBOSE("domain : %@", domain_.value_or("(null)"));
        if (!domain_ || domain_->empty()) {
            didFail("the domain answer names no domain");
            return;
        }
        if (!isHostAndPort(*domain_)) {
            LG_WARN("TQKavoAppsWebApi: the domain answer %@ is no host name",
                    TQUtils::printableForLog(*domain_));
            domain_.reset();
            didFail("the domain answer names no host");
            return;
        }
        if (!debugMode()) {
            environment_.defaults.set(kDomainKey, *domain_);
            environment_.defaults.set(kMccKey, params_.mcc ? Value(*params_.mcc) : Value());
            TQUtils::synchronizeDefaults(environment_.defaults, "TQKavoAppsWebApi");
        }
        setMainPageWebStore();
        return;
    }
    if (state_ != registrationAwaited) {
        return;
    }
    const auto cID = member(answer, "cID");
    const auto errorCode = member(answer, "errorCode");
    if (cID) {
        LG_VERBOSE("cID is : %@", masked(cID));
    }
    cID_ = cID;
    if (requestURL.find(kRegistrationPath) == std::string::npos) {
        return;
    }
    if (cID_ && errorCode == "0") {
        environment_.delegate.loadMainPage(getMainPageWebStore());
    } else {
        didFail("registration refused with error code " + errorCode.value_or("(none)"));
    }
}
