#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace platform {

// Starts arguments[0] (looked up on PATH unless it holds a slash) with the arguments as its
// vector and the process's environment, never through a shell, with no descriptor but standard
// input, output and error: the child's process identifier, or nothing when it could not start.
[[nodiscard]] std::optional<int> startProgram(std::span<const std::string> arguments);

// Where startProgram would find the program: the name itself when it holds a slash, else the
// first entry of PATH holding an executable regular file of that name; nothing when there is
// none (or no PATH). Empty entries of PATH stand for the working folder, as for the shell.
[[nodiscard]] std::optional<std::filesystem::path> findProgram(std::string_view name);

// Waits for a child to end: its exit status, or nothing when it did not exit by itself.
std::optional<int> waitForExit(int child);

}  // namespace platform
