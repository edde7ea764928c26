#pragma once

#include <spawn.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_support {

// Starts words[0] (looked up on PATH unless it holds a slash) with words as its arguments,
// the file actions given (none: the test's own descriptors), and this process's environment
// after extraEnvironment ("NAME=value", which wins). -1 when it cannot start.
pid_t spawnProgram(const std::vector<std::string>& words,
                   const posix_spawn_file_actions_t* actions = nullptr,
                   std::vector<std::string> extraEnvironment = {});

// Runs a program to its end with standard error discarded; whether it exited with 0.
bool runQuietly(const std::vector<std::string>& words);

}  // namespace testing_support
