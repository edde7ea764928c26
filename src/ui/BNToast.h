#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/foundation/Replaceable.h"
#include "platform/host/Banner.h"
#include "platform/image/Image.h"
#include "platform/ui/Accessibility.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Gesture.h"
#include "platform/ui/View.h"

class BNToastView;

// Banner kinds, presentations, animation kinds and directions: plain integers, as stored in
// the options; values outside the named ones keep their documented meaning.
inline constexpr int BNToastTypeStatusBar = 0;
inline constexpr int BNToastTypeNavigationBar = 1;
inline constexpr int BNToastTypeCustom = 2;
inline constexpr int BNToastPresentationCover = 0;
inline constexpr int BNToastPresentationPush = 1;
inline constexpr int BNToastAnimationTypeLinear = 0;
inline constexpr int BNToastAnimationTypeSpring = 1;
inline constexpr int BNToastAnimationTypeGravity = 2;
inline constexpr int BNToastDirectionTop = 0;
inline constexpr int BNToastDirectionBottom = 1;
inline constexpr int BNToastDirectionLeft = 2;
inline constexpr int BNToastDirectionRight = 3;
inline constexpr int BNToastAlignmentLeft = 0;
inline constexpr int BNToastAlignmentCenter = 1;
inline constexpr int BNToastAlignmentRight = 2;

// A display time that keeps the banner until it is dismissed.
inline constexpr double BNToastForever = std::numeric_limits<double>::max();

// Interaction types: the platform banner's bits of single gestures and their unions.
inline constexpr int BNToastInteractionTypeSwipeAnyDirection =
    platform::banner_interaction::swipeAnyDirection;
inline constexpr int BNToastInteractionTypeAnyTap = platform::banner_interaction::anyTap;

// "Swipe Up" ... "Any Tap" for exactly the ten types; nothing for any other value.
[[nodiscard]] inline std::optional<std::string_view> BNToastInteractionTypeName(int type) {
    return platform::banner_interaction::name(type);
}

struct BNToastInteractionResponder {
    int interactionType = 0;
    bool automaticallyDismiss = false;
    std::function<void(int interactionType)> block;

    static BNToastInteractionResponder interactionResponderWithInteractionType(
        int type, bool automaticallyDismiss, std::function<void(int)> block) {
        return {type, automaticallyDismiss, std::move(block)};
    }
};

// A font option: the system font when no family is named.
struct BNToastFont {
    std::string family;
    double size = 12;
    friend bool operator==(const BNToastFont&, const BNToastFont&) = default;
};

using BNToastResponders = std::vector<BNToastInteractionResponder>;
using BNToastViewRef = platform::ui::ViewGuard<platform::ui::View>;

// One option value. Numbers are integers or doubles, interchangeably.
using BNToastValue = std::variant<bool, std::int64_t, double, platform::ui::Size, std::string,
                                  BNToastFont, platform::ui::Color, BNToastViewRef,
                                  platform::image::Image, BNToastResponders>;
using BNToastOptions = std::map<std::string, BNToastValue, std::less<>>;

enum class BNToastValueKind { number, boolean, size, string, font, colour, view, image, list };

// A stable name of each kind, for the log.
[[nodiscard]] std::string_view BNToastValueKindName(BNToastValueKind kind);
[[nodiscard]] BNToastValueKind BNToastKindOf(const BNToastValue& value);

