#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace coding_samples {

using platform::Bytes;

inline Bytes textBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

inline Bytes fromHex(std::string_view hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

// Compressible, message-like text of the given length.
inline Bytes sampleText(std::size_t size) {
    static constexpr std::string_view kLine =
        "{\"msgId\" : \"mgr_sync_init_setting_req\", \"timezone\" : \"Europe/Berlin\", \"seq\" : ";
    std::string text;
    for (int line = 0; text.size() < size; ++line) {
        text.append(kLine).append(std::to_string(line)).append("}\n");
    }
    text.resize(size);
    return textBytes(text);
}

// Bytes that do not compress, the same on every run.
inline Bytes noise(std::size_t size, unsigned seed = 7) {
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes out(size);
    for (auto& b : out) {
        b = static_cast<std::uint8_t>(byte(generator));
    }
    return out;
}

inline void writeBytes(const std::filesystem::path& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

inline Bytes readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace coding_samples
