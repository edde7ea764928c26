#include "platform/image/PicturesFolder.h"

#include <QFile>
#include <QStandardPaths>

namespace platform::image {

std::filesystem::path picturesFolder() {
    const QString location = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (location.isEmpty()) {
        return {};
    }
    // The file system's own encoding, so a name that is not UTF-8 still finds its folder.
    return std::filesystem::path(QFile::encodeName(location).toStdString());
}

}  // namespace platform::image
