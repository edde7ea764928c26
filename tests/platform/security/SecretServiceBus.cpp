#include "SecretServiceBus.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <vector>

#include "support/Spawn.h"

namespace {

constexpr int kStartBoundMs = 10'000;

pid_t spawn(const std::vector<std::string>& words, int stdinFd, int stdoutFd,
            std::vector<std::string> extraEnvironment) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdinFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stdinFd, STDIN_FILENO);
    }
    if (stdoutFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    }
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const pid_t pid = testing_support::spawnProgram(words, &actions, std::move(extraEnvironment));
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// One line from fd, waiting at most the bound.
std::string readLine(int fd) {
    std::string line;
    char c = 0;
    pollfd ready{fd, POLLIN, 0};
    while (::poll(&ready, 1, kStartBoundMs) == 1 && ::read(fd, &c, 1) == 1 && c != '\n') {
        line += c;
    }
    return line;
}

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
    const auto home = bus->home_.path();
    const auto config = home / "bus.conf";
    std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                             "Configuration 1.0//EN\" "
                             "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                             "<busconfig><type>session</type><listen>unix:dir="
                          << home.string()
                          << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                             "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                             "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    int address[2];
    if (::pipe2(address, O_CLOEXEC) != 0) {
        whyNot = "no pipe";
        return nullptr;
    }
    // The bus ends with this process however it ends, and the keyring with the bus.
    bus->bus_ = spawn({"setpriv", "--pdeathsig", "TERM", "dbus-daemon",
                       "--config-file=" + config.string(), "--nofork", "--print-address=1"},
                      -1, address[1], {});
    ::close(address[1]);
    const std::string busAddress = bus->bus_ > 0 ? readLine(address[0]) : "";
    ::close(address[0]);
    if (busAddress.empty()) {
        whyNot = "dbus-daemon did not start";
        return nullptr;
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", busAddress.c_str(), 1);

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
    const pid_t launcher =
        spawn({"gnome-keyring-daemon", "--daemonize", "--unlock", "--components=secrets"},
              password[0], -1, environment);
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
    const pid_t wait = spawn({"gdbus", "wait", "--session", "--timeout",
                              std::to_string(kStartBoundMs / 1000), "org.freedesktop.secrets"},
                             -1, -1, {});
    if (wait <= 0 || ::waitpid(wait, &status, 0) != wait || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        whyNot = "the keyring never took its name on the bus (gdbus wait)";
        return nullptr;
    }
    return bus;
}

SecretServiceBus::~SecretServiceBus() {
    for (const pid_t pid : orphans()) {
        if (pid != bus_) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
    if (bus_ > 0) {
        ::kill(bus_, SIGTERM);
        ::waitpid(bus_, nullptr, 0);
    }
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
}
