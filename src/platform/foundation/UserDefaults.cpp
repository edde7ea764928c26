#include "platform/foundation/UserDefaults.h"

#include <system_error>

#include "platform/foundation/Container.h"
#include "platform/foundation/PropertyList.h"

namespace platform {

UserDefaults::UserDefaults(std::filesystem::path file) : file_(std::move(file)) {
    std::error_code ec;
    if (!std::filesystem::exists(file_, ec)) {
        return;
    }
    auto loaded = plist::readFile(file_);
    if (loaded && loaded->isDictionary()) {
        values_ = *loaded->dictionaryIf();
        return;
    }
    loadError_ = loaded ? Error{plist::kErrorDomain, 0, file_.string() + " is not a dictionary"}
                        : loaded.error();
    // Keep the unreadable file for inspection instead of overwriting it at the next write.
    auto aside = file_;
    aside += ".unreadable";
    std::filesystem::rename(file_, aside, ec);
}

UserDefaults::~UserDefaults() {
    (void)synchronize();
}

UserDefaults& UserDefaults::standard() {
    return installedOr([]() -> UserDefaults& {
        static UserDefaults fromContainer(Container::current().preferences() /
                                          (std::string(kBundleIdentifier) + ".plist"));
        return fromContainer;
    });
}

std::optional<Value> UserDefaults::object(std::string_view key) const {
    std::lock_guard lock(mutex_);
    if (const Value* value = values_.find(key)) {
        return *value;
    }
    return std::nullopt;
}

std::optional<bool> UserDefaults::boolean(std::string_view key) const {
    const auto value = object(key);
    return value ? value->boolValue() : std::nullopt;
}

std::optional<std::int64_t> UserDefaults::integer(std::string_view key) const {
    const auto value = object(key);
    return value ? value->intValue() : std::nullopt;
}

std::optional<double> UserDefaults::real(std::string_view key) const {
    const auto value = object(key);
    return value ? value->doubleValue() : std::nullopt;
}

std::optional<std::string> UserDefaults::string(std::string_view key) const {
    const auto value = object(key);
    return value ? value->stringValue() : std::nullopt;
}

std::optional<Dictionary> UserDefaults::dictionary(std::string_view key) const {
    const auto value = object(key);
    if (value && value->isDictionary()) {
        return *value->dictionaryIf();
    }
    return std::nullopt;
}

Dictionary UserDefaults::snapshot() const {
    std::lock_guard lock(mutex_);
    return values_;
}

bool UserDefaults::set(std::string_view key, Value value) {
    if (value.isNull()) {
        remove(key);
        return true;
    }
    if (!plist::write(Value{{std::string(key), value}})) {
        return false;
    }
    std::lock_guard lock(mutex_);
    values_.set(std::string(key), std::move(value));
    dirty_ = true;
    return true;
}

void UserDefaults::remove(std::string_view key) {
    std::lock_guard lock(mutex_);
    dirty_ = values_.remove(key) || dirty_;
}

Result<void> UserDefaults::synchronize() {
    std::lock_guard lock(mutex_);
    if (!dirty_) {
        return {};
    }
    auto written = plist::writeFile(file_, Value(values_));
    if (written) {
        dirty_ = false;
    }
    return written;
}

}  // namespace platform
