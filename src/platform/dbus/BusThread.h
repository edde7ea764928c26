#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace platform::dbus {

// One bus connection and the one thread that touches it: the bus library is not made for
// calls from several threads at once, so everything else hands its work over with post().
class BusThread {
public:
    // What a failure does to the thread.
    enum class Lifetime {
        // A failing call is that call's business; once the bus is gone the thread stays to run
        // what is handed over, so that objects made on it are taken down on it too.
        outlivesBus,
        // A failing call ends the bus as its going away does, and the thread ends with the bus.
        endsWithBus,
    };
    // What stop() does with work handed over that has not begun.
    enum class Pending { run, drop };

    // The system bus, or the bus at `address`; `name` leads its log lines. Throws sdbus::Error
    // when it cannot connect.
    BusThread(const std::string& address, std::string name,
              Lifetime lifetime = Lifetime::outlivesBus);
    // A connection made elsewhere (the session bus of the environment, say).
    BusThread(std::unique_ptr<sdbus::IConnection> connection, std::string name,
              Lifetime lifetime = Lifetime::outlivesBus);
    // Stops the thread first, so no handler runs while the owner's objects go.
    ~BusThread();
    BusThread(const BusThread&) = delete;
    BusThread& operator=(const BusThread&) = delete;

    // Before start() and on the bus thread only.
    [[nodiscard]] sdbus::IConnection& connection() { return *connection_; }
    // Serves the bus until stopped or until the bus goes away; then `lost` runs, on the bus
    // thread.
    void start(std::function<void()> lost);
    void post(std::function<void()> task);
    // Ends the thread; the owner then takes down what it made on the thread, before the
    // connection goes.
    void stop(Pending pending = Pending::run);

private:
    void serve();
    void runAfterLoss();

    std::unique_ptr<sdbus::IConnection> connection_;
    const std::string name_;
    const Lifetime lifetime_;
    int wake_ = -1;
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    bool dropPending_ = false;
    std::function<void()> lost_;
    std::thread thread_;
};

}  // namespace platform::dbus
