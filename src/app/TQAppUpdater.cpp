#include "app/TQAppUpdater.h"

#include <utility>

#include "http/HCURLResponseSerialization.h"
#include "logging/LGLog.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Text.h"
#include "platform/host/AppHost.h"
#include "platform/net/NetworkReachability.h"
#include "platform/net/URL.h"
#include "utils/TQLocalization.h"

using platform::Value;

namespace {

constexpr std::size_t kMaxVersionLength = 64;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// "2", "2.1", "2.1.10": digits in dot-separated runs.
bool isDottedNumber(std::string_view version) {
    if (version.empty() || version.size() > kMaxVersionLength || version.front() == '.' ||
        version.back() == '.') {
        return false;
    }
    char previous = '\0';
    for (const char c : version) {
        if (!isDigit(c) && !(c == '.' && previous != '.')) {
            return false;
        }
        previous = c;
    }
    return true;
}

std::string withoutEvery(std::string text, std::string_view piece) {
    for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at)) {
        text.erase(at, piece.size());
    }
    return text;
}

platform::Error malformed(std::string message) {
    return platform::Error{"TQAppUpdater", 1, std::move(message)};
}

}  // namespace

TQAppUpdater::TQAppUpdater(Environment environment)
    : loop_(environment.loop),
      bundleIdentifier_(std::move(environment.bundleIdentifier)),
      runningVersion_(std::move(environment.runningVersion)),
      network_(environment.network),
      lookupAddress_(std::move(environment.lookupAddress)),
      configuration_(std::move(environment.configuration)),
      loader_(environment.loader),
      alertTitle_(TQLocalization::localizedString("MIDS_QAPPS_BUTTON_UPDATE_ABB")),
      alertMessage_(TQLocalization::localizedString(
          "WDS_WMGR_POP_A_NEW_VERSION_IS_AVAILABLE_UPDATE_THE_APP_TO_CONTINUE")),
      updateTitle_(TQLocalization::localizedString("MIDS_QAPPS_BUTTON_UPDATE_ABB")),
      cancelTitle_(TQLocalization::localizedString("MIDS_QAPPS_BUTTON_LATER_ABB")) {
    const auto base = platform::net::URL::parse(lookupAddress_);
    if (!base || platform::asciiLowercased(base->scheme()) != "https") {
        LG_ERROR("TQAppUpdater: %@ is no https address; no update is looked up", lookupAddress_);
        return;
    }
    lookupHost_ = platform::asciiLowercased(base->host());
}

TQAppUpdater::~TQAppUpdater() = default;

int TQAppUpdater::compareVersions(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            while (i < a.size() && a[i] == '0') {
                ++i;
            }
            while (j < b.size() && b[j] == '0') {
                ++j;
            }
            std::size_t endA = i;
            std::size_t endB = j;
            while (endA < a.size() && isDigit(a[endA])) {
                ++endA;
            }
            while (endB < b.size() && isDigit(b[endB])) {
                ++endB;
            }
            // Without leading zeros the longer run is the larger number.
            if (endA - i != endB - j) {
                return endA - i < endB - j ? -1 : 1;
            }
            if (const int order = a.substr(i, endA - i).compare(b.substr(j, endB - j));
                order != 0) {
                return order < 0 ? -1 : 1;
            }
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
        }
        ++i;
        ++j;
    }
    if (i < a.size()) {
        return 1;
    }
    return j < b.size() ? -1 : 0;
}

platform::Result<std::optional<TQAppUpdater::StoreAnswer>> TQAppUpdater::readAnswer(
    std::string_view body, std::string_view lookupHost) {
    auto parsed = platform::json::parse(body);
    if (!parsed.ok() || !parsed->dictionaryIf()) {
        return malformed("the answer is no JSON object");
    }
    const Value& answer = *parsed;
    if (answer["resultCount"].intValue().value_or(0) == 0) {
        return std::optional<StoreAnswer>();
    }
    const platform::Array* results = answer["results"].arrayIf();
    if (results == nullptr || results->empty() || !results->front().dictionaryIf()) {
        return malformed("the answer counts results but lists none");
    }
    const std::string* version = results->front()["version"].stringIf();
    const std::string* page = results->front()["trackViewUrl"].stringIf();
    if (version == nullptr || !isDottedNumber(*version)) {
        return malformed("the answer's version is no dotted number");
    }
    if (page == nullptr) {
        return malformed("the answer has no store page");
    }
    std::string cleaned = withoutEvery(*page, "&uo=4");
    const auto url = platform::net::URL::parse(cleaned);
    const auto authority = cleaned.substr(0, cleaned.find('/', cleaned.find("://") + 3));
    if (!url || platform::asciiLowercased(url->scheme()) != "https" ||
        platform::asciiLowercased(url->host()) != lookupHost ||
        authority.find('@') != std::string::npos) {
        return malformed("the store page " + cleaned + " is not the store's");
    }
    return std::optional<StoreAnswer>(StoreAnswer{*version, std::move(cleaned)});
}

