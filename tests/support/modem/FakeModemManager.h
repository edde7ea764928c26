#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace testing_support {

// A modem manager of the tests' own on a bus they started: it takes
// "org.freedesktop.ModemManager1" and lists its modems with the standard object manager at
// "/org/freedesktop/ModemManager1", announcing modems as they come and go. Each modem names
// its SIM (or "/" for none) in its "Sim" property; each SIM has its "OperatorIdentifier".
// Served on a thread of its own; every call returns once the bus has seen its effect.
class FakeModemManager {
public:
    // Null, with why, when it cannot take its name on the bus at address.
    static std::unique_ptr<FakeModemManager> start(const std::string& address, std::string& whyNot);
    ~FakeModemManager();
    FakeModemManager(const FakeModemManager&) = delete;
    FakeModemManager& operator=(const FakeModemManager&) = delete;

    // A modem comes, with a SIM of that operator identifier or with no SIM; its number.
    std::size_t addModem(std::optional<std::string> operatorIdentifier);
    // The modem goes, with its SIM.
    void removeModem(std::size_t modem);
    // The modem's SIM now names another operator, and says so.
    void setOperatorIdentifier(std::size_t modem, const std::string& operatorIdentifier);
    // Leaves the bus, as a modem manager that stops.
    void vanish();

private:
    struct Bus;
    FakeModemManager() = default;

    std::unique_ptr<Bus> bus_;
};

}  // namespace testing_support
