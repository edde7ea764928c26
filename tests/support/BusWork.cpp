#include "support/BusWork.h"

#include <future>

namespace testing_support {

void runOnBus(platform::dbus::BusThread& thread, const std::function<void()>& task) {
    std::promise<void> done;
    thread.post([&task, &done] {
        try {
            task();
        } catch (const sdbus::Error&) {
        }
        done.set_value();
    });
    done.get_future().wait();
}

}  // namespace testing_support
