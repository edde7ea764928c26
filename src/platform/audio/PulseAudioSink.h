#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/audio/AudioSink.h"

namespace platform::audio {

// Plays through the desktop's sound server with PulseAudio's simple API (PipeWire serves it
// too), on a thread of its own that starts with the first sound. No sound server is a normal
// state: the sound fails with an error and the first failure in a row is logged.
class PulseAudioSink final : public AudioSink {
public:
    explicit PulseAudioSink(RunLoop& loop, std::string applicationName = "KavoManager");
    ~PulseAudioSink() override;
    PulseAudioSink(const PulseAudioSink&) = delete;
    PulseAudioSink& operator=(const PulseAudioSink&) = delete;

    void start(std::shared_ptr<const Sound> sound, Finished finished) override;
    void pause() override;
    void resume() override;
    void stop() override;

private:
    struct Stream;
    void run();
    void report(std::uint64_t generation, std::optional<Error> error);

    RunLoop& loop_;
    const std::string applicationName_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::shared_ptr<const Sound> sound_;
    std::uint64_t generation_ = 0;
    bool paused_ = false;
    bool quit_ = false;
    // Loop thread only.
    Finished finished_;
    std::uint64_t finishedGeneration_ = 0;
    std::thread thread_;
    WeakPtrFactory<PulseAudioSink> weak_{*this, loop_};
};

}  // namespace platform::audio
