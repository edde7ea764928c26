#include "ui/BNToast.h"

#include <cstdio>
#include <random>

#include "logging/LGLog.h"
#include "platform/ui/TextMetrics.h"
#include "ui/BNToastView.h"

namespace ui = platform::ui;

std::string_view BNToastValueKindName(BNToastValueKind kind) {
    switch (kind) {
        case BNToastValueKind::number: return "Number";
        case BNToastValueKind::boolean: return "Boolean";
        case BNToastValueKind::size: return "Size";
        case BNToastValueKind::string: return "String";
        case BNToastValueKind::font: return "Font";
        case BNToastValueKind::colour: return "Color";
        case BNToastValueKind::view: return "View";
        case BNToastValueKind::image: return "Image";
        case BNToastValueKind::list: return "Array";
    }
    return "Unknown";
}

BNToastValueKind BNToastKindOf(const BNToastValue& value) {
    static constexpr std::array<BNToastValueKind, std::variant_size_v<BNToastValue>> kinds{
        BNToastValueKind::boolean, BNToastValueKind::number, BNToastValueKind::number,
        BNToastValueKind::size,    BNToastValueKind::string, BNToastValueKind::font,
        BNToastValueKind::colour,  BNToastValueKind::view,   BNToastValueKind::image,
        BNToastValueKind::list};
    return kinds[value.index()];
}

const std::array<BNToastKeyKind, 43>& BNToastKeyTable() {
    using K = BNToastValueKind;
    static const std::array<BNToastKeyKind, 43> table{{
        {kBNToastNotificationTypeKey, K::number},
        {kBNToastNotificationPreferredHeightKey, K::number},
        {kBNToastNotificationPresentationTypeKey, K::number},
        {kBNToastUnderStatusBarKey, K::boolean},
        {kBNToastKeepNavigationBarBorder, K::boolean},
        {kBNToastIdentifierKey, K::string},
        {kBNToastAnimationInTypeKey, K::number},
        {kBNToastAnimationOutTypeKey, K::number},
        {kBNToastAnimationInDirectionKey, K::number},
        {kBNToastAnimationOutDirectionKey, K::number},
        {kBNToastAnimateInTimeInterval, K::number},
        {kBNToastTimeIntervalKey, K::number},
        {kBNToastAnimateOutTimeInterval, K::number},
        {kBNToastAnimationSpringDampingKey, K::number},
        {kBNToastAnimateSpringVelocityKey, K::number},
        {kBNToastAnimationGravityMagnitudeKey, K::number},
        {kBNToastTextKey, K::string},
        {kBNToastFontKey, K::font},
        {kBNToastTextColorKey, K::colour},
        {kBNToastTextAlignmentKey, K::number},
        {kBNToastTextShadowColorKey, K::colour},
        {kBNToastTextShadowOffsetKey, K::size},
        {kBNToastTextMaxNumberOfLinesKey, K::number},
        {kBNToastSubtitleTextKey, K::string},
        {kBNToastSubtitleFontKey, K::font},
        {kBNToastSubtitleTextColorKey, K::colour},
        {kBNToastSubtitleTextAlignmentKey, K::number},
        {kBNToastSubtitleTextShadowColorKey, K::colour},
        {kBNToastSubtitleTextShadowOffsetKey, K::size},
        {kBNToastSubtitleTextMaxNumberOfLinesKey, K::number},
        {kBNToastStatusBarStyleKey, K::number},
        {kBNToastBackgroundColorKey, K::colour},
        {kBNToastBackgroundViewKey, K::view},
        {kBNToastImageKey, K::image},
        {kBNToastImageContentModeKey, K::number},
        {kBNToastImageAlignmentKey, K::number},
        {kBNToastShowActivityIndicatorKey, K::boolean},
        {kBNToastActivityIndicatorViewStyleKey, K::number},
        {kBNToastActivityIndicatorAlignmentKey, K::number},
        {kBNToastInteractionRespondersKey, K::list},
        {kBNToastForceUserInteractionKey, K::boolean},
        {kBNToastAutorotateKey, K::boolean},
        {kBNToastCaptureDefaultWindowKey, K::boolean},
    }};
    return table;
}

