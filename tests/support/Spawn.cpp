#include "support/Spawn.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testing_support {

pid_t spawnProgram(const std::vector<std::string>& words, const posix_spawn_file_actions_t* actions,
                   std::vector<std::string> extraEnvironment) {
    std::vector<std::string> arguments(words);
    std::vector<char*> argv;
    for (auto& word : arguments) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    for (char** entry = environ; *entry != nullptr; ++entry) {
        extraEnvironment.emplace_back(*entry);
    }
    std::vector<char*> envp;
    for (auto& entry : extraEnvironment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (argv[0] == nullptr ||
        posix_spawnp(&pid, argv[0], actions, nullptr, argv.data(), envp.data()) != 0) {
        return -1;
    }
    return pid;
}

bool runQuietly(const std::vector<std::string>& words) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const pid_t pid = spawnProgram(words, &actions);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

}  // namespace testing_support
