#pragma once

#include <filesystem>
#include <memory>

#include "platform/bluetooth/Radio.h"
#include "platform/foundation/Result.h"

namespace platform::bluetooth {

struct SocketAirOptions {
    // How often a pending connection tries the peer's socket again.
    double retryInterval = 0.1;
    // How often a scan reads the directory.
    double scanInterval = 0.1;
    // The signal strength every advertisement is reported with: the folder has no distances.
    int rssi = -50;
    // Notifications or write commands a link may have waiting to leave.
    std::size_t transmitQueueCapacity = 32;
    // Requests and answers a link may have waiting to leave; a peer that lets more pile up
    // reads nothing and is dropped.
    std::size_t answerQueueCapacity = 64;
    // Accepted connections whose peer has not greeted yet; more are closed at once.
    std::size_t greetingCapacity = 16;
    // Seconds an accepted peer has for its greeting.
    double greetingTimeout = 5.0;
};

// The air between processes: one folder in which every device that is on has a listening Unix
// socket "<IDENTIFIER>.sock" and, while it advertises, "<IDENTIFIER>.adv" with its advertising
// data. Scanning reads the folder; connecting opens the socket. docs/air.md has the format.
class SocketAir {
public:
    explicit SocketAir(std::filesystem::path directory, SocketAirOptions options = {});
    ~SocketAir();
    SocketAir(const SocketAir&) = delete;
    SocketAir& operator=(const SocketAir&) = delete;

    // $KAVO_AIR, else "kavo-air" in $XDG_RUNTIME_DIR, else "air" in the application container.
    static std::filesystem::path defaultDirectory();
    [[nodiscard]] const std::filesystem::path& directory() const { return directory_; }

    // This process's radio for a device; powered on, listening. Fails when the folder cannot be
    // made or the socket cannot be bound.
    Result<std::unique_ptr<Radio>> attach(const Uuid& identifier);
    // Off closes the socket, the advertisement and every link; peers see their links end.
    void powerOff(const Uuid& device);
    void powerOn(const Uuid& device);

    struct Registry;

private:
    std::filesystem::path directory_;
    SocketAirOptions options_;
    std::shared_ptr<Registry> registry_;
};

}  // namespace platform::bluetooth
