#include "platform/foundation/Process.h"

#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <cerrno>
#include <vector>

extern char** environ;

namespace platform {

std::optional<int> startProgram(std::span<const std::string> arguments) {
    if (arguments.empty()) {
        return std::nullopt;
    }
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return std::nullopt;
    }
    return static_cast<int>(child);
}

std::optional<int> waitForExit(int child) {
    int status = 0;
    while (waitpid(static_cast<pid_t>(child), &status, 0) < 0) {
        if (errno != EINTR) {
            return std::nullopt;
        }
    }
    if (!WIFEXITED(status)) {
        return std::nullopt;
    }
    return WEXITSTATUS(status);
}

}  // namespace platform
