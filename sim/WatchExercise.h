#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"
#include "sim/Watch.h"

namespace kavowatch {

// The watch's exercise and location applications: they ask the phone for tracking fixes, run
// exercises on the phone's position (start, pause, resume, stop, a new batching interval) and
// ask whether the phone can give a position at all, all on the location channel. What the
// phone answers stays in the watch's message log; these read it.
class WatchExercise {
public:
    static constexpr std::uint8_t kLocationAppId = 4;

    enum class Kind : std::int64_t { walk = 1, run = 2, cycle = 3, climb = 4 };
    enum class Command : std::int64_t {
        start = 1,
        stop = 2,
        restart = 3,
        pause = 4,
        resume = 5,
        changeInterval = 6,
    };

    explicit WatchExercise(Watch& watch) : watch_(watch) {}

    platform::Result<void> start(Kind kind, double weight, std::int64_t interval);
    platform::Result<void> stop() { return command(Command::stop); }
    platform::Result<void> pause() { return command(Command::pause); }
    platform::Result<void> resume() { return command(Command::resume); }
    platform::Result<void> restart() { return command(Command::restart); }
    platform::Result<void> changeInterval(std::int64_t interval);
    // Any command as the watch's application would put it; for the odd ones.
    platform::Result<void> send(const platform::Value& request);

    // Fixes every second or so until stopped, at an accuracy code of 1-6.
    platform::Result<void> startTracking(std::int64_t accuracy);
    platform::Result<void> stopTracking();
    platform::Result<void> askLocationSetting();

    // The result batches the phone sent, oldest first: each "exerciseInfo" array.
    [[nodiscard]] std::vector<platform::Array> batches() const;
    // The "locationSettings" of the phone's last answer to the check.
    [[nodiscard]] std::optional<std::int64_t> lastLocationSetting() const;
    // The tracking fixes the phone sent.
    [[nodiscard]] std::vector<platform::Value> fixes() const;

private:
    platform::Result<void> command(Command command);
    [[nodiscard]] std::vector<platform::Value> received(std::string_view msgId) const;

    Watch& watch_;
};

}  // namespace kavowatch
