#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Result.h"

namespace platform {

// What the terminate path knows of an uncaught exception.
struct CrashException {
    std::string description;
    std::vector<std::string> callStackSymbols;
    std::vector<std::uintptr_t> callStackReturnAddresses;
};

// Catches the process's fatal signals and uncaught C++ exceptions only to write a report into
// a file opened beforehand, then lets the process end the way it would have: the handlers are
// set back to the default action and the signal is raised again (an uncaught exception ends
// in abort), so whoever waits for the process still sees the signal. The first crash writes;
// a second thread that crashes meanwhile waits for it briefly.
//
// The trap's state is process-wide by nature: a signal handler has nothing else to reach.
class CrashTrap {
public:
    // Writes the report of a signal into fd. Runs inside the signal handler, so it may only
    // make async-signal-safe calls (CrashTrap::write, writeDecimal): nothing that allocates
    // or takes a lock.
    using SignalWriter = void (*)(int fd, int signal);
    // Writes the report of an uncaught exception into fd, in the terminate handler.
    using ExceptionWriter = void (*)(int fd, const CrashException& exception);

    // Opens reportFile (created with mode 0600, emptied), gives the installing thread an
    // alternate signal stack (so that a stack overflow is reported too) and installs the
    // handlers for the signals and the terminate handler. A second install replaces the
    // first.
    static Result<void> install(const std::filesystem::path& reportFile,
                                std::span<const int> signals, SignalWriter signalWriter,
                                ExceptionWriter exceptionWriter);
    // Puts the previous handlers back and closes the file.
    static void uninstall();

    // Abort, illegal instruction, segmentation fault, floating-point error, bus error and the
    // processor-time limit. Never the terminal stop: Ctrl-Z is no crash.
    [[nodiscard]] static std::span<const int> fatalSignals();
    // The name of a signal by this system's numbers (below 32); null for others.
    [[nodiscard]] static const char* signalName(int signal);

    // Async-signal-safe: the whole text, retrying short writes and interruptions.
    static void write(int fd, std::string_view text);
    static void writeDecimal(int fd, long long value);

    // The report of the exception being handled now (or of none), as the terminate path
    // builds it: for tests.
    [[nodiscard]] static CrashException describeCurrentException();
};

}  // namespace platform
