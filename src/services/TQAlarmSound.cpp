#include "services/TQAlarmSound.h"

#include <cmath>
#include <numbers>
#include <system_error>

platform::audio::Sound TQAlarmSound::generate() {
    platform::audio::Sound sound;
    sound.sampleRate = kSampleRate;
    sound.channels = 1;
    const auto frames = static_cast<std::size_t>(kSeconds * kSampleRate);
    sound.samples.resize(frames);
    // Alternating 880 Hz and 1320 Hz pulses of 125 ms, each faded in and out over 5 ms so
    // that it does not click; the whole keeps a loop seamless.
    constexpr double kPulse = 0.125;
    constexpr double kFade = 0.005;
    constexpr double kAmplitude = 0.6 * 32767;
    double phase = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kSampleRate;
        const auto pulse = static_cast<long>(t / kPulse);
        const double within = t - static_cast<double>(pulse) * kPulse;
        const double frequency = pulse % 2 == 0 ? 880.0 : 1320.0;
        const double envelope = std::min({1.0, within / kFade, (kPulse - within) / kFade});
        phase += 2 * std::numbers::pi * frequency / kSampleRate;
        sound.samples[i] =
            static_cast<std::int16_t>(std::lround(kAmplitude * envelope * std::sin(phase)));
    }
    return sound;
}

platform::Result<std::filesystem::path> TQAlarmSound::ensureFile(
    const std::filesystem::path& folder) {
    const auto path = folder / kFileName;
    std::error_code error;
    if (std::filesystem::is_regular_file(path, error)) {
        return path;
    }
    std::filesystem::create_directories(folder, error);
    if (auto written = platform::audio::writeWavFile(path, generate()); !written.ok()) {
        return written.error();
    }
    return path;
}
