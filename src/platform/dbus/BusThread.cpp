#include "platform/dbus/BusThread.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

#include "platform/foundation/LogSink.h"

namespace platform::dbus {
namespace {

// Milliseconds until an absolute CLOCK_MONOTONIC time in microseconds; -1 for none.
int pollTimeout(std::uint64_t deadlineMicros) {
    if (deadlineMicros == std::numeric_limits<std::uint64_t>::max()) {
        return -1;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto nowMicros = static_cast<std::uint64_t>(now.tv_sec) * 1'000'000 +
                           static_cast<std::uint64_t>(now.tv_nsec) / 1000;
    if (deadlineMicros <= nowMicros) {
        return 0;
    }
    return static_cast<int>(std::min<std::uint64_t>((deadlineMicros - nowMicros + 999) / 1000,
                                                    std::numeric_limits<int>::max()));
}

void drainWake(int wake) {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto read = ::read(wake, &count, sizeof count);
}

}  // namespace

BusThread::BusThread(const std::string& address, std::string name, Lifetime lifetime)
    : BusThread(address.empty() ? sdbus::createSystemBusConnection()
                                : sdbus::createSessionBusConnectionWithAddress(address),
                std::move(name), lifetime) {}

BusThread::BusThread(std::unique_ptr<sdbus::IConnection> connection, std::string name,
                     Lifetime lifetime)
    : connection_(std::move(connection)),
      name_(std::move(name)),
      lifetime_(lifetime),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

BusThread::~BusThread() {
    stop();
    if (wake_ >= 0) {
        ::close(wake_);
    }
}

void BusThread::start(std::function<void()> lost) {
    lost_ = std::move(lost);
    thread_ = std::thread([this] {
        try {
            serve();
        } catch (const sdbus::Error& error) {
            PLATFORM_LOG_WARN(name_, ": the bus went away: ", error.what());
            if (lost_) {
                lost_();
            }
            if (lifetime_ == Lifetime::outlivesBus) {
                runAfterLoss();
            }
        }
    });
}

void BusThread::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wake_, &one, sizeof one);
}

void BusThread::stop(Pending pending) {
    if (!thread_.joinable()) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        dropPending_ = pending == Pending::drop;
    }
    post([] {});
    thread_.join();
}

void BusThread::serve() {
    for (;;) {
        while (connection_->processPendingRequest()) {
        }
        std::deque<std::function<void()>> due;
        bool stop = false;
        {
            std::lock_guard lock(mutex_);
            if (stopping_ && dropPending_) {
                return;
            }
            due.swap(tasks_);
            stop = stopping_;
        }
        for (auto& task : due) {
            if (lifetime_ == Lifetime::endsWithBus) {
                task();
                continue;
            }
            try {
                task();
            } catch (const sdbus::Error& error) {
                PLATFORM_LOG_WARN(name_, ": ", error.getName(), ": ", error.getMessage());
            }
        }
        if (stop) {
            return;
        }
        if (!due.empty()) {
            continue;
        }
        const auto data = connection_->getEventLoopPollData();
        pollfd fds[2] = {{data.fd, data.events, 0}, {wake_, POLLIN, 0}};
        ::poll(fds, 2, pollTimeout(data.timeout_usec));
        if ((fds[1].revents & POLLIN) != 0) {
            drainWake(wake_);
        }
    }
}

void BusThread::runAfterLoss() {
    for (;;) {
        std::deque<std::function<void()>> due;
        {
            std::lock_guard lock(mutex_);
            if (stopping_ && (dropPending_ || tasks_.empty())) {
                return;
            }
            due.swap(tasks_);
        }
        for (auto& task : due) {
            try {
                task();
            } catch (const sdbus::Error&) {
            }
        }
        // The wake that brought this work may have been the last: look again before waiting.
        if (!due.empty()) {
            continue;
        }
        pollfd fd{wake_, POLLIN, 0};
        ::poll(&fd, 1, -1);
        drainWake(wake_);
    }
}

}  // namespace platform::dbus
