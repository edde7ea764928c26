#include "ui/TSToast.h"

#include <algorithm>
#include <deque>
#include <limits>

#include "platform/foundation/RunLoop.h"
#include "platform/ui/Animator.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Gesture.h"
#include "platform/ui/TextMetrics.h"

namespace ui = platform::ui;

void TSToastStyle::setMaxWidthPercentage(double value) {
    maxWidthPercentage_ = std::clamp(value, 0.0, 1.0);
}

void TSToastStyle::setMaxHeightPercentage(double value) {
    maxHeightPercentage_ = std::clamp(value, 0.0, 1.0);
}

TSToastManager& TSToastManager::sharedManager() {
    static TSToastManager* manager = new TSToastManager;
    return *manager;
}

namespace TSToast {
namespace {

// Kept on the host view.
struct HostState {
    ui::ViewGuard<ui::View> active;
    std::deque<ui::ViewGuard<ui::View>> queue;
    ui::ViewGuard<ui::View> activity;
};

// What a toast built here was made of, so that it can be sized again for its host.
struct ToastLayout {
    TSToastStyle style;
    std::optional<std::string> title;
    std::optional<std::string> message;
    bool image = false;
};

// Kept on each toast.
struct ToastState {
    std::shared_ptr<platform::Timer> timer;
    double duration = 0;
    TSToastPosition position;
    Completion completion;
    std::optional<ToastLayout> layout;
};

HostState& hostState(ui::View& host) { return ui::attached<HostState>(host, "TSToastQueueKey"); }
ToastState& toastState(ui::View& toast) {
    return ui::attached<ToastState>(toast, "TSToastCompletionKey");
}

bool sameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

ui::TextAlignment alignmentOf(std::int64_t value) {
    switch (value) {
        case 1: return ui::TextAlignment::center;
        case 2: return ui::TextAlignment::right;
        default: return ui::TextAlignment::left;
    }
}

// The label sized to fit the box, then held to it.
ui::Size fitted(std::string_view text, const TSToastFont& font, std::int64_t lines,
                ui::Size box) {
    const auto& metrics = ui::TextMetrics::current();
    ui::Size size = font.bold ? metrics.boldBoundingSize(text, font.size, box.width)
                              : metrics.boundingSize(text, font.size, box.width);
    if (lines > 0) {
        const double line = metrics.boundingSize("X", font.size, box.width).height;
        size.height = std::min(size.height, double(lines) * line);
    }
    return {std::min(size.width, box.width), std::min(size.height, box.height)};
}

// A style's shadow, when it asks for one; it has no colour by default, and then casts none.
std::optional<ui::Shadow> shadowOf(const TSToastStyle& style) {
    if (!style.displayShadow || !style.shadowColor) {
        return std::nullopt;
    }
    return ui::Shadow{*style.shadowColor, style.shadowOpacity, style.shadowRadius,
                      style.shadowOffset};
}

ui::Label* makeLabel(ui::View& parent, std::string_view name, std::string_view text,
                     const TSToastFont& font, const ui::Color& colour, std::int64_t alignment,
                     std::int64_t lines) {
    auto* label = new ui::Label(&parent);
    label->setName(name);
    label->setText(text);
    label->setFontSize(font.size);
    label->setBold(font.bold);
    label->setTextColor(colour);
    label->setNumberOfLines(static_cast<int>(lines));
    label->setTextAlignment(alignmentOf(alignment));
    label->setUserInteractionEnabled(false);
    return label;
}

void fade(ui::View& view, double to, double duration, ui::Curve curve,
          std::function<void()> done) {
    ui::ViewGuard<ui::View> guard = &view;
    const double from = view.alpha();
    ui::Animation animation;
    animation.duration = duration;
    animation.curve = curve;
    animation.step = [guard, from, to](double v) {
        if (guard) {
            guard->setAlpha(from + (to - from) * v);
        }
    };
    animation.completion = [guard, done = std::move(done)](bool) {
        if (guard && done) {
            done();
        }
    };
    ui::Animator::current().animate(std::move(animation));
}

void showNow(ui::View& host, ui::View& toast, double duration, const TSToastPosition& position);

void hide(ui::View& host, ui::View& toast, bool fromTap) {
    ui::ViewGuard<ui::View> hostGuard = &host;
    ui::ViewGuard<ui::View> toastGuard = &toast;
    fade(toast, 0.0, TSToastManager::sharedStyle().fadeDuration, ui::Curve::easeIn,
         [hostGuard, toastGuard, fromTap] {
             if (!hostGuard || !toastGuard) {
                 return;
             }
             auto& state = hostState(*hostGuard);
             // With the queue off a newer toast may be the active one: it stays so.
             if (state.active == toastGuard) {
                 state.active = nullptr;
             }
             const Completion completion = toastState(*toastGuard).completion;
             toastGuard->hide();
             toastGuard->setParent(nullptr);
             toastGuard->deleteLater();
             if (completion) {
                 completion(fromTap);
             }
             while (!state.queue.empty()) {
                 ui::ViewGuard<ui::View> next = state.queue.front();
                 state.queue.pop_front();
                 if (next) {
                     auto& attached = toastState(*next);
                     showNow(*hostGuard, *next, attached.duration, attached.position);
                     break;
                 }
             }
         });
}

void timerFinished(ui::View& host, ui::View& toast) { hide(host, toast, false); }

void layoutToast(ui::Size hostSize, ui::View& toast, const ToastLayout& layout);

// Sized and placed again whenever its host's size changes, so a toast follows the window.
void followHost(ui::View& host, ui::View& toast) {
    ui::ViewGuard<ui::View> hostGuard = &host;
    ui::ViewGuard<ui::View> toastGuard = &toast;
    host.onSizeChange(toast, [hostGuard, toastGuard] {
        if (!hostGuard || !toastGuard || toastGuard->parent() != hostGuard.data()) {
            return;
        }
        auto& state = toastState(*toastGuard);
        if (state.layout) {
            layoutToast({hostGuard->frame().width, hostGuard->frame().height}, *toastGuard,
                        *state.layout);
        }
        toastGuard->setCenter(centerPointForPosition(*hostGuard, state.position, *toastGuard));
    });
}

void showNow(ui::View& host, ui::View& toast, double duration, const TSToastPosition& position) {
    toastState(toast).position = position;
    followHost(host, toast);
    toast.setCenter(centerPointForPosition(host, position, toast));
    toast.setAlpha(0);
    if (TSToastManager::isTapToDismissEnabled()) {
        ui::ViewGuard<ui::View> hostGuard = &host;
        ui::ViewGuard<ui::View> toastGuard = &toast;
        new ui::GestureRecognizer(toast, [hostGuard, toastGuard](const ui::Gesture& gesture) {
            if (gesture.kind == ui::Gesture::Kind::tap && gesture.taps == 1 && hostGuard &&
                toastGuard) {
                handleToastTapped(*hostGuard, *toastGuard);
            }
        });
        toast.setUserInteractionEnabled(true);
    }
    hostState(host).active = &toast;
    toast.setParent(&host);
    toast.show();
    toast.raise();
    ui::ViewGuard<ui::View> hostGuard = &host;
    ui::ViewGuard<ui::View> toastGuard = &toast;
    fade(toast, 1.0, TSToastManager::sharedStyle().fadeDuration, ui::Curve::easeOut,
         [hostGuard, toastGuard, duration] {
             toastState(*toastGuard).timer = platform::RunLoop::main().scheduleTimer(
                 duration, false, [hostGuard, toastGuard] {
                     if (hostGuard && toastGuard) {
                         timerFinished(*hostGuard, *toastGuard);
                     }
                 });
         });
}

}  // namespace

void makeToast(ui::View& host, std::string_view message) {
    makeToast(host, message, TSToastManager::defaultDuration(), TSToastManager::defaultPosition());
}

void makeToast(ui::View& host, std::string_view message, double duration,
               const TSToastPosition& position) {
    makeToast(host, message, duration, position, TSToastManager::sharedStyle());
}

void makeToast(ui::View& host, std::string_view message, double duration,
               const TSToastPosition& position, const std::optional<TSToastStyle>& style) {
    showToast(host, toastViewForMessage(host, message, std::nullopt, std::nullopt, style),
              duration, position, {});
}

void makeToast(ui::View& host, std::optional<std::string_view> message, double duration,
               const TSToastPosition& position, std::optional<std::string_view> title,
               std::optional<platform::image::Image> image,
               const std::optional<TSToastStyle>& style, Completion completion) {
    showToast(host, toastViewForMessage(host, message, title, std::move(image), style), duration,
              position, std::move(completion));
}

ui::View* toastViewForMessage(ui::View& host, std::optional<std::string_view> message,
                              std::optional<std::string_view> title,
                              std::optional<platform::image::Image> image,
                              const std::optional<TSToastStyle>& given) {
    if (!message && !title && !image) {
        return nullptr;
    }
    const TSToastStyle& style = given ? *given : TSToastManager::sharedStyle();
    auto* toast = new ui::View;
    toast->setName("toast");
    toast->setCornerRadius(style.cornerRadius);
    toast->setBackgroundColor(style.backgroundColor);
    toast->setShadow(shadowOf(style));

    ToastLayout layout{style, std::nullopt, std::nullopt, image.has_value()};
    if (image) {
        auto* imageView = new ui::ImageView(toast);
        imageView->setName("toastImage");
        imageView->setContentMode(ui::ImageView::ContentMode::aspectFit);
        imageView->setImage(std::move(*image));
    }
    if (title) {
        makeLabel(*toast, "toastTitle", *title, style.titleFont, style.titleColor,
                  style.titleAlignment, style.titleNumberOfLines);
        layout.title = std::string(*title);
    }
    if (message) {
        makeLabel(*toast, "toastMessage", *message, style.messageFont, style.messageColor,
                  style.messageAlignment, style.messageNumberOfLines);
        layout.message = std::string(*message);
    }
    layoutToast({host.frame().width, host.frame().height}, *toast, layout);
    toastState(*toast).layout = std::move(layout);
    return toast;
}

namespace {

void layoutToast(ui::Size hostSize, ui::View& toast, const ToastLayout& layout) {
    const TSToastStyle& style = layout.style;
    ui::Rect imageRect{0, 0, 0, 0};
    if (layout.image) {
        imageRect = {style.horizontalPadding, style.verticalPadding, style.imageSize.width,
                     style.imageSize.height};
        if (auto* imageView = toast.findChild<ui::ImageView*>("toastImage")) {
            imageView->setFrame(imageRect);
        }
    }
    const ui::Size box{hostSize.width * style.maxWidthPercentage() - imageRect.width,
                       hostSize.height * style.maxHeightPercentage()};
    ui::Rect titleRect{0, 0, 0, 0};
    ui::Rect messageRect{0, 0, 0, 0};
    if (layout.title) {
        const ui::Size size = fitted(*layout.title, style.titleFont, style.titleNumberOfLines, box);
        titleRect = {imageRect.x + imageRect.width + style.horizontalPadding, style.verticalPadding,
                     size.width, size.height};
    }
    if (layout.message) {
        const ui::Size size =
            fitted(*layout.message, style.messageFont, style.messageNumberOfLines, box);
        messageRect = {imageRect.x + imageRect.width + style.horizontalPadding,
                       titleRect.y + titleRect.height + style.verticalPadding, size.width,
                       size.height};
    }
    const double longerWidth = std::max(titleRect.width, messageRect.width);
    const double longerX = std::max(titleRect.x, messageRect.x);
    const double width = std::max(imageRect.width + 2 * style.horizontalPadding,
                                  longerX + longerWidth + style.horizontalPadding);
    const double height = std::max(messageRect.y + messageRect.height + style.verticalPadding,
                                   imageRect.height + 2 * style.verticalPadding);
    const ui::Rect before = toast.frame();
    toast.setFrame({before.x, before.y, width, height});
    if (auto* label = toast.findChild<ui::Label*>("toastTitle")) {
        label->setFrame(titleRect);
    }
    if (auto* label = toast.findChild<ui::Label*>("toastMessage")) {
        label->setFrame(messageRect);
    }
}

}  // namespace

void showToast(ui::View& host, ui::View* toast) {
    showToast(host, toast, TSToastManager::defaultDuration(), TSToastManager::defaultPosition(),
              {});
}

void showToast(ui::View& host, ui::View* toast, double duration, const TSToastPosition& position,
               Completion completion) {
    if (toast == nullptr) {
        return;
    }
    auto& attached = toastState(*toast);
    attached.completion = std::move(completion);
    auto& state = hostState(host);
    if (TSToastManager::isQueueEnabled() && state.active) {
        attached.duration = duration;
        attached.position = position;
        // Held by the host until its turn.
        toast->setParent(&host);
        toast->hide();
        state.queue.push_back(toast);
        return;
    }
    showNow(host, *toast, duration, position);
}

void handleToastTapped(ui::View& host, ui::View& toast) {
    auto& attached = toastState(toast);
    if (!attached.timer) {
        return;  // still fading in, or already leaving
    }
    attached.timer->invalidate();
    attached.timer.reset();
    hide(host, toast, true);
}

ui::Point centerPointForPosition(const ui::View& host, const TSToastPosition& position,
                                 const ui::View& toast) {
    const double W = host.frame().width;
    const double H = host.frame().height;
    const double h = toast.frame().height;
    const double p = TSToastManager::sharedStyle().verticalPadding;
    if (const auto* point = std::get_if<ui::Point>(&position)) {
        return *point;
    }
    const auto& name = std::get<std::string>(position);
    if (sameLetters(name, TSToastPositionTop)) {
        return {W / 2, h / 2 + p};
    }
    if (sameLetters(name, TSToastPositionCenter)) {
        return {W / 2, H / 2};
    }
    return {W / 2, H - h / 2 - p};
}

void makeToastActivity(ui::View& host, const TSToastPosition& position) {
    auto& state = hostState(host);
    if (state.activity) {
        return;
    }
    const TSToastStyle& style = TSToastManager::sharedStyle();
    auto* box = new ui::View(&host);
    box->setName("toastActivity");
    box->setFrame({0, 0, style.activitySize.width, style.activitySize.height});
    box->setCenter(centerPointForPosition(host, position, *box));
    box->setBackgroundColor(style.backgroundColor);
    box->setAlpha(0);
    box->setCornerRadius(style.cornerRadius);
    box->setShadow(shadowOf(style));
    auto* spinner = new ui::Spinner(box);
    spinner->setName("toastActivitySpinner");
    spinner->setColor({1, 1, 1, 1});
    spinner->setFrame({0, 0, 37, 37});
    spinner->setCenter({style.activitySize.width / 2, style.activitySize.height / 2});
    spinner->startAnimating();
    state.activity = box;
    box->show();
    box->raise();
    ui::ViewGuard<ui::View> hostGuard = &host;
    ui::ViewGuard<ui::View> boxGuard = box;
    host.onSizeChange(*box, [hostGuard, boxGuard, position] {
        if (hostGuard && boxGuard) {
            boxGuard->setCenter(centerPointForPosition(*hostGuard, position, *boxGuard));
        }
    });
    fade(*box, 1.0, style.fadeDuration, ui::Curve::easeOut, {});
}

void hideToastActivity(ui::View& host) {
    auto& state = hostState(host);
    if (!state.activity) {
        return;
    }
    ui::ViewGuard<ui::View> box = state.activity;
    ui::ViewGuard<ui::View> hostGuard = &host;
    fade(*box, 0.0, TSToastManager::sharedStyle().fadeDuration, ui::Curve::easeIn,
         [box, hostGuard] {
             if (hostGuard && hostState(*hostGuard).activity == box) {
                 hostState(*hostGuard).activity = nullptr;
             }
             if (box) {
                 box->hide();
                 box->deleteLater();
             }
         });
}

ui::View* activeToast(ui::View& host) { return hostState(host).active.data(); }
std::size_t queuedToasts(ui::View& host) { return hostState(host).queue.size(); }
ui::View* activityView(ui::View& host) { return hostState(host).activity.data(); }

}  // namespace TSToast
