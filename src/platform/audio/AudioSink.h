#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/audio/Sound.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/WeakPtr.h"

namespace platform::audio {

// Where sound goes out: one sound at a time, from its start. `finished` is called once, later,
// on the sink's loop, when the sound has played to its end (no error) or cannot be played (the
// error); never after stop() or another start().
class AudioSink {
public:
    using Finished = std::function<void(std::optional<Error>)>;
    virtual ~AudioSink() = default;
    virtual void start(std::shared_ptr<const Sound> sound, Finished finished) = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
    virtual void stop() = 0;
};

// The test double on the loop's clock: a sound lasts its duration in loop time. It records what
// it was given to play and can refuse like a machine without a sound server.
class FakeAudioSink final : public AudioSink {
public:
    explicit FakeAudioSink(RunLoop& loop) : loop_(loop) {}
    ~FakeAudioSink() override;

    void start(std::shared_ptr<const Sound> sound, Finished finished) override;
    void pause() override;
    void resume() override;
    void stop() override;

    // Every sound started, in order.
    std::vector<std::shared_ptr<const Sound>> started;
    // Whether a sound is going out now.
    [[nodiscard]] bool isSounding() const { return timer_ != nullptr; }
    // The next starts fail with this error.
    std::optional<Error> refuseWith;

private:
    void schedule(double seconds);

    RunLoop& loop_;
    Finished finished_;
    std::shared_ptr<Timer> timer_;
    double endsAt_ = 0;
    double remaining_ = 0;
    bool paused_ = false;
    WeakPtrFactory<FakeAudioSink> weak_{*this, loop_};
};

}  // namespace platform::audio
