#pragma once

#include <filesystem>

#include "platform/audio/Sound.h"
#include "platform/foundation/Result.h"

// The application's own find-my-phone alarm: a bright two-tone warble, made here rather than
// taken from anywhere, written once as a WAV file into a folder of the application's.
class TQAlarmSound {
public:
    TQAlarmSound() = delete;

    static constexpr const char* kFileName = "HeadspinLong.wav";
    static constexpr int kSampleRate = 22050;
    static constexpr double kSeconds = 1.5;

    [[nodiscard]] static platform::audio::Sound generate();
    // folder/kFileName, written when it is not there yet.
    [[nodiscard]] static platform::Result<std::filesystem::path> ensureFile(
        const std::filesystem::path& folder);
};
