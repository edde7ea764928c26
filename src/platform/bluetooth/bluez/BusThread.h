#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace platform::bluetooth::bluez {

// One bus connection and the one thread that touches it: the bus library is not made for
// calls from several threads at once, so everything else hands its work over with post().
class BusThread {
public:
    // The system bus, or the bus at `address`. Throws sdbus::Error when it cannot connect.
    explicit BusThread(const std::string& address);
    // Stops the thread first, so no handler runs while the owner's objects go.
    ~BusThread();
    BusThread(const BusThread&) = delete;
    BusThread& operator=(const BusThread&) = delete;

    // Before start() and on the bus thread only.
    [[nodiscard]] sdbus::IConnection& connection() { return *connection_; }
    // Serves the bus until destruction or until the bus goes away; then `lost` runs, on the
    // bus thread.
    void start(std::function<void()> lost);
    void post(std::function<void()> task);
    // Ends the thread after the work handed over so far; the owner then takes down what it made
    // on the thread, before the connection goes.
    void stop();

private:
    void serve();

    std::unique_ptr<sdbus::IConnection> connection_;
    int wake_ = -1;
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::function<void()> lost_;
    std::thread thread_;
};

}  // namespace platform::bluetooth::bluez
