#include "platform/photos/PicturesFolderLibrary.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <span>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/foundation/FileSystem.h"
#include "platform/image/Decode.h"

namespace platform::photos {

namespace {

double seconds(const struct statx_timestamp& stamp) {
    return static_cast<double>(stamp.tv_sec) + stamp.tv_nsec / 1e9;
}

bool isHidden(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    return !name.empty() && name.front() == '.';
}

// The identifier as a path that stays inside the folder: relative, without "..".
std::optional<std::filesystem::path> insideFolder(std::string_view identifier) {
    const std::filesystem::path relative(identifier);
    if (identifier.empty() || relative.is_absolute() || relative.has_root_name()) {
        return std::nullopt;
    }
    for (const auto& part : relative) {
        if (part == "..") {
            return std::nullopt;
        }
    }
    return relative;
}

}  // namespace

PicturesFolderLibrary::PicturesFolderLibrary(std::filesystem::path folder,
                                             Permissions& permissions, RunLoop& loop,
                                             DispatchQueue& work)
    : PhotoLibrary(permissions, loop), folder_(std::move(folder)), work_(work) {}

std::optional<double> PicturesFolderLibrary::creationDate(const std::filesystem::path& file) {
    struct statx status {};
    if (::statx(AT_FDCWD, file.c_str(), 0, STATX_MTIME | STATX_BTIME, &status) != 0 ||
        (status.stx_mask & STATX_MTIME) == 0) {
        return std::nullopt;
    }
    const double modified = seconds(status.stx_mtime);
    // A copied or restored picture keeps its old time as the last change and is born now.
    if ((status.stx_mask & STATX_BTIME) != 0) {
        return std::min(seconds(status.stx_btime), modified);
    }
    return modified;
}

bool PicturesFolderLibrary::isPictureName(const std::filesystem::path& name) {
    static constexpr std::array<std::string_view, 8> kExtensions = {
        ".jpg", ".jpeg", ".png", ".gif", ".webp", ".bmp", ".tif", ".tiff"};
    std::string extension = name.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(kExtensions.begin(), kExtensions.end(), extension) != kExtensions.end();
}

std::vector<Photo> PicturesFolderLibrary::listPhotos() {
    std::vector<Photo> found;
    std::error_code error;
    std::filesystem::recursive_directory_iterator entry(
        folder_, std::filesystem::directory_options::skip_permission_denied, error);
    const std::filesystem::recursive_directory_iterator end;
    // A folder another program changes meanwhile ends the walk where it failed; what was
    // found still counts.
    while (!error && entry != end) {
        const std::filesystem::path& path = entry->path();
        std::error_code kind;
        if (isHidden(path)) {
            if (entry->is_directory(kind)) {
                entry.disable_recursion_pending();
            }
        } else if (entry->is_regular_file(kind) && isPictureName(path)) {
            if (const auto created = creationDate(path)) {
                found.push_back(Photo{path.lexically_relative(folder_).generic_string(), *created});
            }
        }
        entry.increment(error);
    }
    return found;
}

void PicturesFolderLibrary::makeThumbnail(const Photo& photo, image::Size target,
                                          ContentMode mode, Deliver deliver) {
    const auto relative = insideFolder(photo.identifier);
    if (!relative) {
        deliver(std::nullopt);
        return;
    }
    work_.async([file = folder_ / *relative, target, mode, deliver = std::move(deliver)] {
        const auto bytes = fs::readFile(file, kMaxFileBytes);
        if (!bytes) {
            deliver(std::nullopt);
            return;
        }
        const auto decoded = image::decodeImage(std::span(
            reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()));
        if (!decoded) {
            deliver(std::nullopt);
            return;
        }
        deliver(thumbnailOf(decoded.value(), target, mode));
    });
}

}  // namespace platform::photos