// The option keys, in the key table's order.
#define BN_TOAST_KEY(name) inline constexpr std::string_view name = #name
BN_TOAST_KEY(kBNToastNotificationTypeKey);
BN_TOAST_KEY(kBNToastNotificationPreferredHeightKey);
BN_TOAST_KEY(kBNToastNotificationPresentationTypeKey);
BN_TOAST_KEY(kBNToastUnderStatusBarKey);
BN_TOAST_KEY(kBNToastKeepNavigationBarBorder);
BN_TOAST_KEY(kBNToastIdentifierKey);
BN_TOAST_KEY(kBNToastAnimationInTypeKey);
BN_TOAST_KEY(kBNToastAnimationOutTypeKey);
BN_TOAST_KEY(kBNToastAnimationInDirectionKey);
BN_TOAST_KEY(kBNToastAnimationOutDirectionKey);
BN_TOAST_KEY(kBNToastAnimateInTimeInterval);
BN_TOAST_KEY(kBNToastTimeIntervalKey);
BN_TOAST_KEY(kBNToastAnimateOutTimeInterval);
BN_TOAST_KEY(kBNToastAnimationSpringDampingKey);
BN_TOAST_KEY(kBNToastAnimateSpringVelocityKey);
BN_TOAST_KEY(kBNToastAnimationGravityMagnitudeKey);
BN_TOAST_KEY(kBNToastTextKey);
BN_TOAST_KEY(kBNToastFontKey);
BN_TOAST_KEY(kBNToastTextColorKey);
BN_TOAST_KEY(kBNToastTextAlignmentKey);
BN_TOAST_KEY(kBNToastTextShadowColorKey);
BN_TOAST_KEY(kBNToastTextShadowOffsetKey);
BN_TOAST_KEY(kBNToastTextMaxNumberOfLinesKey);
BN_TOAST_KEY(kBNToastSubtitleTextKey);
BN_TOAST_KEY(kBNToastSubtitleFontKey);
BN_TOAST_KEY(kBNToastSubtitleTextColorKey);
BN_TOAST_KEY(kBNToastSubtitleTextAlignmentKey);
BN_TOAST_KEY(kBNToastSubtitleTextShadowColorKey);
BN_TOAST_KEY(kBNToastSubtitleTextShadowOffsetKey);
BN_TOAST_KEY(kBNToastSubtitleTextMaxNumberOfLinesKey);
BN_TOAST_KEY(kBNToastStatusBarStyleKey);
BN_TOAST_KEY(kBNToastBackgroundColorKey);
BN_TOAST_KEY(kBNToastBackgroundViewKey);
BN_TOAST_KEY(kBNToastImageKey);
BN_TOAST_KEY(kBNToastImageContentModeKey);
BN_TOAST_KEY(kBNToastImageAlignmentKey);
BN_TOAST_KEY(kBNToastShowActivityIndicatorKey);
BN_TOAST_KEY(kBNToastActivityIndicatorViewStyleKey);
BN_TOAST_KEY(kBNToastActivityIndicatorAlignmentKey);
BN_TOAST_KEY(kBNToastInteractionRespondersKey);
BN_TOAST_KEY(kBNToastForceUserInteractionKey);
BN_TOAST_KEY(kBNToastAutorotateKey);
BN_TOAST_KEY(kBNToastCaptureDefaultWindowKey);
#undef BN_TOAST_KEY

struct BNToastKeyKind {
    std::string_view key;
    BNToastValueKind kind;
};
// Every key with the kind of value it accepts.
[[nodiscard]] const std::array<BNToastKeyKind, 43>& BNToastKeyTable();

// What the banner geometry reads of the screen beside its width: the status bar and the
// interface orientation (1, 2 portrait; 3, 4 landscape) with the horizontal size class.
struct BNToastScreenTraits : platform::Replaceable<BNToastScreenTraits> {
    double statusBarHeight = 20;
    int orientation = 1;
    bool horizontalRegular = false;
    bool tablet = false;

    // The installed traits, else a portrait phone with a 20-point status bar.
    static BNToastScreenTraits& current();
};

// Banner width, and banner height for a kind, preferred height and orientation.
[[nodiscard]] double BNToastBannerWidth();
[[nodiscard]] double BNToastBannerHeight(int kind, double preferredHeight, int orientation);

enum class BNToastState { waiting = 0, entering = 1, displaying = 2, exiting = 3, completed = 4 };

// A recogniser a banner asks for: a swipe one way or a tap of a number of fingers and taps,
// standing for its interaction type.
struct BNToastGestureRecognizer {
    enum class Kind { swipe, tap };
    Kind kind = Kind::tap;
    platform::ui::SwipeDirection direction = platform::ui::SwipeDirection::right;
    int touchesRequired = 1;
    int tapsRequired = 1;
    int interactionType = 0;
    bool automaticallyDismiss = false;
    std::function<void(int)> block;
    bool enabled = true;

    [[nodiscard]] bool matches(const platform::ui::Gesture& gesture) const;
};

// One banner: its validated options, defaults for what they leave out, its geometry and
// where it is in its life.
class BNToast {
public:
    static std::shared_ptr<BNToast> notificationWithOptions(BNToastOptions options,
                                                           std::function<void()> appearance,
                                                           std::function<void()> completion);
    ~BNToast();
    BNToast(const BNToast&) = delete;
    BNToast& operator=(const BNToast&) = delete;

    // Replaces the process-wide default of each key given (except the navigation-bar border's).
    static void setDefaultOptions(const BNToastOptions& options);
    // Back to the built-in defaults.
    static void restoreDefaultOptions();
    // The process-wide default of a key.
    [[nodiscard]] static const BNToastValue* defaultOption(std::string_view key);