BNToastScreenTraits& BNToastScreenTraits::current() {
    return installedOr([]() -> BNToastScreenTraits& {
        static BNToastScreenTraits traits;
        return traits;
    });
}

double BNToastBannerWidth() { return ui::Screen::main().bounds().width; }

double BNToastBannerHeight(int kind, double preferredHeight, int orientation) {
    const auto& traits = BNToastScreenTraits::current();
    switch (kind) {
        case BNToastTypeStatusBar:
            return traits.statusBarHeight;
        case BNToastTypeNavigationBar:
            if (orientation == 1 || orientation == 2 || traits.horizontalRegular || traits.tablet) {
                return traits.statusBarHeight + 45;
            }
            return traits.statusBarHeight + 33;
        default:
            return preferredHeight;
    }
}

bool BNToastGestureRecognizer::matches(const ui::Gesture& gesture) const {
    if (kind == Kind::swipe) {
        return gesture.kind == ui::Gesture::Kind::swipe && gesture.direction == direction &&
               gesture.touches == 1;
    }
    return gesture.kind == ui::Gesture::Kind::tap && gesture.touches == touchesRequired &&
           gesture.taps == tapsRequired;
}

namespace {

BNToastOptions builtInDefaults() {
    const BNToastFont system{"", 12};
    const ui::Color white{1, 1, 1, 1};
    // The main window has no tint colour of its own.
    const ui::Color red{1, 0, 0, 1};
    return BNToastOptions{
        {std::string(kBNToastNotificationTypeKey), std::int64_t{BNToastTypeStatusBar}},
        {std::string(kBNToastNotificationPreferredHeightKey), std::int64_t{0}},
        {std::string(kBNToastNotificationPresentationTypeKey), std::int64_t{BNToastPresentationPush}},
        {std::string(kBNToastUnderStatusBarKey), false},
        {std::string(kBNToastKeepNavigationBarBorder), true},
        {std::string(kBNToastAnimationInTypeKey), std::int64_t{BNToastAnimationTypeLinear}},
        {std::string(kBNToastAnimationOutTypeKey), std::int64_t{BNToastAnimationTypeLinear}},
        {std::string(kBNToastAnimationInDirectionKey), std::int64_t{BNToastDirectionTop}},
        {std::string(kBNToastAnimationOutDirectionKey), std::int64_t{BNToastDirectionBottom}},
        {std::string(kBNToastAnimateInTimeInterval), 0.4},
        {std::string(kBNToastTimeIntervalKey), 2.0},
        {std::string(kBNToastAnimateOutTimeInterval), 0.4},
        {std::string(kBNToastAnimationSpringDampingKey), 0.6},
        {std::string(kBNToastAnimateSpringVelocityKey), 1.0},
        {std::string(kBNToastAnimationGravityMagnitudeKey), 1.0},
        {std::string(kBNToastTextKey), std::string()},
        {std::string(kBNToastFontKey), system},
        {std::string(kBNToastTextColorKey), white},
        {std::string(kBNToastTextAlignmentKey), std::int64_t{1}},
        {std::string(kBNToastTextShadowOffsetKey), ui::Size{0, 0}},
        {std::string(kBNToastTextMaxNumberOfLinesKey), std::int64_t{0}},
        {std::string(kBNToastSubtitleFontKey), system},
        {std::string(kBNToastSubtitleTextColorKey), white},
        {std::string(kBNToastSubtitleTextAlignmentKey), std::int64_t{1}},
        {std::string(kBNToastSubtitleTextShadowOffsetKey), ui::Size{0, 0}},
        {std::string(kBNToastSubtitleTextMaxNumberOfLinesKey), std::int64_t{0}},
        {std::string(kBNToastStatusBarStyleKey), std::int64_t{0}},
        {std::string(kBNToastBackgroundColorKey), red},
        {std::string(kBNToastImageContentModeKey), std::int64_t{4}},
        {std::string(kBNToastImageAlignmentKey), std::int64_t{BNToastAlignmentLeft}},
        {std::string(kBNToastShowActivityIndicatorKey), false},
        {std::string(kBNToastActivityIndicatorViewStyleKey), std::int64_t{1}},
        {std::string(kBNToastActivityIndicatorAlignmentKey), std::int64_t{BNToastAlignmentLeft}},
        {std::string(kBNToastInteractionRespondersKey), BNToastResponders{}},
        {std::string(kBNToastForceUserInteractionKey), false},
        {std::string(kBNToastAutorotateKey), true},
        {std::string(kBNToastCaptureDefaultWindowKey), true},
    };
}

// The process-wide defaults; main thread only, as the whole component.
BNToastOptions& processDefaults() {
    static BNToastOptions defaults = builtInDefaults();
    return defaults;
}

std::optional<BNToastValueKind> kindOfKey(std::string_view key) {
    for (const auto& entry : BNToastKeyTable()) {
        if (entry.key == key) {
            return entry.kind;
        }
    }
    return std::nullopt;
}

std::string describe(const BNToastValue& value) {
    return std::visit(
        [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, bool>) {
                return v ? "1" : "0";
            } else if constexpr (std::is_same_v<T, std::int64_t> || std::is_same_v<T, double>) {
                char buffer[32];
                std::snprintf(buffer, sizeof buffer, "%g", double(v));
                return buffer;
            } else if constexpr (std::is_same_v<T, std::string>) {
                return v;
            } else {
                return "<" + std::string(BNToastValueKindName(BNToastKindOf(BNToastValue(v)))) + ">";
            }
        },
        value);
}

