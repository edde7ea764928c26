#pragma once

#include "platform/foundation/RunLoop.h"

namespace platform {

// Where a call was written. std::source_location is out of reach of every compiler we build
// with (its library needs a builtin some of them lack); these builtins are in all of them.
class SourceLocation {
public:
    static constexpr SourceLocation current(const char* file = __builtin_FILE(),
                                            unsigned line = __builtin_LINE(),
                                            const char* function = __builtin_FUNCTION()) noexcept {
        return SourceLocation(file, line, function);
    }
    [[nodiscard]] constexpr const char* file_name() const noexcept { return file_; }
    [[nodiscard]] constexpr unsigned line() const noexcept { return line_; }
    [[nodiscard]] constexpr const char* function_name() const noexcept { return function_; }

private:
    constexpr SourceLocation(const char* file, unsigned line, const char* function) noexcept
        : file_(file), line_(line), function_(function) {}

    const char* file_;
    unsigned line_;
    const char* function_;
};

namespace detail {
[[noreturn]] void offLoopThread(SourceLocation where);
}

// For code whose state belongs to one run loop: debug builds stop the program, naming the
// caller, when it is reached off the loop's thread (RunLoop::isLoopThread); release builds
// check nothing.
inline void assertOnLoopThread([[maybe_unused]] const RunLoop& loop,
                               [[maybe_unused]] SourceLocation where = SourceLocation::current()) {
#ifndef NDEBUG
    if (!loop.isLoopThread()) {
        detail::offLoopThread(where);
    }
#endif
}

}  // namespace platform
