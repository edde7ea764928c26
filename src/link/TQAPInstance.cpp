#include "link/TQAP.h"
#include "link/TQBleManager.h"

TQAP& TQAP::initializeWithANCS(bool /*ancs*/) {
    return installedInstance("TQAP");
}

TQBleManager& TQBleManager::initialize(std::string_view /*serviceUuid*/) {
    return installedInstance("TQBleManager");
}