std::string makeUuid() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<unsigned> nibble(0, 15);
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (int i = 0; i < 32; ++i) {
        if (i == 8 || i == 12 || i == 16 || i == 20) {
            out += '-';
        }
        unsigned n = nibble(generator);
        if (i == 12) {
            n = 4;
        } else if (i == 16) {
            n = 8 | (n & 3);
        }
        out += hex[n];
    }
    return out;
}

int opposite(int direction) {
    switch (direction) {
        case BNToastDirectionTop: return BNToastDirectionBottom;
        case BNToastDirectionBottom: return BNToastDirectionTop;
        case BNToastDirectionLeft: return BNToastDirectionRight;
        case BNToastDirectionRight: return BNToastDirectionLeft;
        default: return direction;
    }
}

}  // namespace

std::shared_ptr<BNToast> BNToast::notificationWithOptions(BNToastOptions options,
                                                         std::function<void()> appearance,
                                                         std::function<void()> completion) {
    std::shared_ptr<BNToast> toast(new BNToast);
    toast->setOptions(std::move(options));
    toast->completion_ = std::move(completion);
    toast->state_ = BNToastState::waiting;
    toast->uuid_ = makeUuid();
    toast->appearance_ = std::move(appearance);
    return toast;
}

BNToast::~BNToast() {
    delete notificationView_.data();
    delete statusBarView_.data();
}

void BNToast::setDefaultOptions(const BNToastOptions& options) {
    auto& defaults = processDefaults();
    for (const auto& [key, value] : options) {
        if (key == kBNToastKeepNavigationBarBorder || !kindOfKey(key)) {
            continue;
        }
        defaults[key] = value;
    }
}

void BNToast::restoreDefaultOptions() { processDefaults() = builtInDefaults(); }

const BNToastValue* BNToast::defaultOption(std::string_view key) {
    const auto& defaults = processDefaults();
    const auto found = defaults.find(key);
    return found == defaults.end() ? nullptr : &found->second;
}

