#pragma once

#include <memory>
#include <string>

#include "support/PrivateBus.h"

// A private session bus with a keyring daemon on it unlocked by a password of the test's: the
// Secret Service is tried without touching anyone's keyring. One per process: the Secret
// Service library keeps its bus connection.
class SecretServiceBus {
public:
    // Null, with why, when the bus or the keyring cannot start here.
    static std::unique_ptr<SecretServiceBus> start(std::string& whyNot);
    ~SecretServiceBus();

private:
    SecretServiceBus() = default;

    std::unique_ptr<testing_support::PrivateBus> bus_;
};
