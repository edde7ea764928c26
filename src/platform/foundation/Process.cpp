#include "platform/foundation/Process.h"

#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

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
    // Only the standard streams go over: the program is another desktop's (a browser, a mail
    // program) and has no business with our sockets, files or pipes, whoever opened them.
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return std::nullopt;
    }
    pid_t child = 0;
    const bool started =
        posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1) == 0 &&
        posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!started) {
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
