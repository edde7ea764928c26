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

// Icons in folder, counted up to limit.
std::size_t iconCount(const std::filesystem::path& folder, std::size_t limit) {
    std::error_code error;
    std::size_t count = 0;
    for (std::filesystem::directory_iterator entry(folder, error), end;
         !error && entry != end && count < limit; entry.increment(error)) {
        count += entry->path().extension() == ".png" ? 1 : 0;
    }
    return count;
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

TQWatchAppIcons::Written TQWatchAppIcons::writeIcon(const std::filesystem::path& folder,
                                                    const std::string& package,
                                                    std::span<const std::uint8_t> png) {
    Written written;
    written.path = folder / (package + ".png");
    if (png.size() > kMaxIconBytes) {
        LG_WARN("[App Icon]: the icon of %@ has %u bytes, more than an icon may have; refused",
                TQUtils::printableForLog(package), png.size());
        return written;
    }
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error) &&
        !std::filesystem::create_directory(folder, error)) {
        written.folderError = error.message();
    }
    if (!std::filesystem::exists(written.path, error) &&
        iconCount(folder, kMaxIcons) >= kMaxIcons) {
        LG_WARN("[App Icon]: %u icons are kept already; the icon of %@ refused", kMaxIcons,
                TQUtils::printableForLog(package));
        return written;
    }
    written.saved =
        platform::fs::writeFileAtomically(
            written.path, std::string_view(reinterpret_cast<const char*>(png.data()), png.size()))
            .ok();
    return written;
}

void TQWatchAppIcons::saveAppIcon(const Value& message) {
    const platform::Array& packages = arrayOf(message, "packageNameArray");
    const platform::Array& images = arrayOf(message, "imageFileDataArray");
    const auto icons = folder();
    if (!icons) {
        LG_WARN("[App Icon from KAVO]: no watch model known, %@ icons not saved", images.size());
        return;
    }
    if (images.size() > kMaxIcons) {
        LG_WARN("[App Icon from KAVO]: %u icons sent, only the first %u taken", images.size(),
                kMaxIcons);
    }
    for (std::size_t i = 0; i < images.size() && i < packages.size() && i < kMaxIcons; ++i) {
        const std::string* package = packages[i].stringIf();
        if (package == nullptr || !TQUtils::isSafePathComponent(*package)) {
            LG_WARN("[App Icon from KAVO]: package name %@ is not a file name, icon refused",
                    package != nullptr ? TQUtils::printableForLog(*package) : std::string());
            continue;
        }
        const std::string* encoded = images[i].stringIf();
        // Base64 takes four characters for three bytes; line breaks and spaces may come too.
        if (encoded != nullptr && encoded->size() > kMaxIconBytes * 2) {
            LG_WARN("[App Icon from KAVO]: the icon of %@ is too large, refused",
                    TQUtils::printableForLog(*package));
            continue;
        }
        const auto data = encoded != nullptr ? decodeBase64ToImageData(*encoded) : std::nullopt;
        if (!data) {
            continue;
        }
        const Written written = writeIcon(*icons, *package, *data);
        if (written.folderError) {
            LG_VERBOSE("[App Icon from KAVO]: ERROR: attempting to write create directory %@",
                       *written.folderError);
        }
        if (written.saved) {
            LG_VERBOSE("[App Icon from KAVO]: Saving appIcon to file: %@", written.path.string());
        } else {
            LG_VERBOSE("[App Icon from KAVO]: Saving appIcon failed");
        }
    }
}
