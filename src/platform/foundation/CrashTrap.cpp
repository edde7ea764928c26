#include "platform/foundation/CrashTrap.h"

#include <cxxabi.h>
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

namespace platform {

namespace {

constexpr std::size_t kMaxSignals = 8;
constexpr int kMaxFrames = 64;
constexpr int kSignalTableSize = 32;
constexpr std::size_t kAltStackSize = 64 * 1024;
// How long a second crashing thread waits for the first to finish the report.
constexpr int kWaitForFirstMs = 2000;

constexpr int kFatalSignals[] = {SIGABRT, SIGILL, SIGSEGV, SIGFPE, SIGBUS, SIGXCPU};

// By the numbers of this system (Linux); the abort line keeps its usual double name.
constexpr std::array<const char*, kSignalTableSize> kSignalNames = {"NULL",
                                                                    "SIGHUP",
                                                                    "SIGINT",
                                                                    "SIGQUIT",
                                                                    "SIGILL",
                                                                    "SIGTRAP",
                                                                    "SIGABRT or SIGIOT",
                                                                    "SIGBUS",
                                                                    "SIGFPE",
                                                                    "SIGKILL",
                                                                    "SIGUSR1",
                                                                    "SIGSEGV",
                                                                    "SIGUSR2",
                                                                    "SIGPIPE",
                                                                    "SIGALRM",
                                                                    "SIGTERM",
                                                                    "SIGSTKFLT",
                                                                    "SIGCHLD",
                                                                    "SIGCONT",
                                                                    "SIGSTOP",
                                                                    "SIGTSTP",
                                                                    "SIGTTIN",
                                                                    "SIGTTOU",
                                                                    "SIGURG",
                                                                    "SIGXCPU",
                                                                    "SIGXFSZ",
                                                                    "SIGVTALRM",
                                                                    "SIGPROF",
                                                                    "SIGWINCH",
                                                                    "SIGIO or SIGPOLL",
                                                                    "SIGPWR",
                                                                    "SIGSYS"};

// What the handlers read. Written only by install and uninstall, while no crash runs.
struct TrapState {
    int fd = -1;
    CrashTrap::SignalWriter signalWriter = nullptr;
    CrashTrap::ExceptionWriter exceptionWriter = nullptr;
    std::array<int, kMaxSignals> signals{};
    std::array<struct sigaction, kMaxSignals> previous{};
    std::size_t count = 0;
    std::terminate_handler previousTerminate = nullptr;
    bool installed = false;
};

TrapState gTrap;
std::atomic<int> gCrashing{0};  // 0 none, 1 writing, 2 written
alignas(16) char gAltStack[kAltStackSize];

void restoreDefaults() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < gTrap.count; ++i) {
        sigaction(gTrap.signals[i], &action, nullptr);
    }
}

// True for the thread that writes the report; others wait until it is written, or a while.
bool takeTheReport() {
    int expected = 0;
    if (gCrashing.compare_exchange_strong(expected, 1)) {
        return true;
    }
    const timespec step{0, 10 * 1000 * 1000};
    for (int waited = 0; waited < kWaitForFirstMs && gCrashing.load() != 2; waited += 10) {
        nanosleep(&step, nullptr);
    }
    return false;
}

void onSignal(int signal) {
    const int savedErrno = errno;
    if (takeTheReport()) {
        if (gTrap.fd >= 0 && gTrap.signalWriter != nullptr) {
            gTrap.signalWriter(gTrap.fd, signal);
            fsync(gTrap.fd);
        }
        gCrashing.store(2);
    }
    restoreDefaults();
    errno = savedErrno;
    // Blocked until the handler returns; then the default action ends the process. A fault
    // would come again anyway when its instruction runs again.
    raise(signal);
}

