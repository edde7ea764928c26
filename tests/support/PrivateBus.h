#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/TempDir.h"

namespace testing_support {

// A session bus of the test's own, without service activation, so that a test talks to the
// services it starts and never to anyone's desktop. Its address goes into this process's
// environment (DBUS_SESSION_BUS_ADDRESS), where the bus libraries look; the bus ends with the
// object, or with the test process however that ends.
class PrivateBus {
public:
    // Null, with why, when the bus cannot start here.
    static std::unique_ptr<PrivateBus> start(std::string& whyNot);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    [[nodiscard]] const std::string& address() const { return address_; }
    [[nodiscard]] pid_t pid() const { return bus_; }
    // A folder of the bus's own, for the homes of the services a test starts on it.
    [[nodiscard]] const std::filesystem::path& home() const { return home_.path(); }
    // Whether a service took `name` on the bus within a bound, waiting with "gdbus wait".
    [[nodiscard]] bool waitForName(std::string_view name) const;

private:
    PrivateBus() = default;

    TempDir home_;
    std::string address_;
    pid_t bus_ = -1;
};

// Starts words with standard input and output on the descriptors given (-1: the test's own)
// and standard error discarded; -1 when it cannot start.
pid_t spawnWithDescriptors(const std::vector<std::string>& words, int stdinFd, int stdoutFd,
                           std::vector<std::string> extraEnvironment = {});

}  // namespace testing_support
