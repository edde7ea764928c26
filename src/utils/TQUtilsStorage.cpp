#include <system_error>
#include <utility>

#include "logging/LGLog.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Utf8.h"
#include "utils/TQUtils.h"

using platform::Dictionary;
using platform::Value;

namespace {

constexpr const char* kClassName = "TQUtils";

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

void TQUtils::synchronizeDefaults(std::string_view owner) {
    synchronizeDefaults(platform::UserDefaults::standard(), owner);
}

void TQUtils::synchronizeDefaults(platform::UserDefaults& defaults, std::string_view owner) {
    if (const auto stored = defaults.synchronize(); !stored) {
        LG_WARN("%@: user defaults not stored: %@", owner, stored.error().message);
    }
}

// ---- per-watch files ----

std::string TQUtils::printableForLog(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        out += u < 0x20 || u == 0x7F ? '?' : c;
    }
    return out;
}

bool TQUtils::isSafePathComponent(std::string_view name) {
    return platform::fs::isSafePathComponent(name);
}

std::optional<std::filesystem::path> TQUtils::safeRelativePath(std::string_view path) {
    if (path.starts_with('/')) {
        return std::nullopt;
    }
    std::filesystem::path relative;
    while (!path.empty()) {
        const auto slash = path.find('/');
        const std::string_view component = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        if (component.empty() || component == ".") {
            continue;
        }
        if (!isSafePathComponent(component)) {
            return std::nullopt;
        }
        relative /= component;
    }
    if (relative.empty()) {
        return std::nullopt;
    }
    return relative;
}

platform::Result<std::filesystem::path> TQUtils::perWatchFile(std::string_view folder,
                                                              std::string_view fileName) {
    for (const std::string_view name : {folder, fileName}) {
        if (!isSafePathComponent(name)) {
            LG_VERBOSE("TQUtils: refusing unsafe path component \"%@\"", printableForLog(name));
            return platform::Error{kErrorDomain, kUnsafeName,
                                   "unsafe path component \"" + printableForLog(name) + "\""};
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
    auto stored = readStoredDictionary(modelNumber, fileName);
    return stored ? std::move(stored).value() : std::nullopt;
}

platform::Result<std::optional<Dictionary>> TQUtils::readStoredDictionary(
    std::optional<std::string_view> modelNumber, std::string_view fileName) {
    auto path = perWatchFile(modelNumber.value_or(kCommonFolder), fileName);
    if (!path) {
        return std::optional<Dictionary>();
    }
    std::error_code ec;
    if (!std::filesystem::exists(*path, ec) && !ec) {
        return std::optional<Dictionary>();
    }
    auto value = platform::plist::readFile(*path);
    if (!value && platform::fs::isReadFailure(value.error())) {
        return value.error();
    }
    if (!value || !value->isDictionary()) {
        return std::optional<Dictionary>();
    }
    return std::optional<Dictionary>(*value->dictionaryIf());
}