void BNToast::setOptions(BNToastOptions options) {
    for (auto it = options.begin(); it != options.end();) {
        const auto kind = kindOfKey(it->first);
        if (!kind) {
            LG_VERBOSE("[BNToast] : ERROR given unrecognized key %@ in options with object %@",
                       it->first, describe(it->second));
            it = options.erase(it);
            continue;
        }
        const BNToastValueKind given = BNToastKindOf(it->second);
        if (given != *kind) {
            LG_VERBOSE(
                "[BNToast] : ERROR given %@ for key %@ was expecting Class %@ but got Class %@, "
                "passing default on instead",
                describe(it->second), it->first, BNToastValueKindName(*kind),
                BNToastValueKindName(given));
            it = options.erase(it);
            continue;
        }
        ++it;
    }
    options_ = std::move(options);
    warnAboutSensibility();
}

void BNToast::warnAboutSensibility() const {
    if (notificationType() == BNToastTypeStatusBar && displayUnderStatusBar()) {
        LG_VERBOSE(
            "[BNToast] : WARNING - It is not sensible to have set kBNToastNotificationTypeKey to "
            "@(BNToastTypeStatusBar) while setting kBNToastUnderStatusBarKey to @(YES). I'll do "
            "what you ask, but it'll probably work weird");
    }
    if (notificationType() == BNToastTypeStatusBar && subtitleText()) {
        LG_VERBOSE(
            "[BNToast] : WARNING - It is not sensible to have set kBNToastNotificationTypeKey to "
            "@(BNToastTypeStatusBar) and configuring subtitle text to show. I'll do what you ask, "
            "but it'll probably work weird");
    }
    const auto defaultNumber = [](std::string_view key) {
        const auto* value = defaultOption(key);
        if (value == nullptr) {
            return 0.0;
        }
        if (const auto* i = std::get_if<std::int64_t>(value)) {
            return double(*i);
        }
        const auto* d = std::get_if<double>(value);
        return d ? *d : 0.0;
    };
    if (inAnimationType() == BNToastAnimationTypeGravity &&
        animateInTimeInterval() != defaultNumber(kBNToastAnimateInTimeInterval)) {
        LG_VERBOSE(
            "[BNToast] : WARNING - It is not sensible to have set kBNToastAnimationInTypeKey to "
            "@(BNToastAnimationTypeGravity) and configure a kBNToastAnimationInTimeIntervalKey. "
            "Gravity and distance will be driving the in animation duration here. "
            "kBNToastAnimationGravityMagnitudeKey can be modified to change the in animation "
            "duration.");
    }
    if (outAnimationType() == BNToastAnimationTypeGravity &&
        animateOutTimeInterval() != defaultNumber(kBNToastAnimateOutTimeInterval)) {
        LG_VERBOSE(
            "[BNToast] : WARNING - It is not sensible to have set kBNToastAnimationOutTypeKey to "
            "@(BNToastAnimationTypeGravity) and configure a kBNToastAnimationOutTimeIntervalKey. "
            "Gravity and distance will be driving the in animation duration here. "
            "kBNToastAnimationGravityMagnitudeKey can be modified to change the in animation "
            "duration.");
    }
    if (forceUserInteraction() && gestureRecognizers().empty()) {
        LG_VERBOSE(
            "[BNToast] : WARNING - It is not sensible to have set kBNToastForceUserInteractionKey "
            "to @(YES) and not set any interaction responders. This notification can only be "
            "dismissed programmatically.");
    }
}

const BNToastValue* BNToast::option(std::string_view key) const {
    const auto found = options_.find(key);
    if (found != options_.end()) {
        return &found->second;
    }
    return defaultOption(key);
}

double BNToast::number(std::string_view key) const {
    if (const auto* value = option(key)) {
        if (const auto* i = std::get_if<std::int64_t>(value)) {
            return double(*i);
        }
        if (const auto* d = std::get_if<double>(value)) {
            return *d;
        }
    }
    return 0;
}

double BNToast::preferredHeight() const {
    if (preferredHeight_) {
        return *preferredHeight_;
    }
    return float(number(kBNToastNotificationPreferredHeightKey));
}

std::optional<std::string> BNToast::identifier() const {
    const auto found = options_.find(kBNToastIdentifierKey);
    if (found == options_.end()) {
        return std::nullopt;
    }
    return std::get<std::string>(found->second);
}

