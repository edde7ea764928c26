#pragma once

#include <functional>

#include "platform/dbus/BusThread.h"

namespace testing_support {

// Runs task on the bus thread and waits for it, so that a test's next step sees its effect. A
// bus error in it ends the task and nothing more: a fake service's step that fails is seen in
// what the test reads back.
void runOnBus(platform::dbus::BusThread& thread, const std::function<void()>& task);

}  // namespace testing_support
