#include "support/PrivateBus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "support/Spawn.h"

namespace testing_support {

namespace {

constexpr int kStartBoundMs = 10'000;

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

bool exitedWithSuccess(pid_t pid) {
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

}  // namespace

pid_t spawnWithDescriptors(const std::vector<std::string>& words, int stdinFd, int stdoutFd,
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
    const pid_t pid = spawnProgram(words, &actions, std::move(extraEnvironment));
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

std::unique_ptr<PrivateBus> PrivateBus::start(std::string& whyNot) {
    std::unique_ptr<PrivateBus> bus(new PrivateBus());
    const auto config = bus->home() / "bus.conf";
    std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                             "Configuration 1.0//EN\" "
                             "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                             "<busconfig><type>session</type><listen>unix:dir="
                          << bus->home().string()
                          << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                             "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                             "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    int address[2];
    if (::pipe2(address, O_CLOEXEC) != 0) {
        whyNot = "no pipe";
        return nullptr;
    }
    bus->bus_ =
        spawnWithDescriptors({"setpriv", "--pdeathsig", "TERM", "dbus-daemon",
                              "--config-file=" + config.string(), "--nofork", "--print-address=1"},
                             -1, address[1]);
    ::close(address[1]);
    bus->address_ = bus->bus_ > 0 ? readLine(address[0]) : "";
    ::close(address[0]);
    if (bus->address_.empty()) {
        whyNot = "dbus-daemon did not start";
        return nullptr;
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus->address_.c_str(), 1);
    return bus;
}

bool PrivateBus::waitForName(std::string_view name) const {
    return exitedWithSuccess(
        spawnWithDescriptors({"gdbus", "wait", "--session", "--timeout",
                              std::to_string(kStartBoundMs / 1000), std::string(name)},
                             -1, -1, {"DBUS_SESSION_BUS_ADDRESS=" + address_}));
}

PrivateBus::~PrivateBus() {
    if (bus_ > 0) {
        ::kill(bus_, SIGTERM);
        ::waitpid(bus_, nullptr, 0);
    }
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

}  // namespace testing_support
