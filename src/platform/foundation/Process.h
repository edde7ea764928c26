#pragma once

#include <optional>
#include <span>
#include <string>

namespace platform {

// Starts arguments[0] (looked up on PATH unless it holds a slash) with the arguments as its
// vector and the process's environment, never through a shell, with no descriptor but standard
// input, output and error: the child's process identifier, or nothing when it could not start.
[[nodiscard]] std::optional<int> startProgram(std::span<const std::string> arguments);

// Waits for a child to end: its exit status, or nothing when it did not exit by itself.
std::optional<int> waitForExit(int child);

}  // namespace platform
