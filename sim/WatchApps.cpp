#include "sim/WatchApps.h"

#include <algorithm>
#include <map>
#include <random>
#include <system_error>
#include <utility>

#include "logging/LGLog.h"
#include "platform/archive/Zip.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/XmlParser.h"

namespace kavowatch {

using platform::Value;

namespace {

constexpr const char* kAppsRoot = "Wapp";
constexpr const char* kFacesRoot = "Clock";
constexpr std::uint64_t kMaxEntryBytes = std::uint64_t{4} << 20;
constexpr std::uint64_t kMaxEntries = 4096;

std::vector<InstalledApp> defaultApps() {
    return {{"Weather", "com.kavo.weather", "WeatherApp", "1.4.2", true, false},
            {"Heart Rate", "com.kavo.heartrate", "HeartRateApp", "2.0.7", true, false},
            {"Timer", "com.kavo.timer", "TimerApp", "1.1.0", false, true}};
}

std::vector<InstalledApp> defaultFaces() {
    return {{"Classic", "com.kavo.face.classic", "ClassicFace", "1.0.3", true, false},
            {"Digital", "com.kavo.face.digital", "DigitalFace", "1.2.0", true, false}};
}

void element(std::string& xml, std::string_view name, std::string_view text) {
    xml.append("<").append(name).append(">\n");
    platform::xml::appendEscapedText(xml, text);
    xml.append("</").append(name).append(">\n");
}

// The items of a list document in the watch's own format; nothing for another document.
class ListReader final : public platform::xml::Handler {
public:
    explicit ListReader(std::string_view root) : root_(root) {}

    void startElement(std::string_view name, std::span<const platform::xml::Attribute>) override {
        if (depth_ == 0) {
            rootSeen_ = name == root_;
        } else if (depth_ == 1 && name == "item") {
            items_.emplace_back();
        }
        ++depth_;
        text_.clear();
    }
    void endElement(std::string_view name) override {
        --depth_;
        if (depth_ == 2 && !items_.empty()) {
            items_.back()[std::string(name)] = text_;
        }
        text_.clear();
    }
    void characters(std::string_view text) override { text_ += text; }

    [[nodiscard]] std::optional<std::vector<InstalledApp>> take() const {
        if (!rootSeen_) {
            return std::nullopt;
        }
        std::vector<InstalledApp> apps;
        for (const auto& item : items_) {
            const auto text = [&](const char* key) {
                const auto found = item.find(key);
                return found != item.end() ? found->second : std::string();
            };
            apps.push_back({text("AppName"), text("PackageName"), text("ClassName"),
                            text("Version"), text("PreLoad") == "true",
                            text("IsRemovable") == "true"});
        }
        return apps;
    }

private:
    std::string_view root_;
    int depth_ = 0;
    bool rootSeen_ = false;
    std::string text_;
    std::vector<std::map<std::string, std::string>> items_;
};

std::optional<std::vector<InstalledApp>> readList(std::string_view xml, std::string_view root) {
    ListReader reader(root);
    if (!platform::xml::parse(xml, reader)) {
        return std::nullopt;
    }
    return reader.take();
}

// What the watch reads of config.xml.
class ConfigReader final : public platform::xml::Handler {
public:
    void startElement(std::string_view name,
                      std::span<const platform::xml::Attribute> attributes) override {
        ++depth_;
        text_.clear();
        const auto attribute = [&](std::string_view key) -> std::optional<std::string> {
            for (const auto& item : attributes) {
                if (item.name == key) {
                    return std::string(item.value);
                }
            }
            return std::nullopt;
        };
        if (depth_ == 1) {
            widget = name == "widget";
            version = attribute("version").value_or("");
        } else if (depth_ == 2 && name == "kavo:application") {
            packageName = attribute("package").value_or("");
            className = attribute("class").value_or("");
            isClock = attribute("type") == "clock";
        } else if (depth_ == 2 && name == "icon") {
            icon = attribute("src");
        }
    }
    void endElement(std::string_view name) override {
        if (depth_ == 2 && name == "name") {
            appName = text_;
        }
        --depth_;
    }
    void characters(std::string_view text) override { text_ += text; }

