#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/image/Image.h"
#include "platform/ui/View.h"

// Where a toast's centre goes: one of the three position names (any letter case), or a point
// in the host view. Any other name means the bottom.
using TSToastPosition = std::variant<std::string, platform::ui::Point>;
inline constexpr std::string_view TSToastPositionTop = "TSToastPositionTop";
inline constexpr std::string_view TSToastPositionCenter = "TSToastPositionCenter";
inline constexpr std::string_view TSToastPositionBottom = "TSToastPositionBottom";

struct TSToastFont {
    double size = 16;
    bool bold = false;
    friend bool operator==(const TSToastFont&, const TSToastFont&) = default;
};

// How toasts look. Only initWithDefaultStyle makes one.
class TSToastStyle {
public:
    static TSToastStyle initWithDefaultStyle() { return TSToastStyle(); }

    bool displayShadow = false;
    platform::ui::Color backgroundColor{0, 0, 0, 0.8};
    platform::ui::Color titleColor{1, 1, 1, 1};
    platform::ui::Color messageColor{1, 1, 1, 1};
    double horizontalPadding = 10.0;
    double verticalPadding = 10.0;
    double cornerRadius = 10.0;
    TSToastFont titleFont{16.0, true};
    TSToastFont messageFont{16.0, false};
    std::int64_t titleAlignment = 0;
    std::int64_t messageAlignment = 0;
    std::int64_t titleNumberOfLines = 0;
    std::int64_t messageNumberOfLines = 0;
    std::optional<platform::ui::Color> shadowColor;
    double shadowOpacity = 0.8;
    double shadowRadius = 6.0;
    double fadeDuration = 0.2;
    platform::ui::Size shadowOffset{4.0, 4.0};
    platform::ui::Size imageSize{80.0, 80.0};
    platform::ui::Size activitySize{100.0, 100.0};

    // Shares of the host's size; clamped to 0 .. 1.
    void setMaxWidthPercentage(double value);
    void setMaxHeightPercentage(double value);
    [[nodiscard]] double maxWidthPercentage() const { return maxWidthPercentage_; }
    [[nodiscard]] double maxHeightPercentage() const { return maxHeightPercentage_; }

private:
    TSToastStyle() = default;
    double maxWidthPercentage_ = 0.8;
    double maxHeightPercentage_ = 0.8;
};

// The toast settings of the process.
class TSToastManager {
public:
    static TSToastManager& sharedManager();

    static void setSharedStyle(const TSToastStyle& style) { sharedManager().sharedStyle_ = style; }
    static const TSToastStyle& sharedStyle() { return sharedManager().sharedStyle_; }
    static void setTapToDismissEnabled(bool enabled) { sharedManager().tapToDismiss_ = enabled; }
    static bool isTapToDismissEnabled() { return sharedManager().tapToDismiss_; }
    static void setQueueEnabled(bool enabled) { sharedManager().queue_ = enabled; }
    static bool isQueueEnabled() { return sharedManager().queue_; }
    static void setDefaultDuration(double seconds) { sharedManager().duration_ = seconds; }
    static double defaultDuration() { return sharedManager().duration_; }
    static void setDefaultPosition(TSToastPosition position) {
        sharedManager().position_ = std::move(position);
    }
    static const TSToastPosition& defaultPosition() { return sharedManager().position_; }

private:
    TSToastManager() = default;
    TSToastStyle sharedStyle_ = TSToastStyle::initWithDefaultStyle();
    bool tapToDismiss_ = true;
    bool queue_ = true;
    double duration_ = 3.0;
    TSToastPosition position_ = std::string(TSToastPositionBottom);
};

// Toasts on any view: a rounded box with a message, a title and an image, faded in at a
// position, kept for a time on the main run loop and faded out; later ones wait in the view's
// queue. Also one centred activity box per view. Main thread only.
namespace TSToast {

// completion: whether a tap dismissed the toast.
using Completion = std::function<void(bool didTap)>;

void makeToast(platform::ui::View& host, std::string_view message);
void makeToast(platform::ui::View& host, std::string_view message, double duration,
               const TSToastPosition& position);
void makeToast(platform::ui::View& host, std::string_view message, double duration,
               const TSToastPosition& position, const std::optional<TSToastStyle>& style);
void makeToast(platform::ui::View& host, std::optional<std::string_view> message,
               double duration, const TSToastPosition& position,
               std::optional<std::string_view> title,
               std::optional<platform::image::Image> image,
               const std::optional<TSToastStyle>& style, Completion completion);

// A toast not yet shown; null when message, title and image are all missing.
[[nodiscard]] platform::ui::View* toastViewForMessage(platform::ui::View& host,
                                                      std::optional<std::string_view> message,
                                                      std::optional<std::string_view> title,
                                                      std::optional<platform::image::Image> image,
                                                      const std::optional<TSToastStyle>& style);

void showToast(platform::ui::View& host, platform::ui::View* toast);
void showToast(platform::ui::View& host, platform::ui::View* toast, double duration,
               const TSToastPosition& position, Completion completion);

void makeToastActivity(platform::ui::View& host, const TSToastPosition& position);
void hideToastActivity(platform::ui::View& host);

// What the host shows: its toast, its queue's length and its activity box.
[[nodiscard]] platform::ui::View* activeToast(platform::ui::View& host);
[[nodiscard]] std::size_t queuedToasts(platform::ui::View& host);
[[nodiscard]] platform::ui::View* activityView(platform::ui::View& host);

// A tap on a toast of the host.
void handleToastTapped(platform::ui::View& host, platform::ui::View& toast);

[[nodiscard]] platform::ui::Point centerPointForPosition(const platform::ui::View& host,
                                                         const TSToastPosition& position,
                                                         const platform::ui::View& toast);

}  // namespace TSToast
