#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/WeakPtr.h"
#include "platform/image/Image.h"
#include "platform/permissions/Permissions.h"

namespace platform::photos {

// One picture of the library.
struct Photo {
    // Stable across launches and unique in its library: where the picture lies in it.
    std::string identifier;
    // Seconds since 1970.
    double creationDate = 0;

    friend bool operator==(const Photo&, const Photo&) = default;
};

enum class Order { newestFirst, oldestFirst };

// How a thumbnail meets its target size: wholly inside it (fit), or covering it (fill), the
// aspect ratio kept either way.
enum class ContentMode { aspectFit, aspectFill };

// The image made smaller to meet the target (points, drawn at scale 1) in that mode; never
// made larger, and left as it is for an empty target. An animation gives its first frame.
[[nodiscard]] image::Image thumbnailOf(const image::Image& image, image::Size target,
                                       ContentMode mode);

// The user's photos, read only with the user's leave (the permissions' photos feature), and
// small pictures of them made for a grid. The listing and the answers belong to the main
// loop; what makes a thumbnail may run elsewhere, and its answer comes back to the loop.
class PhotoLibrary {
public:
    using ThumbnailHandler = std::function<void(std::optional<image::Image>)>;

    // Both borrowed: they outlive the library. loop is the main loop.
    PhotoLibrary(Permissions& permissions, RunLoop& loop);
    virtual ~PhotoLibrary();
    PhotoLibrary(const PhotoLibrary&) = delete;
    PhotoLibrary& operator=(const PhotoLibrary&) = delete;

    [[nodiscard]] Decision authorization() const;
    // Asks the user when the photos are not decided yet; tells the decision.
    void requestAuthorization(const std::function<void(Decision)>& done);

    // Every photo, by creation date (ties by identifier); none without the user's leave.
    [[nodiscard]] std::vector<Photo> photos(Order order = Order::newestFirst);

    // The photo's picture as a thumbnail for the target, told once on the loop, never before
    // this returns: nothing when it cannot be read or without the user's leave. The request's
    // number, for cancelThumbnail.
    std::uint64_t requestThumbnail(const Photo& photo, image::Size target, ContentMode mode,
                                   ThumbnailHandler done);
    // The handler of that request is not called; nothing when it was already.
    void cancelThumbnail(std::uint64_t request);
    // Requests not answered or cancelled yet.
    [[nodiscard]] std::size_t pendingThumbnails() const { return pending_.size(); }

protected:
    // Every photo of the library, in any order.
    [[nodiscard]] virtual std::vector<Photo> listPhotos() = 0;
    // Makes the photo's thumbnail and calls deliver once, on any thread.
    using Deliver = std::function<void(std::optional<image::Image>)>;
    virtual void makeThumbnail(const Photo& photo, image::Size target, ContentMode mode,
                               Deliver deliver) = 0;

private:
    void finish(std::uint64_t request, std::optional<image::Image> thumbnail);

    Permissions& permissions_;
    RunLoop& loop_;
    std::map<std::uint64_t, ThumbnailHandler> pending_;
    std::uint64_t lastRequest_ = 0;
    WeakPtrFactory<PhotoLibrary> weak_{*this, loop_};
};

// The test double: photos and their pictures held in memory (a null picture reads as
// unreadable); thumbnails are made at once and told on the loop's next turn.
class MemoryPhotoLibrary final : public PhotoLibrary {
public:
    using PhotoLibrary::PhotoLibrary;

    void add(Photo photo, image::Image picture);
    void clear() { entries_.clear(); }
    // Thumbnails made so far.
    [[nodiscard]] int thumbnailsMade() const { return made_; }

protected:
    std::vector<Photo> listPhotos() override;
    void makeThumbnail(const Photo& photo, image::Size target, ContentMode mode,
                       Deliver deliver) override;

private:
    std::map<std::string, std::pair<Photo, image::Image>> entries_;
    int made_ = 0;
};

}  // namespace platform::photos
