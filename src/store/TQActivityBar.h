#pragma once

#include <cstdint>
#include <string_view>

#include "platform/foundation/Value.h"

// The download and install activity bar and the operation that drives it know each other only
// by these notifications of the default centre, all posted on the main thread with no object.
namespace TQActivityBar {

// Operation to bar.
inline constexpr const char* kShow = "ACTIVITY_BAR_SHOW";
inline constexpr const char* kHide = "ACTIVITY_BAR_HIDE";
inline constexpr const char* kProgress = "ACTIVITY_BAR_PROGRESS";
inline constexpr const char* kShowCancelButton = "ACTIVITY_BAR_SHOW_CANCEL_BUTTON";
inline constexpr const char* kHideCancelButton = "ACTIVITY_BAR_HIDE_CANCEL_BUTTON";
// Bar to every running operation: the user touched the cancel button.
inline constexpr const char* kCancel = "ACTIVITY_BAR_CANCEL";

// The user information of kProgress; it always carries all three.
inline constexpr const char* kProgressTypeKey = "kActivity_progress_type";
inline constexpr const char* kProgressValueKey = "kActivity_progress_value";
inline constexpr const char* kAppNameKey = "kActivity_app_name";

enum ProgressType : std::uint32_t { kDownloading = 1, kInstalling = 2 };

// {type, value as a fraction of 1, display name}.
[[nodiscard]] inline platform::Value progressInfo(ProgressType type, float value,
                                                  std::string_view appName) {
    return platform::Value{{kProgressTypeKey, static_cast<unsigned>(type)},
                           {kProgressValueKey, static_cast<double>(value)},
                           {kAppNameKey, appName}};
}
// The install phase begins with the whole number 0, not a real.
[[nodiscard]] inline platform::Value installStartInfo(std::string_view appName) {
    return platform::Value{{kProgressTypeKey, static_cast<unsigned>(kInstalling)},
                           {kProgressValueKey, 0},
                           {kAppNameKey, appName}};
}

}  // namespace TQActivityBar