ui::View* BNToast::backgroundView() const {
    const auto found = options_.find(kBNToastBackgroundViewKey);
    if (found == options_.end()) {
        return nullptr;
    }
    return std::get<BNToastViewRef>(found->second).data();
}

BNToastResponders BNToast::interactionResponders() const {
    return get<BNToastResponders>(kBNToastInteractionRespondersKey).value_or(BNToastResponders{});
}

bool BNToast::autorotate() const {
    return autorotate_.value_or(boolean(kBNToastAutorotateKey));
}

ui::Rect BNToast::frameFor(int direction) const {
    const double w = BNToastBannerWidth();
    const double h = BNToastBannerHeight(notificationType(), preferredHeight(),
                                         BNToastScreenTraits::current().orientation);
    switch (direction) {
        case BNToastDirectionTop: return {0, -h, w, h};
        case BNToastDirectionBottom: return {0, h, w, h};
        case BNToastDirectionLeft: return {-w, 0, w, h};
        case BNToastDirectionRight: return {w, 0, w, h};
        default: return {0, 0, w, h};
    }
}

ui::Rect BNToast::notificationViewAnimationFrame1() const { return frameFor(inAnimationDirection()); }
ui::Rect BNToast::notificationViewAnimationFrame2() const { return frameFor(outAnimationDirection()); }
ui::Rect BNToast::statusBarViewAnimationFrame1() const { return frameFor(opposite(inAnimationDirection())); }
ui::Rect BNToast::statusBarViewAnimationFrame2() const { return frameFor(opposite(outAnimationDirection())); }

namespace {
ui::Point gravityIn(int direction) {
    switch (direction) {
        case BNToastDirectionTop: return {0, 1};
        case BNToastDirectionBottom: return {0, -1};
        case BNToastDirectionLeft: return {1, 0};
        case BNToastDirectionRight: return {-1, 0};
        default: return {0, 0};
    }
}
}  // namespace

ui::Point BNToast::inGravityDirection() const { return gravityIn(inAnimationDirection()); }
ui::Point BNToast::outGravityDirection() const {
    const ui::Point in = gravityIn(outAnimationDirection());
    return {-in.x, -in.y};
}

std::optional<ui::Point> BNToast::collisionPoint(bool in, int which) const {
    const ui::Rect frame = notificationViewAnimationFrame1();
    const double w = frame.width;
    const double h = frame.height;
    const bool push = presentationType() != BNToastPresentationCover;
    const double f = push ? 2 : 1;
    const int direction = in ? inAnimationDirection() : outAnimationDirection();
    if (in) {
        switch (direction) {
            case BNToastDirectionTop: {
                const double y = f * (h + (push ? -2.0 : 0.5));
                return which == 1 ? ui::Point{0, y} : ui::Point{w, y};
            }
            case BNToastDirectionBottom: {
                const double y = -(f - 1) * h - (push ? -2.5 : 0.5);
                return which == 1 ? ui::Point{w, y} : ui::Point{0, y};
            }
            case BNToastDirectionLeft: {
                const double x = f * w + (push ? -2.5 : 1.0);
                return which == 1 ? ui::Point{x, h} : ui::Point{x, 0};
            }
            case BNToastDirectionRight: {
                const double x = -(f - 1) * w - (push ? -2.5 : 1.0);
                return which == 1 ? ui::Point{x, 0} : ui::Point{x, h};
            }
            default: return std::nullopt;
        }
    }
    switch (direction) {
        case BNToastDirectionTop:
            return which == 1 ? ui::Point{w, -h - 0.5} : ui::Point{0, -h - 0.5};
        case BNToastDirectionBottom:
            return which == 1 ? ui::Point{0, 2 * h + 0.5} : ui::Point{w, 2 * h + 0.5};
        case BNToastDirectionLeft:
            return which == 1 ? ui::Point{-w - 0.5, 0} : ui::Point{-w - 0.5, h};
        case BNToastDirectionRight:
            return which == 1 ? ui::Point{2 * w + 1.0, h} : ui::Point{2 * w + 1.0, 0};
        default: return std::nullopt;
    }
}

