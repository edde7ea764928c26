#include "store/TQFeaturedApps.h"

#include <cstdio>

#include "http/HCHTTPRequestOperation.h"
#include "link/TQXMLParser.h"
#include "listener/TQWallClock.h"
#include "logging/LGLog.h"
#include "services/TQKeyedArchive.h"
#include "utils/TQUtils.h"

using platform::Array;
using platform::Value;

namespace {

constexpr std::string_view kClassName = "TQFeaturedAppObject";
constexpr std::int64_t kHour = 3'600'000;
constexpr const char* kStrings[] = {"productID", "productName", "kavoAppId", "hostAppId",
                                    "productIconImgURL"};

std::string* field(TQFeaturedAppObject& app, std::string_view key) {
    if (key == "productID")
        return &app.productID;
    if (key == "productName")
        return &app.productName;
    if (key == "kavoAppId")
        return &app.kavoAppId;
    if (key == "hostAppId")
        return &app.hostAppId;
    return &app.productIconImgURL;
}

// An element's trimmed text in TQXMLParser's form; "" when it has none.
std::string textOf(const Value& element, std::string_view key) {
    const Value* child = element.find(key);
    const Value* text = child != nullptr ? child->find("text") : nullptr;
    const std::string* string = text != nullptr ? text->stringIf() : nullptr;
    return string != nullptr ? std::string(TQUtils::trimmedWhiteSpaceAndNewlines(*string))
                             : std::string();
}

// Folds one UTF-8 letter of Latin-1's range to its bare lower-case ASCII letter.
char32_t folded(char32_t c) {
    static constexpr std::u32string_view kFrom = U"àáâãäåçèéêëìíîïñòóôõöøùúûüýÿ";
    static constexpr std::string_view kTo = "aaaaaaceeeeiiiinoooooouuuuyy";
    if (c >= U'A' && c <= U'Z') {
        return c - U'A' + U'a';
    }
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) {
        c += 0x20;
    }
    if (const auto at = kFrom.find(c); at != std::u32string_view::npos) {
        return static_cast<char32_t>(kTo[at]);
    }
    return c;
}

std::u32string foldedText(std::string_view text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        char32_t c = byte;
        std::size_t length = 1;
        if (byte >= 0xC0 && byte < 0xE0 && i + 1 < text.size()) {
            c = ((byte & 0x1FU) << 6U) | (static_cast<unsigned char>(text[i + 1]) & 0x3FU);
            length = 2;
        }
        out += folded(c);
        i += length;
    }
    return out;
}

}  // namespace

TQFeaturedAppObject TQFeaturedAppObject::initWithDictionary(const Value& appInfo) {
    TQFeaturedAppObject app;
    for (const char* key : kStrings) {
        *field(app, key) = textOf(appInfo, key);
    }
    return app;
}

platform::Bytes TQFeaturedAppObject::encoded() const {
    TQFeaturedAppObject copy = *this;
    keyed_archive::Fields fields;
    for (const char* key : kStrings) {
        fields.emplace_back(key, *field(copy, key));
    }
    fields.emplace_back("isInstalled", isInstalledFlag);
    return keyed_archive::encode(kClassName, fields);
}

std::optional<TQFeaturedAppObject> TQFeaturedAppObject::decodedWithObject(const Value& data) {
    const auto archive = keyed_archive::decode(data, kClassName);
    if (!archive) {
        return std::nullopt;
    }
    TQFeaturedAppObject app;
    for (const char* key : kStrings) {
        *field(app, key) = archive->text(key).value_or("");
    }
    app.isInstalledFlag = archive->contains("isInstalled");
    return app;
}

TQFeaturedApps::TQFeaturedApps(Environment environment)
    : environment_(std::move(environment)), self_(std::make_shared<TQFeaturedApps*>(this)) {}

TQFeaturedApps::~TQFeaturedApps() {
    *self_ = nullptr;
    if (request_) {
        request_->cancel();
        // The block holds its operation until it runs, and nothing may run it any more (the
        // program's loop may have ended): let go of both now.
        request_->setCompletionBlock(nullptr);
    }
}

