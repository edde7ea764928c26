#include "listener/TQWatchAppIcons.h"

#include <string>
#include <system_error>

#include "logging/LGLog.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/FileSystem.h"
#include "utils/TQUtils.h"

using platform::Value;

namespace {

bool isBase64Character(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/' || c == '=';
}

const platform::Array& arrayOf(const Value& message, std::string_view key) {
    static const platform::Array kEmpty;
    const platform::Array* array = message[key].arrayIf();
    return array != nullptr ? *array : kEmpty;
}

}  // namespace

std::optional<platform::Bytes> TQWatchAppIcons::decodeBase64ToImageData(std::string_view text) {
    std::string kept;
    kept.reserve(text.size());
    for (const char c : text) {
        if (isBase64Character(c)) {
            kept.push_back(c);
        }
    }
    auto data = platform::base64::decode(kept);
    if (!data || data->empty()) {
        return std::nullopt;
    }
    return data;
}

std::optional<std::filesystem::path> TQWatchAppIcons::folder() {
    const auto group = TQUtils::getPreferenceByGroup(TQUtils::kGroupKavoInfo);
    const Value* model = group ? group->find(TQUtils::kKavoModelNumber) : nullptr;
    const std::string* name = model != nullptr ? model->stringIf() : nullptr;
    if (name == nullptr || !TQUtils::isSafePathComponent(*name)) {
        return std::nullopt;
    }
    return platform::Container::current().documents() / *name / kFolder;
}

void TQWatchAppIcons::saveAppIcon(const Value& message) {
    const platform::Array& packages = arrayOf(message, "packageNameArray");
    const platform::Array& images = arrayOf(message, "imageFileDataArray");
    const auto icons = folder();
    if (!icons) {
        LG_WARN("[App Icon from KAVO]: no watch model known, %@ icons not saved", images.size());
        return;
    }
    for (std::size_t i = 0; i < images.size() && i < packages.size(); ++i) {
        const std::string* package = packages[i].stringIf();
        if (package == nullptr || !TQUtils::isSafePathComponent(*package)) {
            LG_WARN("[App Icon from KAVO]: package name %@ is not a file name, icon refused",
                    package != nullptr ? TQUtils::printableForLog(*package) : std::string());
            continue;
        }
        const std::string* encoded = images[i].stringIf();
        const auto data = encoded != nullptr ? decodeBase64ToImageData(*encoded) : std::nullopt;
        if (!data) {
            continue;
        }
        std::error_code error;
        if (!std::filesystem::is_directory(*icons, error) &&
            !std::filesystem::create_directory(*icons, error)) {
            LG_VERBOSE("[App Icon from KAVO]: ERROR: attempting to write create directory %@",
                       error.message());
        }
        const auto path = *icons / (*package + ".png");
        const auto written = platform::fs::writeFileAtomically(
            path, std::string_view(reinterpret_cast<const char*>(data->data()), data->size()));
        if (written.ok()) {
            LG_VERBOSE("[App Icon from KAVO]: Saving appIcon to file: %@", path.string());
        } else {
            LG_VERBOSE("[App Icon from KAVO]: Saving appIcon failed");
        }
    }
}
