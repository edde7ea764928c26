#include "store/TQAppManager.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <utility>

#include "link/TQXMLParser.h"
#include "logging/LGLog.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "services/TQNotificationObject.h"
#include "store/TQDownloadKavoAppOperation.h"
#include "store/TQFeaturedApps.h"
#include "utils/TQUtils.h"

using platform::Array;
using platform::Dictionary;
using platform::Value;

namespace {

constexpr const char* kBlockedApps = "BLOCKED_APPS_LIST";

void setIfAbsent(platform::UserDefaults& defaults, std::string_view key, Value value) {
    if (!defaults.object(key)) {
        defaults.set(std::string(key), std::move(value));
    }
}
constexpr const char* kStoreName = "App Store";
constexpr const char* kStoreIdentifier = "com.apple.AppStore";

std::string trimmed(std::string_view text) {
    return std::string(TQUtils::trimmedWhiteSpaceAndNewlines(text));
}

// The trimmed "text" of an entry's child element; "" when it has none.
std::string field(const Value& item, std::string_view name) {
    const Value& text = item[name]["text"];
    const std::string* value = text.stringIf();
    return value != nullptr ? trimmed(*value) : std::string();
}

// The trimmed value of a record's key; nothing when absent.
std::optional<std::string> recordValue(const Value& record, std::string_view key) {
    const Value* value = record.find(key);
    if (value == nullptr || value->isNull()) {
        return std::nullopt;
    }
    if (const auto text = value->stringValue()) {
        return trimmed(*text);
    }
    return std::nullopt;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

Value textElement(std::string_view text) {
    return Value{{"text", text}};
}

void post(const char* name, Value object = {}) {
    platform::NotificationCenter::defaultCenter().post(name, nullptr, std::move(object));
}

}  // namespace

TQAppManager::TQAppManager() = default;
TQAppManager::~TQAppManager() = default;

std::optional<std::string> TQAppManager::modelNumber() {
    const auto group = TQUtils::getPreferenceByGroup(TQUtils::kGroupKavoInfo);
    if (!group) {
        return std::nullopt;
    }
    const Value* number = group->find(TQUtils::kKavoModelNumber);
    if (number == nullptr) {
        return std::nullopt;
    }
    return number->stringValue();
}

std::vector<Value> TQAppManager::items(List list) const {
    const auto model = modelNumber();
    if (!model) {
        return {};
    }
    const auto text = TQUtils::retrieveXml(*model, list == List::apps ? kAppListFile
                                                                      : kClockListFile);
    if (!text) {
        return {};
    }
    const auto parsed =
        TQXMLParser::dictionaryForXMLString(TQUtils::trimmedWhiteSpaceAndNewlines(*text));
    if (!parsed) {
        return {};
    }
    const Value document(std::move(*parsed));
    const Value& entries = document[list == List::apps ? "Wapp" : "Clock"]["item"];
    if (const Array* many = entries.arrayIf()) {
        return {many->begin(), many->end()};
    }
    // One item parses as the entry itself; it is still a list of one.
    if (entries.isDictionary()) {
        return {entries};
    }
    return {};
}

std::vector<Value> TQAppManager::appItems() const {
    return items(List::apps);
}

std::vector<Value> TQAppManager::clockItems() const {
    return items(List::clocks);
}

std::vector<TQUninstallObject> TQAppManager::uninstallObjects(const std::vector<Value>& items) {
    std::vector<TQUninstallObject> objects;
    objects.reserve(items.size());
    for (const Value& item : items) {
        objects.push_back({.name = field(item, "AppName"),
                           .packageName = field(item, "PackageName"),
                           .classname = field(item, "ClassName"),
                           .isRemovable = field(item, "IsRemovable") == "true",
                           .isShown = field(item, "isShown") == "true",
                           .isPreload = field(item, "PreLoad") == "true"});
    }
    return objects;
}

std::vector<TQUninstallObject> TQAppManager::filteredAppItemsUsingPredicate(bool filter) const {
    auto objects = uninstallObjects(appItems());
    if (filter) {
        std::erase_if(objects, [](const TQUninstallObject& object) { return !object.isRemovable; });
    }
    return objects;
}

std::vector<TQUninstallObject> TQAppManager::filteredClockItemsWithUsingPredicate(
    bool filter) const {
    auto objects = uninstallObjects(clockItems());
    if (filter) {
        std::erase_if(objects, [](const TQUninstallObject& object) { return object.isPreload; });
    }
    return objects;
}

void TQAppManager::save(List list, const std::vector<Value>& items) {
    const bool apps = list == List::apps;
    Dictionary root;
    root.set(apps ? "Wapp" : "Clock",
             Value(Dictionary{{"item", Value(Array(items.begin(), items.end()))}}));
    const std::string xml = TQXMLParser::convertDictionaryToXML(root, std::nullopt, true);
    LG_DEBUG(apps ? "[APP] New XML string: %@" : "[CLOCK] New XML string: %@", xml);
    const auto model = modelNumber().value_or("");
    const auto saved = TQUtils::saveXml(xml, model, apps ? kAppListFile : kClockListFile);
    if (!saved.ok()) {
        LG_WARN("TQAppManager: list not saved: %@", saved.error().message);
        return;
    }
    LG_VERBOSE(apps ? "[APP] XML app list saved!" : "[CLOCK] XML app list saved!");
}

void TQAppManager::install(List list, const Value& record) {
    LG_VERBOSE("%s dict: %@", list == List::apps ? "installAppWithDict" : "installClockWithDict",
               record.description());
    auto entries = items(list);
    const auto appName = recordValue(record, "appname");
    const std::string packageName = recordValue(record, "packagename").value_or("");
    const auto version = recordValue(record, "version");
    const auto className = recordValue(record, "classname");

    const auto objects = uninstallObjects(entries);
    const bool listed =
        std::any_of(objects.begin(), objects.end(), [&](const TQUninstallObject& object) {
            return equalIgnoringCase(object.packageName, packageName);
        });
    if (listed) {
        LG_DEBUG("%s duplicate package \"%@\"...!", "install", packageName);
    } else {
        Value entry{{"AppName", textElement(appName.value_or(""))},
                    {"PackageName", textElement(packageName)},
                    {"ClassName", textElement(className.value_or(""))},
                    {"PreLoad", textElement("false")},
                    {"IsRemovable", textElement("true")},
                    {"Version", textElement(version.value_or("0.0.0"))}};
        if (list == List::clocks) {
            entry["IsShown"] = textElement("false");
        }
        entries.push_back(std::move(entry));
        save(list, entries);
        if (onInstallRecorded_) {
            onInstallRecorded_();
        }
    }
    if (!packageName.empty()) {
        post(kAppsInstalled, Value(packageName));
    }
}

void TQAppManager::installAppWithDict(const Value& record) {
    install(List::apps, record);
}

void TQAppManager::installClockWithDict(const Value& record) {
    install(List::clocks, record);
}

void TQAppManager::uninstall(List list, std::string_view packageName) {
    const bool apps = list == List::apps;
    LG_VERBOSE("%s packageName: %@",
               apps ? "uninstallAppWithPackageName" : "uninstallClockWithPackageName",
               std::string(packageName));
    auto entries = items(list);
    const auto match = std::find_if(entries.begin(), entries.end(), [&](const Value& item) {
        return field(item, "PackageName") == packageName;
    });
    if (match != entries.end()) {
        const Value found = *match;
        std::erase(entries, found);
        save(list, entries);
        const auto model = modelNumber();
        // The icon is named after the package: only a name that is one path component.
        if (apps && model && TQUtils::isSafePathComponent(*model) &&
            TQUtils::isSafePathComponent(packageName)) {
            const auto icon = platform::Container::current().documents() / *model /
                              kAppIconsFolder / (std::string(packageName) + ".png");
            std::error_code error;
            if (std::filesystem::exists(icon, error)) {
                if (std::filesystem::remove(icon, error)) {
                    LG_VERBOSE("[APP] Remove app icon success");
                } else {
                    LG_VERBOSE("[APP] Remove app icon failed error: %@", error.message());
                }
            }
        }
    }
    post(apps ? kUninstallAppCompleted : kUninstallClockCompleted);
}

void TQAppManager::uninstallAppWithPackageName(std::string_view packageName) {
    uninstall(List::apps, packageName);
}

void TQAppManager::uninstallClockWithPackageName(std::string_view packageName) {
    uninstall(List::clocks, packageName);
}

void TQAppManager::defaultNotifications() {
    LG_DEBUG("%s", "defaultNotifications");
    auto& defaults = platform::UserDefaults::standard();
    // Defaults only: what the user chose before a connection stays as it is.
    setIfAbsent(defaults, "NOTI_NOTIFICATIONS_ON_OFF", true);
    setIfAbsent(defaults, "NOTI_TURN_ON_OFF", false);
    setIfAbsent(defaults, "NOTI_AUTO_SHOW_DETAILS_ON_OFF", true);
    TQUtils::synchronizeDefaults(defaults, "TQAppManager");
}

void TQAppManager::defaultWeatherSettings() {
    auto& defaults = platform::UserDefaults::standard();
    setIfAbsent(defaults, "WEATHER_UNIT", TQUtils::isCarrierTypeUSA() ? 0 : 1);
    setIfAbsent(defaults, "WEATHER_USE_CURRENT_LOCATION", false);
    setIfAbsent(defaults, "WEATHER_REFRESH_TIME", 6);
    TQUtils::synchronizeDefaults(defaults, "TQAppManager");
}

void TQAppManager::defaultBlockAppList() {
    LG_DEBUG("%s", "defaultBlockAppList");
    auto& defaults = platform::UserDefaults::standard();
    // The list the user edited stays as it is, even without the store in it; a new watch's
    // handshake removes the list first, so it starts with the default.
    if (!defaults.object(kBlockedApps)) {
        Array list;
        TQNotificationObject store;
        store.name = kStoreName;
        store.identifier = kStoreIdentifier;
        list.emplace_back(store.encoded());
        defaults.set(kBlockedApps, Value(std::move(list)));
        TQUtils::synchronizeDefaults(defaults, "TQAppManager");
    }

    // A running operation ends through its own stop, so that its bar, its observers and its
    // pending install go with it.
    stopRunningOperation();
    platform::OperationQueue& queue = getSharedQueue();
    queue.cancelAllOperations();
    if (queue.operationCount() > 0) {
        LG_VERBOSE("%s download operations queue not cleaned!", "defaultBlockAppList");
        queue_.reset();
        getSharedQueue();
    }
}

void TQAppManager::checkUpdate() {
    if (updater_) {
        updater_();
    } else {
        LG_INFO("TQAppManager: no updater, no update check");
    }
}

platform::OperationQueue& TQAppManager::getSharedQueue() {
    if (!queue_) {
        // On the main loop: the operation's steps and the link run there.
        queue_ = std::make_unique<platform::OperationQueue>(platform::RunLoop::main());
        queue_->setMaxConcurrentOperationCount(1);
    }
    return *queue_;
}

void TQAppManager::performDownload(std::string url, std::string appTitle, std::string appPath,
                                   std::string appID, TQPackageDownload::Source source) {
    platform::OperationQueue& queue = getSharedQueue();
    if (queue.operationCount() > 0) {
        LG_DEBUG("%s max operations queue 1...", "performDownload");
        return;
    }
    if (!factory_) {
        LG_WARN("TQAppManager: no link to install through, download of %@ dropped", appTitle);
        return;
    }
    // The watch takes one install exchange at a time; an automatic update holds it now.
    if (installBusy_ && installBusy_()) {
        LG_WARN("TQAppManager: an update installs, download of %@ dropped", appTitle);
        return;
    }
    auto operation =
        factory_(std::move(url), std::move(appTitle), std::move(appPath), std::move(appID), source);
    operation->setCompletionBlock([] { LG_VERBOSE("Completion!"); });
    current_ = operation;
    queue.addOperation(operation);
}

void TQAppManager::stopRunningOperation() {
    if (auto running = current_.lock()) {
        running->stopOperation();
    }
}

bool TQAppManager::hasPackage(std::string_view packageName) const {
    for (const List list : {List::clocks, List::apps}) {
        for (const TQUninstallObject& object : uninstallObjects(items(list))) {
            if (TQFeaturedApps::sameIgnoringCaseAndDiacritics(object.packageName, packageName)) {
                return true;
            }
        }
    }
    return false;
}
