#pragma once

#include <cstdint>

// The link status codes the Bluetooth roles report to the Bluetooth manager. Code 9 is not
// used; codes above 15 do not occur.
enum TQBLEStatus : std::uint64_t {
    TQBLEStatus_Peripheral_Connect = 0,
    TQBLEStatus_Peripheral_Disconnect = 1,
    TQBLEStatus_Connect = 2,
    TQBLEStatus_disconnect = 3,
    TQBLEStatus_AutoConnecting = 4,
    TQBLEStatus_RestoreConnect = 5,
    TQBLEStatus_StartScan = 6,
    TQBLEStatus_StopScan = 7,
    TQBLEStatus_StartAdv = 8,
    TQBLEStatus_Central_On = 10,
    TQBLEStatus_Central_Off = 11,
    TQBLEStatus_Peripheral_On = 12,
    TQBLEStatus_Peripheral_Off = 13,
    TQBLEStatus_Peripheral_Resetting = 14,
    TQBLEStatus_ServiceAdded = 15,
};