    // Drops (and logs) unknown keys and values of the wrong kind, then warns about odd choices.
    void setOptions(BNToastOptions options);
    [[nodiscard]] const BNToastOptions& options() const { return options_; }

    [[nodiscard]] const std::string& uuid() const { return uuid_; }
    [[nodiscard]] BNToastState state() const { return state_; }
    void setState(BNToastState state) { state_ = state; }
    [[nodiscard]] const std::function<void()>& completion() const { return completion_; }
    [[nodiscard]] const std::function<void()>& appearance() const { return appearance_; }

    // The option, else its default.
    [[nodiscard]] int notificationType() const { return integer(kBNToastNotificationTypeKey); }
    [[nodiscard]] double preferredHeight() const;
    void setPreferredHeight(double height) { preferredHeight_ = height; }
    [[nodiscard]] int presentationType() const { return integer(kBNToastNotificationPresentationTypeKey); }
    [[nodiscard]] bool displayUnderStatusBar() const { return boolean(kBNToastUnderStatusBarKey); }
    [[nodiscard]] bool shouldKeepNavigationBarBorder() const { return boolean(kBNToastKeepNavigationBarBorder); }
    [[nodiscard]] std::optional<std::string> identifier() const;
    [[nodiscard]] int inAnimationType() const { return integer(kBNToastAnimationInTypeKey); }
    [[nodiscard]] int outAnimationType() const { return integer(kBNToastAnimationOutTypeKey); }
    [[nodiscard]] int inAnimationDirection() const { return integer(kBNToastAnimationInDirectionKey); }
    [[nodiscard]] int outAnimationDirection() const { return integer(kBNToastAnimationOutDirectionKey); }
    [[nodiscard]] double animateInTimeInterval() const { return number(kBNToastAnimateInTimeInterval); }
    [[nodiscard]] double timeInterval() const { return number(kBNToastTimeIntervalKey); }
    [[nodiscard]] double animateOutTimeInterval() const { return number(kBNToastAnimateOutTimeInterval); }
    [[nodiscard]] float animationSpringDamping() const { return float(number(kBNToastAnimationSpringDampingKey)); }
    [[nodiscard]] float animationSpringInitialVelocity() const { return float(number(kBNToastAnimateSpringVelocityKey)); }
    [[nodiscard]] float animationGravityMagnitude() const { return float(number(kBNToastAnimationGravityMagnitudeKey)); }
    [[nodiscard]] std::string text() const { return string(kBNToastTextKey).value_or(""); }
    [[nodiscard]] BNToastFont font() const { return get<BNToastFont>(kBNToastFontKey).value_or(BNToastFont{}); }
    [[nodiscard]] platform::ui::Color textColor() const { return colour(kBNToastTextColorKey).value_or(white()); }
    [[nodiscard]] int textAlignment() const { return integer(kBNToastTextAlignmentKey); }
    [[nodiscard]] std::optional<platform::ui::Color> textShadowColor() const { return colour(kBNToastTextShadowColorKey); }
    [[nodiscard]] platform::ui::Size textShadowOffset() const { return size(kBNToastTextShadowOffsetKey); }
    [[nodiscard]] int textMaxNumberOfLines() const { return integer(kBNToastTextMaxNumberOfLinesKey); }
    [[nodiscard]] std::optional<std::string> subtitleText() const { return string(kBNToastSubtitleTextKey); }
    [[nodiscard]] BNToastFont subtitleFont() const { return get<BNToastFont>(kBNToastSubtitleFontKey).value_or(BNToastFont{}); }
    [[nodiscard]] platform::ui::Color subtitleTextColor() const { return colour(kBNToastSubtitleTextColorKey).value_or(white()); }
    [[nodiscard]] int subtitleTextAlignment() const { return integer(kBNToastSubtitleTextAlignmentKey); }
    [[nodiscard]] std::optional<platform::ui::Color> subtitleTextShadowColor() const { return colour(kBNToastSubtitleTextShadowColorKey); }
    [[nodiscard]] platform::ui::Size subtitleTextShadowOffset() const { return size(kBNToastSubtitleTextShadowOffsetKey); }
    [[nodiscard]] int subtitleTextMaxNumberOfLines() const { return integer(kBNToastSubtitleTextMaxNumberOfLinesKey); }
    [[nodiscard]] int statusBarStyle() const { return integer(kBNToastStatusBarStyleKey); }
    [[nodiscard]] platform::ui::Color backgroundColor() const { return colour(kBNToastBackgroundColorKey).value_or(platform::ui::Color{1, 0, 0, 1}); }
    // The option only: a default background view is not honoured.
    [[nodiscard]] platform::ui::View* backgroundView() const;
    [[nodiscard]] std::optional<platform::image::Image> image() const { return get<platform::image::Image>(kBNToastImageKey); }
    [[nodiscard]] int imageContentMode() const { return integer(kBNToastImageContentModeKey); }
    [[nodiscard]] int imageAlignment() const { return integer(kBNToastImageAlignmentKey); }
    [[nodiscard]] bool showActivityIndicator() const { return boolean(kBNToastShowActivityIndicatorKey); }
    [[nodiscard]] int activityIndicatorViewStyle() const { return integer(kBNToastActivityIndicatorViewStyleKey); }
    [[nodiscard]] int activityViewAlignment() const { return integer(kBNToastActivityIndicatorAlignmentKey); }
    [[nodiscard]] BNToastResponders interactionResponders() const;
    [[nodiscard]] bool forceUserInteraction() const { return boolean(kBNToastForceUserInteractionKey); }
    [[nodiscard]] bool autorotate() const;
    void setAutorotate(bool autorotate) { autorotate_ = autorotate; }
    [[nodiscard]] bool snapshotWindow() const { return boolean(kBNToastCaptureDefaultWindowKey); }

