#pragma once

// The notifications between a watch application's download-and-install operation and the
// activity bar of the root navigation, posted with no object on the default centre. The bar
// knows them by name only; it never refers to the operation.
namespace activity_bar {

inline constexpr const char* kShow = "ACTIVITY_BAR_SHOW";
inline constexpr const char* kHide = "ACTIVITY_BAR_HIDE";
// User information: kProgressType, kProgressValue, kAppName.
inline constexpr const char* kProgress = "ACTIVITY_BAR_PROGRESS";
inline constexpr const char* kShowCancelButton = "ACTIVITY_BAR_SHOW_CANCEL_BUTTON";
inline constexpr const char* kHideCancelButton = "ACTIVITY_BAR_HIDE_CANCEL_BUTTON";
// From the bar's cancel button to every running operation.
inline constexpr const char* kCancel = "ACTIVITY_BAR_CANCEL";

// 1 while the package downloads, 2 while it is installed on the watch.
inline constexpr const char* kProgressType = "kActivity_progress_type";
// The fraction 0.0-1.0.
inline constexpr const char* kProgressValue = "kActivity_progress_value";
inline constexpr const char* kAppName = "kActivity_app_name";

}  // namespace activity_bar