std::string TQFeaturedApps::featuredListURL(std::string_view host, const TQStoreDevice& device,
                                            std::int64_t startNum, std::int64_t endNum) {
    std::string url = "http://" + std::string(host) + kPath;
    char separator = '?';
    const auto add = [&](std::string_view key, std::string_view value) {
        url.append(1, separator).append(key).append("=").append(TQUtils::escapeString(value));
        separator = '&';
    };
    add("appIdList", "N/A");
    add("deviceId", device.deviceId());
    add("kOSVersion", device.kOSVersion.value_or(""));
    add("csc", "ios");
    add("sdkVer", "1");
    add("imgWidth", "512");
    add("imgHeight", "512");
    add("startNum", std::to_string(startNum));
    add("endNum", std::to_string(endNum));
    if (const auto mcc = device.mcc()) {
        add("mcc", *mcc);
    }
    if (const auto mnc = device.mnc()) {
        add("mnc", *mnc);
    }
    return url;
}

std::string TQFeaturedApps::getFeaturedAppList(const std::vector<Value>& apps,
                                               const std::vector<Value>& clocks) {
    std::string list;
    for (const auto* entries : {&apps, &clocks}) {
        for (const Value& entry : *entries) {
            const std::string name = textOf(entry, "PackageName");
            if (name.empty()) {
                continue;
            }
            list += list.empty() ? name : "@" + name;
        }
    }
    return list;
}

bool TQFeaturedApps::sameIgnoringCaseAndDiacritics(std::string_view a, std::string_view b) {
    return foldedText(a) == foldedText(b);
}

bool TQFeaturedApps::isInstalled(const TQFeaturedAppObject& app) const {
    return environment_.isInstalled && environment_.isInstalled(app.kavoAppId);
}

void TQFeaturedApps::getFeaturedListWithCount(std::int64_t n) {
    // One buffer and one set of page numbers: a second pass would mix its pages into this one.
    if (n == 0 && passRunning()) {
        LG_DEBUG("GET FEATURE LIST REQUEST: dropped, a request is in flight");
        return;
    }
    startNum_ = kPageSize * n + 1;
    endNum_ = kPageSize * n + kPageSize;
    environment_.defaults.set(kStartNumKey, startNum_);
    environment_.defaults.set(kEndNumKey, endNum_);
    TQUtils::synchronizeDefaults(environment_.defaults, "TQFeaturedApps");
    featuredCount_ = n;
    makeRequest(featuredListURL(environment_.host, environment_.device(), startNum_, endNum_));
}

void TQFeaturedApps::makeRequest(std::string url) {
    platform::net::URLRequest request;
    request.url = std::move(url);
    request.limits = platform::net::TransferLimits::call();
    request.headers.set("Content-Type", "application/x-www-form-urlencoded");
    LG_DEBUG("GET FEATURE LIST REQUEST: %@", request.url);
    if (request_) {
        request_->cancel();
    }
    request_ = HCHTTPRequestOperation::make(std::move(request), environment_.loader);
    const std::weak_ptr<TQFeaturedApps*> weak = self_;
    const auto owner = [weak]() -> TQFeaturedApps* {
        const auto self = weak.lock();
        return self ? *self : nullptr;
    };
    const HCHTTPRequestOperation* current = request_.get();
    request_->setCompletionBlockWithSuccess(
        [owner, current](const std::shared_ptr<HCHTTPRequestOperation>& operation, const Value&) {
            TQFeaturedApps* self = owner();
            if (self == nullptr || self->request_.get() != current) {
                return;
            }
            LG_VERBOSE("%s: didFinishLoading", "TQFeaturedApps");
            self->request_.reset();
            self->saveFeaturedAppResponseData(
                operation->responseData().value_or(platform::Bytes{}));
        },
        [owner, current](const std::shared_ptr<HCHTTPRequestOperation>&, const HCError& error) {
            TQFeaturedApps* self = owner();
            if (self == nullptr || self->request_.get() != current) {
                return;
            }
            self->request_.reset();
            self->onFailure(error.localizedDescription);
        });
    request_->start();
}

void TQFeaturedApps::onFailure(std::string_view reason) {
    // The stored list, hash and refresh time stay: the next visit after the refresh time
    // tries again.
    LG_VERBOSE("%s: didFailWithError: %@", "TQFeaturedApps", std::string(reason));
}