    // Geometry, for the banner's kind and the current orientation.
    [[nodiscard]] platform::ui::Rect notificationViewAnimationFrame1() const;
    [[nodiscard]] platform::ui::Rect notificationViewAnimationFrame2() const;
    [[nodiscard]] platform::ui::Rect statusBarViewAnimationFrame1() const;
    [[nodiscard]] platform::ui::Rect statusBarViewAnimationFrame2() const;
    [[nodiscard]] platform::ui::Point inGravityDirection() const;
    [[nodiscard]] platform::ui::Point outGravityDirection() const;
    [[nodiscard]] std::optional<platform::ui::Point> inCollisionPoint1() const;
    [[nodiscard]] std::optional<platform::ui::Point> inCollisionPoint2() const;
    [[nodiscard]] std::optional<platform::ui::Point> outCollisionPoint1() const;
    [[nodiscard]] std::optional<platform::ui::Point> outCollisionPoint2() const;

    // The default responders once, then the banner's own; made anew at each call.
    [[nodiscard]] std::vector<BNToastGestureRecognizer> gestureRecognizers() const;
    [[nodiscard]] static std::vector<BNToastGestureRecognizer> gestureRecognizersForInteractionResponder(
        const BNToastResponders& responders);

    // The banner's views, made on first use; they live as long as the banner. The strip is a
    // picture of `screen` taken when first asked for (when snapshotWindow holds).
    BNToastView& notificationView();
    platform::ui::View& statusBarView(QWidget* screen);
    [[nodiscard]] platform::ui::View* existingStatusBarView() const { return statusBarView_.data(); }

private:
    BNToast() = default;
    void warnAboutSensibility() const;
    [[nodiscard]] const BNToastValue* option(std::string_view key) const;
    template <typename T>
    [[nodiscard]] std::optional<T> get(std::string_view key) const {
        if (const auto* value = option(key)) {
            if (const auto* typed = std::get_if<T>(value)) {
                return *typed;
            }
        }
        return std::nullopt;
    }
    [[nodiscard]] double number(std::string_view key) const;
    [[nodiscard]] int integer(std::string_view key) const { return static_cast<int>(number(key)); }
    [[nodiscard]] bool boolean(std::string_view key) const { return get<bool>(key).value_or(false); }
    [[nodiscard]] std::optional<std::string> string(std::string_view key) const { return get<std::string>(key); }
    [[nodiscard]] std::optional<platform::ui::Color> colour(std::string_view key) const { return get<platform::ui::Color>(key); }
    [[nodiscard]] platform::ui::Size size(std::string_view key) const { return get<platform::ui::Size>(key).value_or(platform::ui::Size{}); }
    static platform::ui::Color white() { return {1, 1, 1, 1}; }
    [[nodiscard]] platform::ui::Rect frameFor(int direction) const;
    [[nodiscard]] std::optional<platform::ui::Point> collisionPoint(bool in, int which) const;

    std::string uuid_;
    BNToastState state_ = BNToastState::waiting;
    BNToastOptions options_;
    std::function<void()> completion_;
    std::function<void()> appearance_;
    std::optional<bool> autorotate_;
    std::optional<double> preferredHeight_;
    platform::ui::ViewGuard<BNToastView> notificationView_;
    platform::ui::ViewGuard<platform::ui::View> statusBarView_;
};
