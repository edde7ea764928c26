#pragma once

#include <source_location>

#include "platform/foundation/RunLoop.h"

namespace platform {

namespace detail {
[[noreturn]] void offLoopThread(std::source_location where);
}

// For code whose state belongs to one run loop: debug builds stop the program, naming the
// caller, when it is reached off the loop's thread (RunLoop::isLoopThread); release builds
// check nothing.
inline void assertOnLoopThread(
    [[maybe_unused]] const RunLoop& loop,
    [[maybe_unused]] std::source_location where = std::source_location::current()) {
#ifndef NDEBUG
    if (!loop.isLoopThread()) {
        detail::offLoopThread(where);
    }
#endif
}

}  // namespace platform