[[noreturn]] void onTerminate() {
    if (takeTheReport()) {
        if (gTrap.fd >= 0 && gTrap.exceptionWriter != nullptr) {
            gTrap.exceptionWriter(gTrap.fd, CrashTrap::describeCurrentException());
            fsync(gTrap.fd);
        }
        gCrashing.store(2);
    }
    restoreDefaults();
    std::abort();
}

std::string demangled(const char* name) {
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> readable(
        abi::__cxa_demangle(name, nullptr, nullptr, &status), &std::free);
    return status == 0 && readable ? std::string(readable.get()) : std::string(name);
}

}  // namespace

Result<void> CrashTrap::install(const std::filesystem::path& reportFile,
                                std::span<const int> signals, SignalWriter signalWriter,
                                ExceptionWriter exceptionWriter) {
    if (signals.size() > kMaxSignals) {
        return Error{"platform.crash", EINVAL, "too many signals to trap"};
    }
    const int fd = ::open(reportFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return Error{"platform.crash", errno,
                     "cannot open " + reportFile.string() + ": " + std::strerror(errno)};
    }
    uninstall();
    stack_t stack{};
    stack.ss_sp = gAltStack;
    stack.ss_size = sizeof gAltStack;
    sigaltstack(&stack, nullptr);

    gTrap.fd = fd;
    gTrap.signalWriter = signalWriter;
    gTrap.exceptionWriter = exceptionWriter;
    gTrap.count = 0;
    struct sigaction action {};
    action.sa_handler = onSignal;
    action.sa_flags = SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const int signal : signals) {
        gTrap.signals[gTrap.count] = signal;
        sigaction(signal, &action, &gTrap.previous[gTrap.count]);
        ++gTrap.count;
    }
    gTrap.previousTerminate = std::set_terminate(onTerminate);
    gTrap.installed = true;
    return {};
}

void CrashTrap::uninstall() {
    if (!gTrap.installed) {
        return;
    }
    for (std::size_t i = 0; i < gTrap.count; ++i) {
        sigaction(gTrap.signals[i], &gTrap.previous[i], nullptr);
    }
    std::set_terminate(gTrap.previousTerminate);
    ::close(gTrap.fd);
    gTrap = TrapState{};
}

std::span<const int> CrashTrap::fatalSignals() {
    return kFatalSignals;
}

const char* CrashTrap::signalName(int signal) {
    if (signal < 0 || signal >= kSignalTableSize) {
        return nullptr;
    }
    return kSignalNames[static_cast<std::size_t>(signal)];
}

void CrashTrap::write(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

void CrashTrap::writeDecimal(int fd, long long value) {
    char digits[24];
    std::size_t at = sizeof digits;
    const bool negative = value < 0;
    // In unsigned arithmetic, so that the most negative value has a magnitude too.
    unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(value)
                                            : static_cast<unsigned long long>(value);
    do {
        digits[--at] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) {
        digits[--at] = '-';
    }
    write(fd, std::string_view(digits + at, sizeof digits - at));
}

CrashException CrashTrap::describeCurrentException() {
    CrashException report;
    if (const std::type_info* type = abi::__cxa_current_exception_type(); type == nullptr) {
        report.description = "terminate called without an active exception";
    } else {
        report.description = demangled(type->name());
        try {
            std::rethrow_exception(std::current_exception());
        } catch (const std::exception& exception) {
            report.description += std::string(": ") + exception.what();
        } catch (...) {
        }
    }
    std::array<void*, kMaxFrames> frames{};
    const int count = backtrace(frames.data(), kMaxFrames);
    std::unique_ptr<char*, decltype(&std::free)> symbols(backtrace_symbols(frames.data(), count),
                                                         &std::free);
    for (int i = 0; i < count; ++i) {
        const auto index = static_cast<std::size_t>(i);
        report.callStackSymbols.emplace_back(symbols ? symbols.get()[index] : "?");
        report.callStackReturnAddresses.push_back(reinterpret_cast<std::uintptr_t>(frames[index]));
    }
    return report;
}

}  // namespace platform
