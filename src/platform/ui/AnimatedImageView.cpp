#include "platform/ui/AnimatedImageView.h"

#include <QPainter>
#include <cmath>
#include <numbers>

#include "platform/foundation/FileSystem.h"
#include "platform/foundation/RunLoop.h"
#include "platform/image/ImageSource.h"

namespace platform::ui {

namespace {
constexpr double kRotationStep = 1.0 / 60;
constexpr double kShortestDelay = 0.011;
constexpr double kStandInDelay = 0.1;
constexpr std::size_t kMaxFileBytes = std::size_t{64} << 20;

double frameDelay(const image::FrameProperties& properties) {
    if (!properties.gif) {
        return kStandInDelay;
    }
    const double delay = properties.gif->unclampedDelayTime > 0 ? properties.gif->unclampedDelayTime
                                                                : properties.gif->delayTime;
    return delay < kShortestDelay ? kStandInDelay : delay;
}
}  // namespace

Result<AnimatedImage> decodeAnimatedImage(std::span<const std::uint8_t> bytes) {
    auto source = image::ImageSource::create(bytes);
    if (!source) {
        return source.error();
    }
    if (source->count() == 0) {
        return Error{image::kErrorDomain, image::kMalformed, "the image has no frames"};
    }
    AnimatedImage decoded;
    for (std::size_t i = 0; i < source->count(); ++i) {
        decoded.frames.emplace_back(source->frame(i));
        decoded.delays.push_back(frameDelay(source->properties(i)));
    }
    return decoded;
}

AnimatedImageView::AnimatedImageView(QWidget* parent) : ImageView(parent) {}

AnimatedImageView::~AnimatedImageView() {
    stopPlaying();
    stopRotating();
}

void AnimatedImageView::setAnimatedImage(AnimatedImage image) {
    stopPlaying();
    animation_ = std::move(image);
    // A delay missing, too short or not a number would spin the loop: the stand-in instead.
    animation_.delays.resize(animation_.frames.size(), kStandInDelay);
    for (double& delay : animation_.delays) {
        if (!(delay >= kShortestDelay) || !std::isfinite(delay)) {
            delay = kStandInDelay;
        }
    }
    if (animation_.frames.empty()) {
        setImage({});
        return;
    }
    showFrame(0);
}

void AnimatedImageView::showFrame(std::size_t index) {
    frame_ = index;
    setImage(animation_.frames[index]);
    if (!animation_.isAnimated()) {
        return;
    }
    ViewGuard<AnimatedImageView> self(this);
    frameTimer_ = RunLoop::main().scheduleTimer(animation_.delays[index], false, [self] {
            if (self && self->frameTimer_) {
                self->showFrame((self->frame_ + 1) % self->animation_.frames.size());
            }
        });
}

void AnimatedImageView::stopPlaying() {
    if (frameTimer_) {
        frameTimer_->invalidate();
        frameTimer_.reset();
    }
}

Result<void> AnimatedImageView::setImageFile(const std::filesystem::path& path) {
    ++loadGeneration_;
    url_.clear();
    setAnimatedImage({});
    auto bytes = fs::readFile(path, kMaxFileBytes);
    if (!bytes) {
        return bytes.error();
    }
    auto decoded = decodeAnimatedImage(std::span(
        reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()));
    if (!decoded) {
        return decoded.error();
    }
    setAnimatedImage(std::move(decoded).value());
    return {};
}

void AnimatedImageView::setImageURL(std::string_view url, ImageLoader& loader,
                                    std::function<void(bool)> done) {
    const std::uint64_t generation = ++loadGeneration_;
    url_ = url;
    setAnimatedImage({});
    ViewGuard<AnimatedImageView> self(this);
    loader.load(url, [self, generation, done = std::move(done)](Result<AnimatedImage> loaded) {
        if (!self || self->loadGeneration_ != generation) {
            return;
        }
        const bool ok = loaded.ok();
        if (ok) {
            self->setAnimatedImage(std::move(loaded).value());
        }
        if (done) {
            done(ok);
        }
    });
}

void AnimatedImageView::startRotating(double period, Point anchor) {
    stopRotating();
    if (!(period > 0) || !std::isfinite(period)) {
        return;
    }
    period_ = period;
    anchor_ = anchor;
    rotationStart_ = RunLoop::main().now();
    angle_ = 0;
    ViewGuard<AnimatedImageView> self(this);
    rotationTimer_ = RunLoop::main().scheduleTimer(kRotationStep, true, [self] {
        if (!self) {
            return;
        }
        const double turns = (RunLoop::main().now() - self->rotationStart_) / self->period_;
        self->angle_ = 2 * std::numbers::pi * (turns - std::floor(turns));
        self->update();
    });
    update();
}

void AnimatedImageView::stopRotating() {
    if (rotationTimer_) {
        rotationTimer_->invalidate();
        rotationTimer_.reset();
    }
    angle_ = 0;
    update();
}

void AnimatedImageView::transformContent(QPainter& painter) const {
    if (angle_ == 0) {
        return;
    }
    const QPointF pivot(anchor_.x * width(), anchor_.y * height());
    painter.translate(pivot);
    painter.rotate(angle_ * 180 / std::numbers::pi);
    painter.translate(-pivot);
}

}  // namespace platform::ui
