#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace testing_support {

// A desktop notification server of the tests' own on a bus they started: it takes
// "org.freedesktop.Notifications", answers Notify, GetCapabilities, CloseNotification and
// GetServerInformation, and sends ActionInvoked and NotificationClosed when a test plays the
// user. It shows nothing. Its calls are served on a thread of its own; what it records is read
// under its lock.
class FakeNotificationServer {
public:
    struct Notice {
        std::uint32_t id = 0;
        std::string appName;
        std::uint32_t replacesId = 0;
        std::string icon;
        std::string summary;
        std::string body;
        std::vector<std::string> actions;
        // The hints whose values are strings.
        std::map<std::string, std::string> textHints;
        std::int32_t timeout = 0;
    };

    // Null, with why, when it cannot take its name on the bus at address. withActions: whether
    // it says it supports actions.
    static std::unique_ptr<FakeNotificationServer> start(const std::string& address,
                                                         bool withActions, std::string& whyNot);
    ~FakeNotificationServer();
    FakeNotificationServer(const FakeNotificationServer&) = delete;
    FakeNotificationServer& operator=(const FakeNotificationServer&) = delete;

    [[nodiscard]] std::vector<Notice> notices() const;
    // The user clicks notice id (key "default") or presses its button key.
    void invokeAction(std::uint32_t id, const std::string& key);
    // The notice goes; reason 1 expired, 2 dismissed by the user.
    void close(std::uint32_t id, std::uint32_t reason = 2);
    // The server leaves the bus, as when it exits.
    void vanish();

private:
    struct Bus;
    FakeNotificationServer() = default;

    std::unique_ptr<Bus> bus_;
};

}  // namespace testing_support
