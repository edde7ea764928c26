#pragma once

#include <cstdint>

#include "platform/foundation/Replaceable.h"

// The phone's calendar clock as the link's time stamps read it.
class TQWallClock : public platform::Replaceable<TQWallClock> {
public:
    virtual ~TQWallClock() = default;

    // Milliseconds since 1970, truncated.
    [[nodiscard]] virtual std::int64_t millisecondsSince1970() const = 0;

    // The installed clock, else the system's.
    static TQWallClock& current();
};