void TQAppUpdater::checkApplicationUpdate() {
    LG_DEBUG("Show update with confirmation");
    showUpdateWithConfirmation();
}

void TQAppUpdater::showUpdateWithConfirmation() {
    forceOpenNewAppVersion(false);
}

void TQAppUpdater::showUpdateWithForce() {
    forceOpenNewAppVersion(true);
}

void TQAppUpdater::forceOpenNewAppVersion(bool force) {
    if (!hasConnection()) {
        return;
    }
    const auto weak = weak_.weakPtr();
    checkNewAppVersion([weak, force](bool newer, const std::optional<std::string>& version) {
        if (auto* self = weak.get(); self != nullptr && newer && version) {
            self->alertUpdateForVersion(*version, force);
        }
    });
}

bool TQAppUpdater::hasConnection() const {
    if (lookupHost_.empty()) {
        return false;
    }
    const auto reachability =
        platform::net::NetworkReachability::forHostName(lookupHost_, network_);
    const auto flags = reachability ? reachability->flags() : std::nullopt;
    namespace flag = platform::net::reachability_flag;
    return flags && (*flags & flag::reachable) != 0 && (*flags & flag::connectionRequired) == 0;
}

void TQAppUpdater::checkNewAppVersion(VersionCheck completion) {
    if (lookupHost_.empty()) {
        completion(false, std::nullopt);
        return;
    }
    if (!client_) {
        client_ = std::make_unique<HCHTTPSessionManager>(lookupAddress_, configuration_, loader_);
        client_->setResponseSerializer(HCHTTPResponseSerializer::serializer());
    }
    ++inFlight_;
    const auto weak = weak_.weakPtr();
    client_->GET(
        "lookup", Value{{"bundleId", bundleIdentifier_}},
        [weak, completion](const auto&, const HCResponseObject& body) {
            if (auto* self = weak.get()) {
                --self->inFlight_;
                self->lookedUp(body, completion);
            }
        },
        [weak, completion](const auto&, const HCError& error) {
            LG_WARN("TQAppUpdater: lookup failed: %@", error.localizedDescription);
            if (auto* self = weak.get()) {
                --self->inFlight_;
                completion(false, std::nullopt);
            }
        });
}

void TQAppUpdater::lookedUp(const HCResponseObject& body, const VersionCheck& completion) {
    const platform::Bytes* bytes = body.bytesIf();
    const std::string text = bytes != nullptr ? std::string(bytes->begin(), bytes->end()) : "";
    const auto answer = readAnswer(text, lookupHost_);
    if (!answer.ok()) {
        LG_WARN("TQAppUpdater: %@", answer.error().message);
        completion(false, std::nullopt);
        return;
    }
    if (!*answer || compareVersions((*answer)->version, runningVersion_) <= 0) {
        completion(false, std::nullopt);
        return;
    }
    storePage_ = (*answer)->page;
    completion(true, (*answer)->version);
}

void TQAppUpdater::alertUpdateForVersion(const std::string& /*version*/, bool force) {
    const auto weak = weak_.weakPtr();
    platform::AppHost::current().showAlert(
        {.title = alertTitle_,
         .message = alertMessage_,
         .buttons = {force ? std::string() : cancelTitle_, updateTitle_},
         .pressed = [weak](std::size_t button) {
             auto* self = weak.get();
             if (self == nullptr || button != 1) {
                 return;
             }
             platform::AppHost& host = platform::AppHost::current();
             if (self->storePage_ && host.canOpenURL(*self->storePage_)) {
                 host.openURL(*self->storePage_);
             } else {
                 self->alertCantOpenUpdateUrl();
             }
         }});
}

void TQAppUpdater::alertCantOpenUpdateUrl() {
    platform::AppHost::current().showAlert(
        {.title = TQLocalization::localizedString("IDS_ST_HEADER_NO_NETWORK_CONNECTION_ABB"),
         .message = TQLocalization::localizedString(
             "IDS_ST_POP_CHECK_YOUR_NETWORK_CONNECTION_AND_TRY_AGAIN"),
         .buttons = {TQLocalization::localizedString("ok")},
         .pressed = nullptr});
}
