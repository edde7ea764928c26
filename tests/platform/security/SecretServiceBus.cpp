#include "SecretServiceBus.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <vector>

namespace {

// The children the keyring daemon left to this process (its subreaper) when it daemonized.
std::vector<pid_t> orphans() {
    std::vector<pid_t> found;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return found;
    }
    while (const dirent* entry = ::readdir(proc)) {
        const pid_t pid = std::atoi(entry->d_name);
        std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
        std::string text;
        std::getline(stat, text);
        const auto close = text.rfind(')');
        if (pid <= 0 || close == std::string::npos) {
            continue;
        }
        // "pid (name) state ppid ..."
        if (std::atoi(text.c_str() + close + 4) == ::getpid()) {
            found.push_back(pid);
        }
    }
    ::closedir(proc);
    return found;
}

}  // namespace

std::unique_ptr<SecretServiceBus> SecretServiceBus::start(std::string& whyNot) {
    std::unique_ptr<SecretServiceBus> bus(new SecretServiceBus());
    bus->bus_ = testing_support::PrivateBus::start(whyNot);
    if (!bus->bus_) {
        return nullptr;
    }
    const auto& home = bus->bus_->home();

    // The daemonized keyring is handed to this process, which ends it at the end.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    int password[2];
    if (::pipe2(password, O_CLOEXEC) != 0) {
        whyNot = "no pipe";
        return nullptr;
    }
    const std::vector<std::string> environment{"HOME=" + home.string(),
                                               "XDG_DATA_HOME=" + (home / "data").string(),
                                               "XDG_RUNTIME_DIR=" + home.string()};
    const pid_t launcher = testing_support::spawnWithDescriptors(
        {"gnome-keyring-daemon", "--daemonize", "--unlock", "--components=secrets"}, password[0],
        -1, environment);
    ::close(password[0]);
    [[maybe_unused]] const ssize_t written = ::write(password[1], "kavo-test", 9);
    ::close(password[1]);
    int status = 0;
    // The launcher returns once the daemon has taken its name on the bus.
    if (launcher <= 0 || ::waitpid(launcher, &status, 0) != launcher || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        whyNot = "gnome-keyring-daemon did not start";
        return nullptr;
    }
    // The daemon may take its name on the bus after the launcher is gone.
    if (!bus->bus_->waitForName("org.freedesktop.secrets")) {
        whyNot = "the keyring never took its name on the bus (gdbus wait)";
        return nullptr;
    }
    return bus;
}

SecretServiceBus::~SecretServiceBus() {
    for (const pid_t pid : orphans()) {
        if (bus_ && pid != bus_->pid()) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
}
