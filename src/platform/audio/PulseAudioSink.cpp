#include "platform/audio/PulseAudioSink.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <string>
#include <utility>

#include "platform/foundation/LogSink.h"

namespace platform::audio {

namespace {

// Written in pieces this long, so that pause and stop are heard within one.
constexpr double kPieceSeconds = 0.05;

}  // namespace

// The connection to the server, made for the first sound and again when the format changes.
struct PulseAudioSink::Stream {
    pa_simple* simple = nullptr;
    int rate = 0;
    int channels = 0;

    ~Stream() { close(); }
    void close() {
        if (simple != nullptr) {
            pa_simple_free(simple);
            simple = nullptr;
        }
    }
    // Nothing, or why the server cannot be had.
    std::optional<std::string> open(const std::string& name, int wantRate, int wantChannels) {
        if (simple != nullptr && rate == wantRate && channels == wantChannels) {
            return std::nullopt;
        }
        close();
        pa_sample_spec spec{};
        spec.format = PA_SAMPLE_S16LE;
        spec.rate = static_cast<std::uint32_t>(wantRate);
        spec.channels = static_cast<std::uint8_t>(wantChannels);
        int error = 0;
        simple = pa_simple_new(nullptr, name.c_str(), PA_STREAM_PLAYBACK, nullptr, "alarm", &spec,
                               nullptr, nullptr, &error);
        if (simple == nullptr) {
            return std::string(pa_strerror(error));
        }
        rate = wantRate;
        channels = wantChannels;
        return std::nullopt;
    }
};

PulseAudioSink::PulseAudioSink(RunLoop& loop, std::string applicationName)
    : loop_(loop), applicationName_(std::move(applicationName)) {}

PulseAudioSink::~PulseAudioSink() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        sound_.reset();
    }
    changed_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void PulseAudioSink::start(std::shared_ptr<const Sound> sound, Finished finished) {
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        sound_ = std::move(sound);
        generation = ++generation_;
        paused_ = false;
        if (!thread_.joinable()) {
            thread_ = std::thread([this] { run(); });
        }
    }
    finished_ = std::move(finished);
    finishedGeneration_ = generation;
    changed_.notify_all();
}

void PulseAudioSink::pause() {
    {
        std::lock_guard lock(mutex_);
        paused_ = true;
    }
    changed_.notify_all();
}

void PulseAudioSink::resume() {
    {
        std::lock_guard lock(mutex_);
        paused_ = false;
    }
    changed_.notify_all();
}

void PulseAudioSink::stop() {
    {
        std::lock_guard lock(mutex_);
        sound_.reset();
        ++generation_;
        paused_ = false;
    }
    finished_ = {};
    changed_.notify_all();
}

void PulseAudioSink::report(std::uint64_t generation, std::optional<Error> error) {
    loop_.post([weak = weak_.weakPtr(), generation, error = std::move(error)] {
        auto* self = weak.get();
        if (self == nullptr || self->finishedGeneration_ != generation || !self->finished_) {
            return;
        }
        std::exchange(self->finished_, {})(error);
    });
}

void PulseAudioSink::run() {
    Stream stream;
    bool serverMissing = false;
    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait(lock, [this] { return quit_ || (sound_ != nullptr && !paused_); });
        if (quit_) {
            return;
        }
        const auto sound = sound_;
        const std::uint64_t generation = generation_;
        lock.unlock();
        if (auto why = stream.open(applicationName_, sound->sampleRate, sound->channels)) {
            if (!serverMissing) {
                PLATFORM_LOG_INFO("PulseAudioSink: no sound server, the sound is not played (",
                                  *why, ")");
            }
            serverMissing = true;
            report(generation, Error{kErrorDomain, 10, "no sound server: " + *why});
            lock.lock();
            if (generation_ == generation) {
                sound_.reset();
            }
            continue;
        }
        serverMissing = false;
        const std::size_t piece =
            std::max<std::size_t>(1, static_cast<std::size_t>(sound->sampleRate * kPieceSeconds)) *
            static_cast<std::size_t>(sound->channels);
        std::size_t at = 0;
        std::optional<Error> failure;
        bool superseded = false;
        while (at < sound->samples.size()) {
            lock.lock();
            changed_.wait(lock, [&] { return quit_ || generation_ != generation || !paused_; });
            superseded = quit_ || generation_ != generation;
            lock.unlock();
            if (superseded) {
                break;
            }
            const std::size_t count = std::min(piece, sound->samples.size() - at);
            int error = 0;
            if (pa_simple_write(stream.simple, sound->samples.data() + at,
                                count * sizeof(std::int16_t), &error) < 0) {
                failure = Error{kErrorDomain, 11,
                                std::string("sound output failed: ") + pa_strerror(error)};
                stream.close();
                break;
            }
            at += count;
        }
        if (superseded) {
            int error = 0;
            pa_simple_flush(stream.simple, &error);
        } else if (!failure) {
            int error = 0;
            pa_simple_drain(stream.simple, &error);
        }
        lock.lock();
        if (!superseded) {
            report(generation, std::move(failure));
            if (generation_ == generation) {
                sound_.reset();
            }
        }
    }
}

}  // namespace platform::audio
