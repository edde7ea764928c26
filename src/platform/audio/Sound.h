#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/RunLoop.h"

namespace platform::audio {

inline constexpr const char* kErrorDomain = "platform.audio";

// A decoded sound: interleaved signed 16-bit samples.
struct Sound {
    int sampleRate = 0;
    int channels = 0;
    std::vector<std::int16_t> samples;

    [[nodiscard]] std::size_t frames() const {
        return channels > 0 ? samples.size() / static_cast<std::size_t>(channels) : 0;
    }
    // Seconds; 0 for a sound without frames or rate.
    [[nodiscard]] double duration() const {
        return sampleRate > 0 ? static_cast<double>(frames()) / sampleRate : 0;
    }
};

// Reads a sound file (WAV, OGG, FLAC, ... through libsndfile), at most kMaxFrames frames.
inline constexpr std::size_t kMaxFrames = std::size_t{48000} * 60 * 10;
[[nodiscard]] Result<std::shared_ptr<const Sound>> readSoundFile(const std::filesystem::path& path);

// Writes samples as a 16-bit PCM WAV file, replacing what stood there.
Result<void> writeWavFile(const std::filesystem::path& path, const Sound& sound);

// Loads sounds without holding up its caller; the result comes later on the loop.
class SoundLoader {
public:
    using Completion = std::function<void(Result<std::shared_ptr<const Sound>>)>;
    virtual ~SoundLoader() = default;
    virtual void load(const std::filesystem::path& path, Completion completion) = 0;
};

// Reads the file on a global dispatch queue and hands the result to the loop. Going, it waits
// for the reads under way, so that none posts to a loop that may be gone by then.
class FileSoundLoader final : public SoundLoader {
public:
    explicit FileSoundLoader(RunLoop& loop) : loop_(loop) {}
    ~FileSoundLoader() override;
    FileSoundLoader(const FileSoundLoader&) = delete;
    FileSoundLoader& operator=(const FileSoundLoader&) = delete;

    void load(const std::filesystem::path& path, Completion completion) override;

private:
    RunLoop& loop_;
    DispatchGroup reads_;
};

}  // namespace platform::audio