std::optional<ui::Point> BNToast::inCollisionPoint1() const { return collisionPoint(true, 1); }
std::optional<ui::Point> BNToast::inCollisionPoint2() const { return collisionPoint(true, 2); }
std::optional<ui::Point> BNToast::outCollisionPoint1() const { return collisionPoint(false, 1); }
std::optional<ui::Point> BNToast::outCollisionPoint2() const { return collisionPoint(false, 2); }

std::vector<BNToastGestureRecognizer> BNToast::gestureRecognizersForInteractionResponder(
    const BNToastResponders& responders) {
    std::vector<BNToastGestureRecognizer> out;
    const auto swipe = [&](int type, const BNToastInteractionResponder& r) {
        BNToastGestureRecognizer g;
        g.kind = BNToastGestureRecognizer::Kind::swipe;
        switch (type) {
            case 1: g.direction = ui::SwipeDirection::up; break;
            case 2: g.direction = ui::SwipeDirection::left; break;
            case 4: g.direction = ui::SwipeDirection::down; break;
            default: g.direction = ui::SwipeDirection::right; break;
        }
        g.interactionType = type;
        g.automaticallyDismiss = r.automaticallyDismiss;
        g.block = r.block;
        out.push_back(std::move(g));
    };
    const auto tap = [&](int type, const BNToastInteractionResponder& r) {
        BNToastGestureRecognizer g;
        g.kind = BNToastGestureRecognizer::Kind::tap;
        g.touchesRequired = (type & (16 | 32)) != 0 ? 1 : 2;
        g.tapsRequired = (type & (16 | 64)) != 0 ? 1 : 2;
        g.interactionType = type;
        g.automaticallyDismiss = r.automaticallyDismiss;
        g.block = r.block;
        out.push_back(std::move(g));
    };
    for (const auto& responder : responders) {
        const int type = responder.interactionType;
        if (type == BNToastInteractionTypeSwipeAnyDirection) {
            for (const int single : {1, 2, 4, 8}) {
                swipe(single, responder);
            }
        } else if (type == BNToastInteractionTypeAnyTap) {
            for (const int single : {16, 32, 64, 128}) {
                tap(single, responder);
            }
        } else if ((type & 15) != 0) {
            swipe(type, responder);
        } else if ((type & 240) != 0) {
            tap(type, responder);
        }
    }
    return out;
}

std::vector<BNToastGestureRecognizer> BNToast::gestureRecognizers() const {
    // The defaults once, then the banner's own: a banner without a list of its own must not
    // get the defaults twice (each gesture would fire twice).
    BNToastResponders responders;
    if (const auto* defaults = defaultOption(kBNToastInteractionRespondersKey)) {
        if (const auto* list = std::get_if<BNToastResponders>(defaults)) {
            responders = *list;
        }
    }
    const auto own = options_.find(kBNToastInteractionRespondersKey);
    if (own != options_.end()) {
        const auto& list = std::get<BNToastResponders>(own->second);
        responders.insert(responders.end(), list.begin(), list.end());
    }
    return gestureRecognizersForInteractionResponder(responders);
}

BNToastView& BNToast::notificationView() {
    if (!notificationView_) {
        auto* view = new BNToastView;
        view->setFrame({0, 0, BNToastBannerWidth(),
                        BNToastBannerHeight(notificationType(), preferredHeight(),
                                            BNToastScreenTraits::current().orientation)});
        view->setToast(this);
        notificationView_ = view;
    }
    return *notificationView_;
}

ui::View& BNToast::statusBarView(QWidget* screen) {
    if (!statusBarView_) {
        auto* strip = snapshotWindow() ? new ui::SnapshotView(screen) : new ui::View;
        strip->setName("bannerStrip");
        strip->setFrame(statusBarViewAnimationFrame1());
        statusBarView_ = strip;
    }
    return *statusBarView_;
}
