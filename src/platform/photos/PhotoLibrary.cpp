#include "platform/photos/PhotoLibrary.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace platform::photos {

image::Image thumbnailOf(const image::Image& image, image::Size target, ContentMode mode) {
    // An animation's bitmap is its first frame, already turned upright by the decoder.
    const image::Image still = image.isAnimated() ? image::Image(image.bitmap()) : image;
    const image::PixelSize size = still.bitmap().size();
    if (still.isNull() || target.width <= 0 || target.height <= 0 || size.width <= 0 ||
        size.height <= 0) {
        return still;
    }
    const double across = target.width / size.width;
    const double down = target.height / size.height;
    const double factor = mode == ContentMode::aspectFill ? std::max(across, down)
                                                          : std::min(across, down);
    if (factor >= 1) {
        return still;
    }
    const auto side = [factor](int pixels) {
        return std::max(1, static_cast<int>(std::lround(pixels * factor)));
    };
    return image::Image(still.bitmap().scaled({side(size.width), side(size.height)}));
}

PhotoLibrary::PhotoLibrary(Permissions& permissions, RunLoop& loop)
    : permissions_(permissions), loop_(loop) {}

PhotoLibrary::~PhotoLibrary() = default;

Decision PhotoLibrary::authorization() const {
    return permissions_.decision(Feature::photos);
}

void PhotoLibrary::requestAuthorization(const std::function<void(Decision)>& done) {
    permissions_.request(Feature::photos, done);
}

std::vector<Photo> PhotoLibrary::photos(Order order) {
    if (authorization() != Decision::granted) {
        return {};
    }
    std::vector<Photo> all = listPhotos();
    std::sort(all.begin(), all.end(), [order](const Photo& a, const Photo& b) {
        if (a.creationDate != b.creationDate) {
            return order == Order::newestFirst ? a.creationDate > b.creationDate
                                               : a.creationDate < b.creationDate;
        }
        return a.identifier < b.identifier;
    });
    return all;
}

std::uint64_t PhotoLibrary::requestThumbnail(const Photo& photo, image::Size target,
                                             ContentMode mode, ThumbnailHandler done) {
    const std::uint64_t request = ++lastRequest_;
    pending_.emplace(request, std::move(done));
    Deliver deliver = [weak = weak_.weakPtr(), loop = &loop_,
                       request](std::optional<image::Image> thumbnail) {
        loop->post([weak, request, thumbnail = std::move(thumbnail)]() mutable {
            if (PhotoLibrary* library = weak.get()) {
                library->finish(request, std::move(thumbnail));
            }
        });
    };
    if (authorization() != Decision::granted) {
        deliver(std::nullopt);
    } else {
        makeThumbnail(photo, target, mode, std::move(deliver));
    }
    return request;
}

void PhotoLibrary::cancelThumbnail(std::uint64_t request) {
    pending_.erase(request);
}

void PhotoLibrary::finish(std::uint64_t request, std::optional<image::Image> thumbnail) {
    const auto found = pending_.find(request);
    if (found == pending_.end()) {
        return;
    }
    ThumbnailHandler done = std::move(found->second);
    pending_.erase(found);
    if (done) {
        done(std::move(thumbnail));
    }
}

void MemoryPhotoLibrary::add(Photo photo, image::Image picture) {
    std::string key = photo.identifier;
    entries_.insert_or_assign(std::move(key), std::pair{std::move(photo), std::move(picture)});
}

std::vector<Photo> MemoryPhotoLibrary::listPhotos() {
    std::vector<Photo> all;
    all.reserve(entries_.size());
    for (const auto& [identifier, entry] : entries_) {
        all.push_back(entry.first);
    }
    return all;
}

void MemoryPhotoLibrary::makeThumbnail(const Photo& photo, image::Size target, ContentMode mode,
                                       Deliver deliver) {
    ++made_;
    const auto found = entries_.find(photo.identifier);
    if (found == entries_.end() || found->second.second.isNull()) {
        deliver(std::nullopt);
        return;
    }
    deliver(thumbnailOf(found->second.second, target, mode));
}

}  // namespace platform::photos
