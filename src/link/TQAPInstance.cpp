#include "link/TQAP.h"
#include "link/TQBleManager.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"

TQAP& TQAP::initializeWithANCS(bool /*ancs*/) {
    // Made on first use and never destroyed: the link lives for the whole process.
    static TQAP* const shared =
        new TQAP(TQBleManager::initialize(kServiceUUID), platform::RunLoop::main(),
                 platform::UserDefaults::standard());
    return *shared;
}
