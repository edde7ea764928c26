#include "platform/audio/Sound.h"

#include <sndfile.h>

#include <algorithm>
#include <string>
#include <utility>

#include "platform/foundation/FileSystem.h"

namespace platform::audio {

namespace {

Error audioError(long code, std::string message) {
    return Error{kErrorDomain, code, std::move(message)};
}

void putLittleEndian(std::string& out, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

}  // namespace

Result<std::shared_ptr<const Sound>> readSoundFile(const std::filesystem::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return audioError(1, "cannot read " + path.string() + ": " + sf_strerror(nullptr));
    }
    auto sound = std::make_shared<Sound>();
    sound->sampleRate = info.samplerate;
    sound->channels = info.channels;
    if (info.frames <= 0 || info.samplerate <= 0 || info.channels <= 0 || info.channels > 8 ||
        static_cast<std::size_t>(info.frames) > kMaxFrames) {
        sf_close(file);
        return audioError(2, "no usable duration in " + path.string());
    }
    sound->samples.resize(static_cast<std::size_t>(info.frames) *
                          static_cast<std::size_t>(info.channels));
    const sf_count_t read = sf_readf_short(file, sound->samples.data(), info.frames);
    sf_close(file);
    sound->samples.resize(static_cast<std::size_t>(std::max<sf_count_t>(read, 0)) *
                          static_cast<std::size_t>(info.channels));
    return std::shared_ptr<const Sound>(std::move(sound));
}

Result<void> writeWavFile(const std::filesystem::path& path, const Sound& sound) {
    if (sound.channels <= 0 || sound.sampleRate <= 0) {
        return audioError(3, "a sound without channels or rate");
    }
    const auto dataSize = static_cast<std::uint32_t>(sound.samples.size() * 2);
    const auto channels = static_cast<std::uint32_t>(sound.channels);
    const auto rate = static_cast<std::uint32_t>(sound.sampleRate);
    std::string out;
    out.reserve(44 + dataSize);
    out += "RIFF";
    putLittleEndian(out, 36 + dataSize, 4);
    out += "WAVEfmt ";
    putLittleEndian(out, 16, 4);
    putLittleEndian(out, 1, 2);  // PCM
    putLittleEndian(out, channels, 2);
    putLittleEndian(out, rate, 4);
    putLittleEndian(out, rate * channels * 2, 4);
    putLittleEndian(out, channels * 2, 2);
    putLittleEndian(out, 16, 2);
    out += "data";
    putLittleEndian(out, dataSize, 4);
    for (const std::int16_t sample : sound.samples) {
        putLittleEndian(out, static_cast<std::uint16_t>(sample), 2);
    }
    return fs::writeFileAtomically(path, out);
}

FileSoundLoader::~FileSoundLoader() {
    reads_.wait();
}

void FileSoundLoader::load(const std::filesystem::path& path, Completion completion) {
    RunLoop* const loop = &loop_;
    reads_.async(
        DispatchQueue::global(), [loop, path, completion = std::move(completion)]() mutable {
            auto result = readSoundFile(path);
            loop->post([completion = std::move(completion), result = std::move(result)]() mutable {
                completion(std::move(result));
            });
        });
}

}  // namespace platform::audio
