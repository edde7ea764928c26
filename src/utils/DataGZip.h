#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"

namespace gzip {

using platform::Bytes;

// Errors of the coding itself carry zlib's status as their code.
inline constexpr const char* kErrorDomain = "com.kavo.zlib.error";

// No caller expects more than this from one buffer; a few kilobytes of hostile input can
// otherwise ask for gigabytes.
inline constexpr std::size_t kDefaultMaxOutput = std::size_t{64} << 20;

// Deflate with the given zlib parameters (window bits 31 writes a gzip wrapper). An empty
// input comes back as it is. Inputs of 4 GiB and more are refused.
[[nodiscard]] platform::Result<Bytes> compress(std::span<const std::uint8_t> input, int level = -1,
                                               int windowBits = 31, int memLevel = 8,
                                               int strategy = 0);

// Inflate a stream of the given window bits. An empty input comes back as it is. A stream
// that would inflate past maxOutput is refused with Z_BUF_ERROR, as is one cut short.
[[nodiscard]] platform::Result<Bytes> decompress(std::span<const std::uint8_t> input,
                                                 int windowBits = 31,
                                                 std::size_t maxOutput = kDefaultMaxOutput);

// Writes a gzip file of source at level -1 (zlib's default) or 0 to 9. Fails, leaving no
// destination behind, when source cannot be read, is empty or is the destination itself.
[[nodiscard]] platform::Result<void> compressFile(const std::filesystem::path& source,
                                                  const std::filesystem::path& destination,
                                                  int level = -1);

// Replaces destination with the contents of the gzip file source. Fails, leaving no
// destination behind, when source cannot be read, is empty, is not gzip, ends early or is
// damaged.
[[nodiscard]] platform::Result<void> decompressFile(const std::filesystem::path& source,
                                                    const std::filesystem::path& destination);

}  // namespace gzip
