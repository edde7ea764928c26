#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Result.h"
#include "platform/image/Image.h"
#include "platform/ui/Controls.h"

namespace platform {
class Timer;
}

namespace platform::ui {

// An image as shown: one frame, or frames each shown for its own delay (seconds).
struct AnimatedImage {
    std::vector<image::Image> frames;
    std::vector<double> delays;
    [[nodiscard]] bool isAnimated() const { return frames.size() > 1; }
};

// The frames of an image file. A GIF frame lasts its unclamped delay, else its delay; one
// under 0.011 s lasts 0.1 s, as browsers show such GIFs.
[[nodiscard]] Result<AnimatedImage> decodeAnimatedImage(std::span<const std::uint8_t> bytes);

// Fetches the image behind a URL (the image cache, in the application).
class ImageLoader {
public:
    virtual ~ImageLoader() = default;
    // Calls done once, on the main run loop, with the image or why there is none.
    virtual void load(std::string_view url, std::function<void(Result<AnimatedImage>)> done) = 0;
};

// An image view that loads from a file or a URL, plays an animation's frames at their own
// delays on the main run loop's timers, and can turn without end about an anchor point (in
// shares of its size; the content is clipped to the view, so give a sweep that turns about a
// corner a frame that holds its whole circle).
class AnimatedImageView : public ImageView {
public:
    explicit AnimatedImageView(QWidget* parent = nullptr);
    ~AnimatedImageView() override;

    // Shows the first frame and plays the rest, repeating.
    void setAnimatedImage(AnimatedImage image);
    [[nodiscard]] std::size_t frameIndex() const { return frame_; }
    [[nodiscard]] bool isPlaying() const { return frameTimer_ != nullptr; }
    void stopPlaying();

    // A file that cannot be read or decoded leaves the view empty and says why.
    Result<void> setImageFile(const std::filesystem::path& path);
    // Empties the view until the loader answers; an answer for a URL set before the last one,
    // or after the view went, is dropped. done (optional) learns whether the image came.
    void setImageURL(std::string_view url, ImageLoader& loader,
                     std::function<void(bool loaded)> done = {});
    [[nodiscard]] const std::string& imageURL() const { return url_; }

    // One turn every period seconds, on a timer of the main run loop.
    void startRotating(double period, Point anchor = {0.5, 0.5});
    void stopRotating();
    [[nodiscard]] bool isRotating() const { return rotationTimer_ != nullptr; }
    // Radians, 0 to 2π.
    [[nodiscard]] double rotationAngle() const { return angle_; }

protected:
    void transformContent(QPainter& painter) const override;

private:
    void showFrame(std::size_t index);

    AnimatedImage animation_;
    std::size_t frame_ = 0;
    std::shared_ptr<Timer> frameTimer_;
    std::string url_;
    std::uint64_t loadGeneration_ = 0;
    std::shared_ptr<Timer> rotationTimer_;
    double period_ = 0;
    double rotationStart_ = 0;
    double angle_ = 0;
    Point anchor_{0.5, 0.5};
};

}  // namespace platform::ui
