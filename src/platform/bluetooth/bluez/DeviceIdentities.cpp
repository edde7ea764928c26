#include "platform/bluetooth/bluez/DeviceIdentities.h"

#include "platform/foundation/UserDefaults.h"

namespace platform::bluetooth::bluez {

DeviceIdentities::DeviceIdentities(UserDefaults& defaults)
    : defaults_(defaults), generator_(std::random_device{}()) {}

std::string DeviceIdentities::deviceName(std::string_view path) {
    const auto slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    // "dev_" and six two-digit groups joined by underscores.
    if (name.size() != 21 || !name.starts_with("dev_")) {
        return {};
    }
    for (std::size_t i = 4; i < name.size(); ++i) {
        const char c = name[i];
        const bool separator = (i - 4) % 3 == 2;
        const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        if (separator ? c != '_' : !hex) {
            return {};
        }
    }
    return std::string(name);
}

Uuid DeviceIdentities::identifierFor(const std::string& name) {
    auto known = defaults_.dictionary(kDefaultsKey).value_or(Dictionary{});
    if (const Value* kept = known.find(name)) {
        if (const auto* text = kept->stringIf()) {
            if (auto identifier = Uuid::parse(*text)) {
                return *identifier;
            }
        }
    }
    const Uuid identifier = Uuid::random(generator_);
    known.set(name, identifier.toLongString());
    defaults_.set(kDefaultsKey, std::move(known));
    return identifier;
}

std::optional<std::string> DeviceIdentities::nameFor(const Uuid& identifier) const {
    const auto known = defaults_.dictionary(kDefaultsKey);
    if (!known) {
        return std::nullopt;
    }
    for (const auto& [name, value] : *known) {
        if (const auto* text = value.stringIf(); text != nullptr && Uuid::parse(*text) == identifier) {
            return name;
        }
    }
    return std::nullopt;
}

}  // namespace platform::bluetooth::bluez
