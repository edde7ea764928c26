#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <vector>

#include "platform/foundation/Dispatch.h"
#include "platform/photos/PhotoLibrary.h"

namespace platform::photos {

// The photos of a folder, the user's pictures folder in the application: every picture file
// in it and in its subfolders, by the name's extension (JPEG, PNG, GIF, WebP, BMP, TIFF).
// Hidden entries are passed over and linked folders not followed. A photo's identifier is its
// path below the folder; its creation date the earlier of the file's birth (where the file
// system keeps it) and its last change. Thumbnails are read and decoded on the work queue.
class PicturesFolderLibrary final : public PhotoLibrary {
public:
    // Larger files give no thumbnail.
    static constexpr std::size_t kMaxFileBytes = std::size_t{128} << 20;

    // All borrowed but the folder: they outlive the library.
    PicturesFolderLibrary(std::filesystem::path folder, Permissions& permissions, RunLoop& loop,
                          DispatchQueue& work);

    [[nodiscard]] const std::filesystem::path& folder() const { return folder_; }

    // When the file was made, as above; nothing when it cannot be read.
    [[nodiscard]] static std::optional<double> creationDate(const std::filesystem::path& file);
    // Whether the name is of a picture the library shows.
    [[nodiscard]] static bool isPictureName(const std::filesystem::path& name);

protected:
    std::vector<Photo> listPhotos() override;
    void makeThumbnail(const Photo& photo, image::Size target, ContentMode mode,
                       Deliver deliver) override;

private:
    const std::filesystem::path folder_;
    DispatchQueue& work_;
};

}  // namespace platform::photos
