#include <algorithm>
#include <fstream>
#include <system_error>

#include "logging/LGLog.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/XmlParser.h"
#include "utils/TQUtils.h"
#include "utils/XMLDictParser.h"
#include "utils/ZAZipArchive.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxManifestBytes = std::size_t{1} << 20;

// A manifest the package brings, when it is a plain file of its own (not a link out).
std::optional<std::string> readManifest(const fs::path& path) {
    std::error_code ec;
    const auto status = fs::symlink_status(path, ec);
    if (ec || !fs::is_regular_file(status)) {
        return std::nullopt;
    }
    auto text = platform::fs::readFile(path, kMaxManifestBytes);
    if (!text) {
        return std::nullopt;
    }
    return std::move(*text);
}

// name, from inside the package, as a path below base that stays inside folder once links are
// followed; nothing otherwise.
std::optional<fs::path> pathInside(const fs::path& folder, const fs::path& base,
                                   std::string_view name) {
    const auto relative = TQUtils::safeRelativePath(name);
    if (!relative) {
        LG_VERBOSE("TQUtils: refusing icon name \"%@\"", TQUtils::printableForLog(name));
        return std::nullopt;
    }
    std::error_code ec;
    const fs::path root = fs::canonical(folder, ec);
    const fs::path resolved = fs::weakly_canonical(base / *relative, ec);
    if (ec) {
        return std::nullopt;
    }
    const auto [rootEnd, _] =
        std::mismatch(root.begin(), root.end(), resolved.begin(), resolved.end());
    if (rootEnd != root.end()) {
        LG_VERBOSE("TQUtils: refusing icon name \"%@\"", TQUtils::printableForLog(name));
        return std::nullopt;
    }
    return base / *relative;
}

// Whether path is a regular file that begins as a PNG, JPEG, GIF, BMP or WebP image does.
bool isImage(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(path, ec))) {
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    std::string head(12, '\0');
    file.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(file.gcount()));
    const std::string_view bytes = head;
    return bytes.starts_with("\x89PNG\r\n\x1A\n") || bytes.starts_with("\xFF\xD8\xFF") ||
           bytes.starts_with("GIF87a") || bytes.starts_with("GIF89a") || bytes.starts_with("BM") ||
           (bytes.starts_with("RIFF") && bytes.size() >= 12 && bytes.substr(8, 4) == "WEBP");
}

// The text of the last "icon" element of a native package's manifest.
class IconNameReader final : public platform::xml::Handler {
public:
    void startElement(std::string_view name,
                      std::span<const platform::xml::Attribute> /*attributes*/) override {
        if (name == "icon") {
            iconName_.emplace();
            text_.emplace();
        }
    }
    void endElement(std::string_view name) override {
        if (name == "icon" && text_) {
            iconName_ = std::move(*text_);
            text_.reset();
            LG_VERBOSE("TQUtils: parser found text for icon:  %@", *iconName_);
        }
    }
    void characters(std::string_view text) override {
        if (text_) {
            text_->append(text);
        }
    }

    std::optional<std::string> take() { return std::move(iconName_); }

private:
    std::optional<std::string> iconName_;
    std::optional<std::string> text_;
};

// The "src" of the "icon" of a web application's "config.xml" (the first icon when several).
std::optional<std::string> webApplicationIcon(std::string_view config) {
    const auto parsed = xmldict::dictionaryWithXMLString(config);
    if (!parsed.ok() || !parsed.dictionary || xmldict::nodeName(*parsed.dictionary) != "widget") {
        return std::nullopt;
    }
    const auto icon = xmldict::dictionaryValueForKeyPath(*parsed.dictionary, "icon");
    if (!icon) {
        return std::nullopt;
    }
    const auto attributes = xmldict::attributes(*icon);
    const platform::Value* source = attributes ? attributes->find("src") : nullptr;
    return source != nullptr ? source->stringValue() : std::nullopt;
}

}  // namespace

std::optional<std::string> TQUtils::getIconName(std::string_view manifest) {
    IconNameReader reader;
    if (!platform::xml::parse(manifest, reader)) {
        return std::string();
    }
    return reader.take();
}

std::optional<fs::path> TQUtils::getWgtIconFilePath(const fs::path& package,
                                                    std::string_view modelNumber,
                                                    std::string_view fileName) {
    if (!isSafePathComponent(modelNumber) || !isSafePathComponent(fileName)) {
        LG_VERBOSE("TQUtils: refusing package \"%@\" of model \"%@\"", printableForLog(fileName),
                   printableForLog(modelNumber));
        return std::nullopt;
    }
    const fs::path destination =
        platform::Container::current().documents() / modelNumber / "Extract" / fileName;
    if (!ZAZipArchive::unzipFileAtPath(package, destination)) {
        LG_VERBOSE("TQUtils: unzip error");
        return std::nullopt;
    }
    LG_VERBOSE("TQUtils: unzip success");

    std::optional<fs::path> iconPath;
    std::string iconName;
    if (const auto config = readManifest(destination / "config.xml")) {
        const auto source = webApplicationIcon(*config);
        if (!source) {
            return std::nullopt;
        }
        iconPath = pathInside(destination, destination, *source);
        if (iconPath) {
            LG_VERBOSE("TQUtils: FileType: .wgt iconFilePath: %@", iconPath->string());
        }
    } else if (const auto manifest = readManifest(destination / "nuvra-manifest.xml")) {
        const auto name = getIconName(*manifest);
        if (!name) {
            return std::nullopt;
        }
        iconName = trimmedWhiteSpaceAndNewlines(*name);
        iconPath = pathInside(destination, destination / "shared" / "res", iconName);
        if (iconPath) {
            LG_VERBOSE("TQUtils: FileType: .npk iconFilePath: %@", iconPath->string());
        }
    } else {
        return std::nullopt;
    }

    if (iconPath && isImage(*iconPath)) {
        LG_VERBOSE("TQUtils: found image at path %@", iconName);
        return iconPath;
    }
    LG_VERBOSE("TQUtils: No image found at path %@", iconPath ? iconPath->string() : iconName);
    LG_VERBOSE("TQUtils: unzip error");
    return std::nullopt;
}
