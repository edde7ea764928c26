#pragma once

#include <filesystem>

namespace platform::image {

// The user's pictures folder as the desktop names it (the XDG user directories, else
// "Pictures" in the home folder); empty when no home is known. The folder may not exist.
[[nodiscard]] std::filesystem::path picturesFolder();

}  // namespace platform::image
