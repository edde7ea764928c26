#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/foundation/Result.h"

namespace platform::fs {

inline constexpr const char* kErrorDomain = "platform.file";

// Replaces path with data through a temporary file in the same folder and a rename, so a
// crash leaves either the old file or the new one, never half of one. Creates missing
// parent folders.
Result<void> writeFileAtomically(const std::filesystem::path& path, std::string_view data);

// Reads a whole file, refusing files larger than maxBytes.
Result<std::string> readFile(const std::filesystem::path& path,
                             std::size_t maxBytes = std::size_t{64} << 20);

// A name that stays one entry of the folder it is joined to: not empty, not "." or "..", and
// without a slash, a backslash or a NUL.
[[nodiscard]] bool isSafePathComponent(std::string_view name);

}  // namespace platform::fs
