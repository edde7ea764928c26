#include "platform/foundation/Process.h"

#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>
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

namespace {

bool isExecutableFile(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::optional<std::filesystem::path> findProgram(std::string_view name) {
    if (name.empty()) {
        return std::nullopt;
    }
    if (name.find('/') != std::string_view::npos) {
        const std::filesystem::path path(name);
        return isExecutableFile(path) ? std::optional(path) : std::nullopt;
    }
    const char* searched = std::getenv("PATH");
    if (searched == nullptr) {
        return std::nullopt;
    }
    const std::string_view entries(searched);
    std::size_t at = 0;
    while (true) {
        const std::size_t end = std::min(entries.find(':', at), entries.size());
        const std::string_view folder = entries.substr(at, end - at);
        const std::filesystem::path candidate =
            (folder.empty() ? std::filesystem::path(".") : std::filesystem::path(folder)) / name;
        if (isExecutableFile(candidate)) {
            return candidate;
        }
        if (end == entries.size()) {
            return std::nullopt;
        }
        at = end + 1;
    }
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
