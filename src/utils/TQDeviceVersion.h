#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

// Which phone, tablet or player model the application runs on, from the hardware code the
// system reports, and the class of its screen. No state but the table.
class TQDeviceVersion {
public:
    TQDeviceVersion() = delete;

    // Hardware code ("iPhone8,2") to model number; made once, shared, never changed.
    [[nodiscard]] static const std::unordered_map<std::string_view, int>& deviceNamesByCode();

    // The model number of this device (platform::DeviceInfo's machine), 0 when the table does
    // not know its code: the simulator, and every machine this runs on outside a phone.
    [[nodiscard]] static int deviceVersion();
    [[nodiscard]] static int deviceVersion(std::string_view code);

    // The hardware code itself, or "Simulator" for "x86_64" and "i386".
    [[nodiscard]] static std::string deviceName();
    [[nodiscard]] static std::string deviceName(std::string_view code);

    // The model's family name ("iPhone6") for a hardware code, else "iPod Touch", "iPad" or
    // "iPhone" by what the code contains; nothing for any other code.
    [[nodiscard]] static std::optional<std::string> familyName(std::string_view code);

    // The main screen in points, as the system reports its bounds, and its scale factor.
    struct Screen {
        double width = 0;
        double height = 0;
        double scale = 1;
    };
    // The class of a screen by its longer side: 1 for 480 points, 2 for 568, 3 for 667 (4 when
    // its scale is above 2.9), 4 for 736, 0 for any other. Systems before version 8 report the
    // bounds in portrait whatever the orientation, so only the height counts there.
    [[nodiscard]] static int deviceSize(const Screen& screen, std::string_view systemVersion);
};
