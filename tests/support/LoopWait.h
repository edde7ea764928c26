#pragma once

#include <functional>

#include "platform/foundation/RunLoop.h"

namespace testing_support {

// Drives the loop until done() holds. Work from other threads (a network thread, a pool)
// wakes it; if done() still fails after `boundSeconds` of real time, a watchdog stops the
// loop so the test fails instead of hanging. Returns done().
bool runLoopUntil(platform::RunLoop& loop, const std::function<bool()>& done,
                  double boundSeconds = 30);

}  // namespace testing_support
