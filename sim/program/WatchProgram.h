#pragma once

#include "platform/foundation/RunLoop.h"
#include "sim/Watch.h"
#include "sim/WatchApps.h"
#include "sim/WatchState.h"
#include "sim/program/ProgramOptions.h"
#include "sim/program/WatchMemory.h"
#include "sim/program/WatchScript.h"

namespace kavowatch {

// The watch the kavowatch program runs: answers the phone's initialisation from its state and
// script, pairs on its own, and advertises whenever no phone is linked, with the purpose its
// setup state calls for at that moment. With a home folder it starts from what it remembers
// there and remembers every set-up and reset.
class WatchProgram {
public:
    WatchProgram(platform::RunLoop& loop, RadioFactory radios, const ProgramOptions& options,
                 const Script& script);
    WatchProgram(const WatchProgram&) = delete;
    WatchProgram& operator=(const WatchProgram&) = delete;

    // Comes onto the air and advertises.
    void start();

    [[nodiscard]] Watch& watch() { return watch_; }
    [[nodiscard]] WatchResponder& responder() { return responder_; }
    [[nodiscard]] WatchApps& apps() { return apps_; }

private:
    void linkChanged(bool up);
    void advertise();

    const ProgramOptions options_;
    const std::optional<WatchMemory> memory_;
    Watch watch_;
    // After the watch: its rules point here, so it goes first.
    WatchResponder responder_;
    // Keeps the responder's lists in step with what the phone installs.
    WatchApps apps_;
};

}  // namespace kavowatch