    bool widget = false;
    std::string version;
    std::string packageName;
    std::string className;
    bool isClock = false;
    std::string appName;
    std::optional<std::string> icon;

private:
    int depth_ = 0;
    std::string text_;
};

platform::Error packageError(std::string message) {
    return platform::Error{"kavowatch.package", 1, std::move(message)};
}

// The archive's entries by name, each read whole within the bound.
platform::Result<std::map<std::string, std::string>> entriesOf(const std::filesystem::path& path) {
    auto reader = platform::archive::ZipReader::open(path);
    if (!reader.ok()) {
        return reader.error();
    }
    auto& zip = reader.value();
    if (zip.info().entryCount > kMaxEntries) {
        return packageError("too many entries");
    }
    std::map<std::string, std::string> entries;
    if (zip.info().entryCount == 0) {
        return entries;
    }
    if (auto first = zip.goToFirstEntry(); !first.ok()) {
        return first.error();
    }
    while (true) {
        auto entry = zip.currentEntry();
        if (!entry.ok()) {
            return entry.error();
        }
        if (entry.value().info.uncompressedSize > kMaxEntryBytes) {
            return packageError("entry " + entry.value().name + " too large");
        }
        if (auto opened = zip.openEntry(); !opened.ok()) {
            return opened.error();
        }
        std::string data;
        std::uint8_t buffer[8192];
        while (true) {
            auto read = zip.read(buffer);
            if (!read.ok()) {
                return read.error();
            }
            if (read.value() == 0) {
                break;
            }
            data.append(reinterpret_cast<const char*>(buffer), read.value());
        }
        if (auto closed = zip.closeEntry(); !closed.ok()) {
            return closed.error();
        }
        entries[entry.value().name] = std::move(data);
        auto next = zip.goToNextEntry();
        if (!next.ok()) {
            return next.error();
        }
        if (!next.value()) {
            break;
        }
    }
    return entries;
}

}  // namespace

platform::Result<PackageInfo> readPackage(std::span<const std::uint8_t> package,
                                          const std::filesystem::path& scratch) {
    const auto path =
        scratch / ("kavowatch-package-" + std::to_string(std::random_device()()) + ".wgt");
    if (auto written = platform::fs::writeFileAtomically(
            path, std::string_view(reinterpret_cast<const char*>(package.data()), package.size()));
        !written.ok()) {
        return written.error();
    }
    auto entries = entriesOf(path);
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    if (!entries.ok()) {
        return entries.error();
    }
    const auto config = entries.value().find("config.xml");
    if (config == entries.value().end()) {
        return packageError("no config.xml");
    }
    ConfigReader reader;
    if (auto parsed = platform::xml::parse(config->second, reader); !parsed.ok()) {
        return packageError("config.xml: " + parsed.error().message);
    }
    if (!reader.widget || reader.packageName.empty() || !reader.icon ||
        !entries.value().contains(*reader.icon)) {
        return packageError("config.xml names no package or no icon the package holds");
    }
    return PackageInfo{reader.packageName, reader.appName, reader.className,
                       reader.version.empty() ? "0.0.0" : reader.version, reader.isClock};
}

std::string WatchApps::listXml(const char* root, const std::vector<InstalledApp>& items,
                               bool faces) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
    xml.append("<").append(root).append(">\n");
    for (const InstalledApp& app : items) {
        xml += "<item>\n";
        element(xml, "AppName", app.appName);
        element(xml, "PackageName", app.packageName);
        element(xml, "ClassName", app.className);
        element(xml, "PreLoad", app.preload ? "true" : "false");
        element(xml, "IsRemovable", app.removable ? "true" : "false");
        element(xml, "Version", app.version);
        if (faces) {
            element(xml, "IsShown", "true");
        }
        xml += "</item>\n";
    }
    xml.append("</").append(root).append(">\n");
    return xml;
}

WatchApps::WatchApps(Watch& watch, WatchState& state, std::filesystem::path scratch)
    : watch_(watch),
      state_(state),
      scratch_(std::move(scratch)),
      apps_(readList(state.appsListXml, kAppsRoot).value_or(defaultApps())),
      faces_(readList(state.facesListXml, kFacesRoot).value_or(defaultFaces())),
      weak_(*this, watch.loop()) {
    publish();
    watch_.answerAll("mgr_wapps_install_req",
                     [this](const ReceivedMessage& request) { return install(request); });
    watch_.answerAll("mgr_wapps_uninstall_req",
                     [this](const ReceivedMessage& request) { return uninstall(request); });
    watch_.files().observeReceived([this](const ReceivedFile& file) { onFile(file); });
}

const InstalledApp* WatchApps::find(std::string_view packageName) const {
    for (const auto* list : {&apps_, &faces_}) {
        const auto found = std::find_if(list->begin(), list->end(), [&](const InstalledApp& app) {
            return app.packageName == packageName;
        });
        if (found != list->end()) {
            return &*found;
        }
    }
    return nullptr;
}

void WatchApps::publish() {
    state_.appsListXml = listXml(kAppsRoot, apps_, false);
    state_.facesListXml = listXml(kFacesRoot, faces_, true);
    std::string order = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><AppsOrder>";
    for (std::size_t i = 0; i < apps_.size(); ++i) {
        order += "<App><PackageName>";
        platform::xml::appendEscapedText(order, apps_[i].packageName);
        order += "</PackageName><Order>" + std::to_string(i + 1) + "</Order></App>";
    }
    state_.appsOrderXml = order + "</AppsOrder>";
}

