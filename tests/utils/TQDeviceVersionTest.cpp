#include <gtest/gtest.h>

#include "platform/system/DeviceInfo.h"
#include "utils/TQDeviceVersion.h"

namespace {

TEST(TQDeviceVersionTest, EveryCodeOfTheTableAndTheFallbacks) {
    const struct {
        const char* code;
        int model;
    } table[] = {
        {"i386", 0},      {"x86_64", 0},     {"iPhone3,1", 3},  {"iPhone3,2", 3}, {"iPhone3,3", 3},
        {"iPhone4,1", 4}, {"iPhone4,2", 4},  {"iPhone4,3", 4},  {"iPhone5,1", 5}, {"iPhone5,2", 5},
        {"iPhone5,3", 6}, {"iPhone5,4", 6},  {"iPhone6,1", 7},  {"iPhone6,2", 7}, {"iPhone7,2", 8},
        {"iPhone7,1", 9}, {"iPhone8,1", 10}, {"iPhone8,2", 11}, {"iPad1,1", 12},  {"iPad2,1", 13},
        {"iPad2,2", 13},  {"iPad2,3", 13},   {"iPad2,4", 13},   {"iPad2,5", 14},  {"iPad2,6", 14},
        {"iPad2,7", 14},  {"iPad3,1", 15},   {"iPad3,2", 15},   {"iPad3,3", 15},  {"iPad3,4", 16},
        {"iPad3,5", 16},  {"iPad3,6", 16},   {"iPad4,1", 17},   {"iPad4,2", 17},  {"iPad4,3", 17},
        {"iPad4,4", 18},  {"iPad4,5", 18},   {"iPad4,6", 18},   {"iPad5,3", 19},  {"iPad5,4", 19},
        {"iPad4,7", 20},  {"iPad4,8", 20},   {"iPad4,9", 20},   {"iPad5,1", 21},  {"iPad5,2", 21},
        {"iPad6,8", 22},  {"iPod1,1", 23},   {"iPod2,1", 24},   {"iPod3,1", 25},  {"iPod4,1", 26},
        {"iPod5,1", 27},  {"iPod7,1", 28},
    };
    EXPECT_EQ(std::size(table), 52U);
    EXPECT_EQ(TQDeviceVersion::deviceNamesByCode().size(), 52U);
    platform::FixedDeviceInfo device("phone");
    platform::ScopedInstall<platform::DeviceInfo> installed(&device);
    for (const auto& row : table) {
        SCOPED_TRACE(row.code);
        device.setMachineIdentifier(row.code);
        EXPECT_EQ(TQDeviceVersion::deviceVersion(), row.model);
        EXPECT_EQ(TQDeviceVersion::deviceNamesByCode().at(row.code), row.model);
    }
    // Codes the table does not know, this machine's among them.
    for (const char* unknown : {"aarch64", "iPhone9,1", "", "iphone8,2", "iPhone8,2 "}) {
        device.setMachineIdentifier(unknown);
        EXPECT_EQ(TQDeviceVersion::deviceVersion(), 0) << unknown;
    }
    device.setMachineIdentifier("x86_64");
    EXPECT_EQ(TQDeviceVersion::deviceName(), "Simulator");
    EXPECT_EQ(TQDeviceVersion::deviceName("i386"), "Simulator");
    EXPECT_EQ(TQDeviceVersion::deviceName("iPhone8,2"), "iPhone8,2");
    EXPECT_EQ(TQDeviceVersion::deviceName("aarch64"), "aarch64");
}

TEST(TQDeviceVersionTest, ScreenSizeClasses) {
    const struct {
        double width, height, scale;
        const char* system;
        int expected;
    } table[] = {
        {320, 480, 2, "9.0", 1},
        {320, 568, 2, "9.0", 2},
        {568, 320, 2, "9.0", 2},
        {375, 667, 2, "8.4", 3},
        {375, 667, 3, "9.0", 4},
        {414, 736, 3, "9.0", 4},
        {375, 812, 3, "11", 0},
        {1024, 768, 2, "10.3", 0},
        {568, 320, 2, "7.1", 0},
        {320, 568, 2, "7.1", 2},
        {667, 375, 2, "8", 3},
        {667, 375, 2, "12", 3},
        {480, 320, 2, "6.1.0-18-amd64", 0},
    };
    for (const auto& row : table) {
        EXPECT_EQ(TQDeviceVersion::deviceSize({row.width, row.height, row.scale}, row.system),
                  row.expected)
            << row.width << "x" << row.height << " @" << row.scale << " on " << row.system;
    }
}

}  // namespace
