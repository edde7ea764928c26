#pragma once

// Inside the image layer: a walk over a file's blocks before any pixel is decoded, so that a
// header's claims are checked against the limits and a file cut short is known as such.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/image/Image.h"
#include "platform/image/ImageSource.h"

namespace platform::image {

struct FileStructure {
    bool valid = false;       // the blocks read so far are well formed
    bool complete = false;    // the end marker was reached
    PixelSize size;           // the declared canvas (0 when unknown)
    std::size_t frames = 0;   // GIF image blocks
    bool emptyFrame = false;  // a GIF image block of no width or height
    // Per GIF image block: the delay (centiseconds) of the control extension before it.
    std::vector<std::optional<std::uint16_t>> delays;
};

// Only JPEG, PNG and GIF are walked; other formats give an invalid structure.
[[nodiscard]] FileStructure walkStructure(Format format, std::span<const std::uint8_t> data);

}  // namespace platform::image