void TQFeaturedApps::saveFeaturedAppResponseData(const platform::Bytes& body) {
    const auto parsed = TQXMLParser::dictionaryForXMLData(body);
    const Value* result = parsed ? parsed->find("result") : nullptr;
    if (result == nullptr || result->find("resultCode") == nullptr) {
        onFailure("the answer is no featured list");
        return;
    }
    LG_VERBOSE("%@", result->description());
    if (platform::stringIntValue(textOf(*result, "resultCode")) != 0) {
        return;
    }
    std::int64_t cycle = 0;
    if (const Value* appInfo = result->find("appInfo"); appInfo != nullptr) {
        // A single element is the list of one, so its cycle counts too.
        const Value* first = appInfo->isArray() && !appInfo->arrayIf()->empty()
                                 ? &appInfo->arrayIf()->front()
                                 : (appInfo->isDictionary() ? appInfo : nullptr);
        if (first != nullptr) {
            cycle = platform::stringIntValue(textOf(*first, "listRefreshCycle"));
        }
    }
    environment_.defaults.set(kRefreshTimestampKey,
                              TQWallClock::current().millisecondsSince1970() + cycle * kHour);
    updateFeaturedAppObjectFromDictionary(*result);
}

void TQFeaturedApps::updateFeaturedAppObjectFromDictionary(const Value& result) {
    const std::int64_t totalCount = platform::stringIntValue(textOf(result, "totalCount"));
    const Value* hash = result.find("hashValue");
    const std::string hashValue = textOf(result, "hashValue");
    if (hash != nullptr && environment_.defaults.string(kHashValueKey) == hashValue) {
        LG_DEBUG("FEATURED APP HASH VALUE IS SAME");
        TQUtils::synchronizeDefaults(environment_.defaults, "TQFeaturedApps");
        return;
    }
    if (featuredCount_ == 0) {
        featuredAppsServerData_.clear();
    }
    if (const Value* appInfo = result.find("appInfo"); appInfo != nullptr && appInfo->isArray()) {
        for (const Value& element : *appInfo->arrayIf()) {
            featuredAppsServerData_.push_back(TQFeaturedAppObject::initWithDictionary(element));
        }
    }
    std::erase_if(featuredAppsServerData_,
                  [this](const TQFeaturedAppObject& app) { return isInstalled(app); });
    if (featuredAppsServerData_.size() < kEnough && endNum_ < totalCount) {
        getFeaturedListWithCount(featuredCount_ + 1);
        return;
    }
    LG_DEBUG("%s save featured app list to NSUserDefault...",
             "updateFeaturedAppObjectFromDictionary");
    Array archives;
    for (const TQFeaturedAppObject& app : featuredAppsServerData_) {
        archives.emplace_back(app.encoded());
    }
    platform::UserDefaults& defaults = environment_.defaults;
    defaults.set(kCountKey, featuredCount_);
    defaults.set(kTotalCountKey, totalCount);
    defaults.set(kAppListKey, Value(std::move(archives)));
    defaults.set(kHashValueKey, hash != nullptr ? Value(hashValue) : Value());
    TQUtils::synchronizeDefaults(defaults, "TQFeaturedApps");
    environment_.center.post(kUpdatedNotification);
}

std::optional<Array> TQFeaturedApps::featuredApps() const {
    const auto list = environment_.defaults.object(kAppListKey);
    if (!list || !list->isArray()) {
        return std::nullopt;
    }
    return *list->arrayIf();
}

void TQFeaturedApps::refreshFeaturedAppData() {
    LG_DEBUG("%s", "refreshFeaturedAppData");
    Array kept;
    for (const Value& archive : featuredApps().value_or(Array{})) {
        const auto app = TQFeaturedAppObject::decodedWithObject(archive);
        if (app && !isInstalled(*app)) {
            kept.push_back(archive);
        }
    }
    platform::UserDefaults& defaults = environment_.defaults;
    const bool more =
        defaults.integer(kEndNumKey).value_or(0) < defaults.integer(kTotalCountKey).value_or(0);
    const std::size_t remaining = kept.size();
    defaults.set(kAppListKey, Value(std::move(kept)));
    TQUtils::synchronizeDefaults(defaults, "TQFeaturedApps");
    if (more && remaining < kEnough) {
        getFeaturedListWithCount(defaults.integer(kCountKey).value_or(0) + 1);
    }
}
