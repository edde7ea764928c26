#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "support/TempDir.h"

// A session bus of the test's own, without service activation, with a keyring daemon on it
// unlocked by a password of the test's: the Secret Service is tried without touching anyone's
// keyring. The bus address goes into this process's environment, where the Secret Service
// library looks. One per process: that library keeps its bus connection.
class SecretServiceBus {
public:
    // Null, with why, when the bus or the keyring cannot start here.
    static std::unique_ptr<SecretServiceBus> start(std::string& whyNot);
    ~SecretServiceBus();

private:
    SecretServiceBus() = default;

    testing_support::TempDir home_;
    pid_t bus_ = -1;
};
