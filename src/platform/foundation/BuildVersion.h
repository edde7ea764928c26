#pragma once

#include <string_view>

namespace platform {

// The application's version as the build names it (the project's version in CMake): the one
// definition every reader of the version takes.
extern const std::string_view kApplicationVersion;

}  // namespace platform
