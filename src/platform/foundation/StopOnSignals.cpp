#include "platform/foundation/StopOnSignals.h"

#include <cerrno>
#include <system_error>

namespace platform {

StopOnSignals::StopOnSignals(RunLoop& loop) : loop_(loop) {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    if (const int error = pthread_sigmask(SIG_BLOCK, &signals_, &previousMask_); error != 0) {
        throw std::system_error(error, std::system_category(), "pthread_sigmask");
    }
    waiter_ = std::thread([this] { wait(); });
}

StopOnSignals::~StopOnSignals() {
    ending_.store(true);
    // Aimed at the waiter, so no other thread can take it; if the waiter is not in sigwait()
    // yet, the signal stays pending for it and the call returns at once.
    pthread_kill(waiter_.native_handle(), SIGTERM);
    waiter_.join();
    // A signal to the process that came after the waiter left would end the program the
    // moment the mask goes back; the program is already ending its own way.
    const timespec now{};
    while (sigtimedwait(&signals_, nullptr, &now) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

void StopOnSignals::wait() {
    while (true) {
        int signal = 0;
        if (sigwait(&signals_, &signal) != 0) {
            return;  // only an invalid set fails, and it would fail every time
        }
        if (ending_.load()) {
            return;
        }
        received_.store(signal);
        loop_.stop();
    }
}

}  // namespace platform
