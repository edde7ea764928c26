#include <utility>

#include "platform/audio/AudioSink.h"

namespace platform::audio {

FakeAudioSink::~FakeAudioSink() {
    stop();
}

void FakeAudioSink::start(std::shared_ptr<const Sound> sound, Finished finished) {
    stop();
    finished_ = std::move(finished);
    paused_ = false;
    if (refuseWith) {
        loop_.post([weak = weak_.weakPtr(), error = *refuseWith] {
            if (auto* self = weak.get(); self != nullptr && self->finished_) {
                std::exchange(self->finished_, {})(error);
            }
        });
        return;
    }
    const double duration = sound->duration();
    started.push_back(std::move(sound));
    schedule(duration);
}

void FakeAudioSink::schedule(double seconds) {
    endsAt_ = loop_.now() + seconds;
    timer_ = loop_.scheduleTimer(seconds, false, [weak = weak_.weakPtr()] {
        auto* self = weak.get();
        if (self == nullptr) {
            return;
        }
        self->timer_.reset();
        if (self->finished_) {
            std::exchange(self->finished_, {})(std::nullopt);
        }
    });
}

void FakeAudioSink::pause() {
    if (timer_ == nullptr || paused_) {
        return;
    }
    paused_ = true;
    remaining_ = endsAt_ - loop_.now();
    timer_->invalidate();
    timer_.reset();
}

void FakeAudioSink::resume() {
    if (!paused_) {
        return;
    }
    paused_ = false;
    schedule(remaining_);
}

void FakeAudioSink::stop() {
    if (timer_) {
        timer_->invalidate();
        timer_.reset();
    }
    paused_ = false;
    finished_ = {};
}

}  // namespace platform::audio