Watch::Replies WatchApps::install(const ReceivedMessage& request) {
    if (!request.json) {
        return {};
    }
    const std::string requestId = (*request.json)["reqID"].stringValue().value_or("");
    const std::string path = (*request.json)["filePath"].stringValue().value_or("");
    const auto slash = path.find_last_of('/');
    Pending pending{requestId, slash == std::string::npos ? path : path.substr(slash + 1)};
    std::erase_if(pending_, [&](const Pending& old) { return old.requestId == requestId; });
    pending_.push_back(pending);
    LG_INFO("kavowatch: install request %s for %s", requestId, pending.fileName);
    Watch::Replies replies;
    replies.push_back({Value{{"msgId", "mgr_wapps_install_data_req"}, {"result", requestId}},
                       std::nullopt, std::nullopt});
    return replies;
}

void WatchApps::onFile(const ReceivedFile& file) {
    // The phone names the file as it named the package in its request.
    const auto found = std::find_if(pending_.begin(), pending_.end(),
                                    [&](const Pending& pending) {
                                        return pending.fileName == file.name;
                                    });
    if (found == pending_.end()) {
        return;
    }
    const Pending pending = *found;
    pending_.erase(found);
    if (!answerInstalls_) {
        LG_INFO("kavowatch: keeping the install of %s unanswered", file.name);
        held_.emplace_back(pending, file);
        return;
    }
    // Answered after the file's own handling is over.
    watch_.loop().post([weak = weak_.weakPtr(), pending, file] {
        if (weak) {
            weak->finishInstall(pending, file);
        }
    });
}

bool WatchApps::answerHeldInstall() {
    if (held_.empty()) {
        return false;
    }
    const auto [pending, file] = held_.front();
    held_.erase(held_.begin());
    finishInstall(pending, file);
    return true;
}

void WatchApps::finishInstall(const Pending& pending, const ReceivedFile& file) {
    const auto package = readPackage(file.data, scratch_);
    int code = kInstalled;
    PackageInfo info;
    if (!package.ok()) {
        LG_WARN("kavowatch: package %s refused: %s", file.name, package.error().message);
        code = kBadPackage;
    } else {
        info = package.value();
    }
    if (failNext_) {
        code = *std::exchange(failNext_, std::nullopt);
    }
    if (code == kInstalled) {
        auto& list = info.isClock ? faces_ : apps_;
        std::erase_if(list, [&](const InstalledApp& app) {
            return app.packageName == info.packageName;
        });
        list.push_back({info.appName, info.packageName, info.className, info.version, false, true});
        publish();
        std::string installed;
        for (const InstalledApp& app : list) {
            installed += (installed.empty() ? "" : ", ") + app.packageName;
        }
        LG_INFO("kavowatch: installed %s (%s %s); %s now: %s", info.packageName, info.appName,
                info.version, info.isClock ? "faces" : "applications", installed);
    }
    Value result{{"msgId", "mgr_wapps_install_res"},
                 {"returncode", code},
                 {"packagename", info.packageName},
                 {"isclock", info.isClock},
                 {"appname", info.appName},
                 {"classname", info.className},
                 {"apptype", "wgt"},
                 {"from_where", 1},
                 {"ismultifavourite", false},
                 {"settingfilename", ""},
                 {"appcategory", info.isClock ? "clock" : "app"},
                 {"settingfiledata", ""},
                 {"version", info.version},
                 {"reqId", pending.requestId}};
    results_.push_back(result);
    if (auto sent = watch_.sendJson(result); !sent.ok()) {
        LG_WARN("kavowatch: install result not sent: %s", sent.error().message);
    }
}

Watch::Replies WatchApps::uninstall(const ReceivedMessage& request) {
    if (!request.json) {
        return {};
    }
    const std::string packageName = (*request.json)["packageName"].stringValue().value_or("");
    int reason = kNotInstalled;
    for (auto* list : {&apps_, &faces_}) {
        const auto found = std::find_if(list->begin(), list->end(), [&](const InstalledApp& app) {
            return app.packageName == packageName;
        });
        if (found == list->end()) {
            continue;
        }
        if (!found->removable) {
            reason = kNotRemovable;
        } else {
            list->erase(found);
            reason = kRemoved;
            publish();
            LG_INFO("kavowatch: uninstalled %s", packageName);
        }
        break;
    }
    Watch::Replies replies;
    replies.push_back({Value{{"msgId", "mgr_wapps_uninstall_res"},
                             {"result", packageName},
                             {"reason", reason}},
                       std::nullopt, std::nullopt});
    return replies;
}

}  // namespace kavowatch
