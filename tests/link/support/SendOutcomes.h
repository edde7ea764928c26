#pragma once

#include <cstddef>
#include <ostream>

#include "link/TQSendOutcome.h"

// Outcomes by name in test failures. Found by GoogleTest next to the type.
inline void PrintTo(const TQSendOutcome& outcome, std::ostream* out) {
    static constexpr const char* kKinds[] = {"acknowledged", "sentUnacknowledged", "dropped"};
    static constexpr const char* kReasons[] = {
        "none",      "notConnected", "disconnected",    "reset",
        "peerReset", "unencodable",  "reservedPriority"};
    *out << kKinds[static_cast<std::size_t>(outcome.kind)];
    if (outcome.kind == TQSendOutcome::Kind::dropped) {
        *out << "(" << kReasons[static_cast<std::size_t>(outcome.reason)] << ")";
    }
}
