#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/PrivateBus.h"

namespace testing_support {

// A small MPRIS player of the tests' own on a bus they started: it takes
// "org.mpris.MediaPlayer2.<name>", answers the player interface's calls (Play, Pause,
// PlayPause, Stop, Next, Previous, Seek) and properties (PlaybackStatus, Rate, Volume,
// Metadata), and announces each change as a real player does. It plays nothing. Its calls
// are served on a thread of its own; what it records is read under its lock.
class MprisTestPlayer {
public:
    // Null, with why, when it cannot take its name on the bus at address.
    static std::unique_ptr<MprisTestPlayer> start(const std::string& address,
                                                  const std::string& name, std::string& whyNot);
    ~MprisTestPlayer();
    MprisTestPlayer(const MprisTestPlayer&) = delete;
    MprisTestPlayer& operator=(const MprisTestPlayer&) = delete;

    [[nodiscard]] std::string busName() const;
    [[nodiscard]] std::string status() const;
    [[nodiscard]] double volume() const;
    [[nodiscard]] std::string title() const;
    // The player interface's methods called so far, in order.
    [[nodiscard]] std::vector<std::string> calls() const;

    // Whether condition held within a bound, waiting for the player's changes.
    bool waitFor(const std::function<bool(const MprisTestPlayer&)>& condition) const;

    // Another program on the bus (a volume applet) sets the player's volume.
    static void setVolumeFromAnotherProgram(const std::string& address, const std::string& busName,
                                            double volume);

private:
    struct Bus;
    MprisTestPlayer() = default;

    std::unique_ptr<Bus> bus_;
};

// A private bus with the tests' player on it, its name taken. Empty members, with why, when
// either cannot start.
struct BusWithPlayer {
    std::unique_ptr<PrivateBus> bus;
    std::unique_ptr<MprisTestPlayer> player;
    std::string whyNot;

    static BusWithPlayer start(const std::string& name);
};

}  // namespace testing_support
