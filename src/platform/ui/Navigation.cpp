#include "platform/ui/Navigation.h"

#include <QMouseEvent>
#include <algorithm>
#include <utility>

#include "platform/foundation/RunLoop.h"
#include "platform/ui/Animator.h"
#include "platform/ui/Appearance.h"
#include "platform/ui/InterfaceLocale.h"
#include "platform/ui/Presentation.h"
#include "platform/ui/TextMetrics.h"
#include "platform/ui/Window.h"

namespace platform::ui {

namespace {
constexpr double kPushDuration = 0.35;
constexpr double kSwipeEdge = 24;
constexpr double kSwipeDistance = 80;
constexpr double kBarFontSize = 17;
constexpr double kBarMargin = 8;
constexpr double kBackWidth = 80;
constexpr double kActivitySize = 20;
constexpr double kActivityGap = 6;

// Wide enough for the title or the image, within what leaves room for the bar's title.
double barButtonWidth(const BarButtonItem& item) {
    const double content = item.image.isNull()
                               ? TextMetrics::current().lineWidth(item.title, kBarFontSize)
                               : item.image.size().width;
    return std::clamp(content + 16, 44.0, 120.0);
}
}  // namespace

// NavigationItem

void NavigationItem::setButton(BarSide side, std::optional<BarButtonItem> item) {
    (side == BarSide::left ? left_ : right_) = std::move(item);
    if (changed_) {
        changed_();
    }
}

void NavigationItem::setButtonEnabled(BarSide side, bool enabled) {
    auto& item = side == BarSide::left ? left_ : right_;
    if (item) {
        item->enabled = enabled;
        if (changed_) {
            changed_();
        }
    }
}

void NavigationItem::setHidesBackButton(bool hides) {
    hidesBackButton_ = hides;
    if (changed_) {
        changed_();
    }
}

// Page

Page::Page(std::string className, QWidget* parent)
    : View(parent),
      className_(std::move(className)),
      content_(new View(this)),
      weak_(std::make_unique<WeakPtrFactory<Page>>(*this, RunLoop::main())) {
    setBackgroundColor(Color{1, 1, 1, 1});
}

Page::~Page() {
    leave();
}

void Page::beginAppearanceTransition(bool appearing, bool animated) {
    animatedTransition_ = animated;
    if (appearing) {
        loadViewIfNeeded();
        appearance_ = Appearance::appearing;
        viewWillAppear(animated);
    } else {
        appearance_ = Appearance::disappearing;
        viewWillDisappear(animated);
    }
}

bool Page::isOnScreen() const {
    return appearance_ == Appearance::appeared && dynamic_cast<MainWindow*>(window()) != nullptr;
}

void Page::didMoveToWindow() {
    // Work may leave the page, cover it or ask for more: take what waits one piece at a time.
    while (!whenOnScreen_.empty() && isOnScreen() && !hasLeft()) {
        auto work = std::move(whenOnScreen_.front());
        whenOnScreen_.erase(whenOnScreen_.begin());
        work();
    }
}

void Page::endAppearanceTransition() {
    if (appearance_ == Appearance::appearing) {
        appearance_ = Appearance::appeared;
        viewDidAppear(animatedTransition_);
        didMoveToWindow();
    } else if (appearance_ == Appearance::disappearing) {
        appearance_ = Appearance::disappeared;
        viewDidDisappear(animatedTransition_);
    }
}

void Page::whenOnScreen(std::function<void()> work) {
    if (hasLeft() || !work) {
        return;
    }
    if (isOnScreen()) {
        work();
        return;
    }
    whenOnScreen_.push_back(std::move(work));
}

WeakPtr<Page> Page::weakPage() const {
    return weak_ ? weak_->weakPtr() : WeakPtr<Page>();
}

NotificationCenter::Token Page::observe(std::string name, NotificationCenter::Observer observer,
                                        const void* sender) {
    if (hasLeft()) {
        return 0;
    }
    NotificationCenter& center = NotificationCenter::defaultCenter();
    if (observed_ != nullptr && observed_ != &center) {
        observed_->removeAll(this);
    }
    observed_ = &center;
    return center.addObserver(std::move(name), guarded(std::move(observer)), this, sender);
}

void Page::whenLeaving(std::function<void()> work) {
    if (!work) {
        return;
    }
    if (hasLeft()) {
        work();
        return;
    }
    whenLeaving_.push_back(std::move(work));
}

void Page::leave() {
    if (hasLeft()) {
        return;
    }
    weak_.reset();
    whenOnScreen_.clear();
    // Also what was observed in the page's name without going through observe().
    NotificationCenter& center = NotificationCenter::defaultCenter();
    center.removeAll(this);
    if (observed_ != nullptr && observed_ != &center) {
        observed_->removeAll(this);
    }
    observed_ = nullptr;
    for (auto& work : std::exchange(whenLeaving_, {})) {
        work();
    }
}

void Page::loadViewIfNeeded() {
    if (!loaded_) {
        loaded_ = true;
        viewDidLoad();
    }
}

LayoutConstraint& Page::addConstraint(std::string identifier, double constant) {
    constraints_.push_back(LayoutConstraint{std::move(identifier), constant});
    return constraints_.back();
}

void Page::layoutIfNeeded() {
    double bottom = 0;
    for (const auto& constraint : constraints_) {
        if (constraint.identifier == "verticalSpaceBottom") {
            bottom = constraint.constant;
            break;
        }
    }
    content_->setFrame({0, 0, double(width()), std::max(0.0, height() - bottom)});
    layoutSubviews();
}

void Page::resizeEvent(QResizeEvent* /*event*/) {
    layoutIfNeeded();
}

// NavigationBar

NavigationBar::NavigationBar(QWidget* parent)
    : View(parent), back_(new Button(this)), title_(new Label(this)), activity_(new Spinner(this)) {
    const auto& look = Appearance::current().navigationBar;
    setBackgroundColor(look.barTintColor);
    back_->setName("backButton");
    back_->setFont("", kBarFontSize);
    back_->setTitleColor(look.tintColor);
    title_->setName("navigationTitle");
    if (look.titleColor) {
        title_->setTextColor(*look.titleColor);
    }
    title_->setTextAlignment(TextAlignment::center);
    title_->setFontSize(kBarFontSize);
    activity_->setName("networkActivityIndicator");
    activity_->setColor(look.titleColor.value_or(activity_->color()));
    QObject::connect(back_, &QAbstractButton::pressed, back_, [this] { back_->setAlpha(0.2); });
    back_->onAction([this] { popItem(); });
    refresh();
}

NavigationBar::~NavigationBar() {
    if (!items_.empty() && items_.back().buttons) {
        items_.back().buttons->onChanged(nullptr);
    }
}

void NavigationBar::pushItem(std::string title, std::shared_ptr<NavigationItem> item) {
    if (!items_.empty() && items_.back().buttons) {
        items_.back().buttons->onChanged(nullptr);
    }
    if (item) {
        item->onChanged([this] { refresh(); });
    }
    items_.push_back(Item{std::move(title), std::move(item)});
    refresh();
}

bool NavigationBar::popItem() {
    if (items_.empty()) {
        return false;
    }
    if (shouldPopItem_ && !shouldPopItem_()) {
        return false;
    }
    if (items_.back().buttons) {
        items_.back().buttons->onChanged(nullptr);
    }
    items_.pop_back();
    if (!items_.empty() && items_.back().buttons) {
        items_.back().buttons->onChanged([this] { refresh(); });
    }
    refresh();
    return true;
}

void NavigationBar::setSubviewsAlpha(double alpha) {
    back_->setAlpha(alpha);
    title_->setAlpha(alpha);
    for (Button* button : {leftButton_, rightButton_}) {
        if (button != nullptr) {
            button->setAlpha(alpha);
        }
    }
}

void NavigationBar::setActivityIndicatorVisible(bool visible) {
    if (visible == activity_->isAnimating()) {
        return;
    }
    if (visible) {
        activity_->startAnimating();
    } else {
        activity_->stopAnimating();
    }
    layoutSubviews();
}

void NavigationBar::showButton(Button*& shown, const std::optional<BarButtonItem>& item,
                               BarSide side) {
    // A button's own action may change the item, so a button goes later, never under it.
    if (!item) {
        if (shown != nullptr) {
            shown->hide();
            shown->deleteLater();
            shown = nullptr;
        }
        return;
    }
    if (shown == nullptr) {
        shown = new Button(this);
        shown->setName(side == BarSide::left ? "leftBarButton" : "rightBarButton");
        shown->setFont("", kBarFontSize);
        // The action is read when pressed, a copy, so that it may replace itself.
        shown->onAction([this, side] {
            if (items_.empty() || !items_.back().buttons) {
                return;
            }
            const auto& current = items_.back().buttons->button(side);
            if (current && current->action) {
                auto action = current->action;
                action();
            }
        });
        shown->show();
    }
    shown->setTitle(item->image.isNull() ? item->title : std::string());
    shown->setImage(Button::State::normal, item->image);
    shown->setEnabled(item->enabled);
}

void NavigationBar::refresh() {
    const Item* top = items_.empty() ? nullptr : &items_.back();
    const std::optional<BarButtonItem> none;
    showButton(leftButton_, top && top->buttons ? top->buttons->button(BarSide::left) : none,
               BarSide::left);
    showButton(rightButton_, top && top->buttons ? top->buttons->button(BarSide::right) : none,
               BarSide::right);
    const bool rightToLeft = InterfaceLocale::current().isRightToLeft();
    back_->setTitle((rightToLeft ? "\u203a " : "\u2039 ") + InterfaceLocale::current().backTitle());
    const bool hidden = top != nullptr && top->buttons && top->buttons->hidesBackButton();
    back_->setVisible(items_.size() > 1 && leftButton_ == nullptr && !hidden);
    back_->setAlpha(1.0);
    title_->setText(top == nullptr ? std::string() : top->title);
    layoutSubviews();
}

void NavigationBar::layoutSubviews() {
    const double bar = NavigationController::kBarHeight;
    const double w = width();
    const bool mirrored = InterfaceLocale::current().isRightToLeft();
    const auto place = [&](Button* button, const Rect& frame) {
        button->setFrame(mirroredIf(mirrored, frame, w));
    };
    place(back_, {kBarMargin, 0, kBackWidth, bar});
    double leading = kBarMargin + kBackWidth;
    double trailing = kBarMargin + kBackWidth;
    if (leftButton_ != nullptr) {
        const double width = barButtonWidth(*items_.back().buttons->button(BarSide::left));
        place(leftButton_, {kBarMargin, 0, width, bar});
        leading = std::max(leading, kBarMargin + width);
    }
    if (rightButton_ != nullptr) {
        const double width = barButtonWidth(*items_.back().buttons->button(BarSide::right));
        place(rightButton_, {w - kBarMargin - width, 0, width, bar});
        trailing = std::max(trailing, kBarMargin + width);
    }
    // The title stays centred on the bar, clear of the buttons on both sides and, while it
    // turns, of the activity indicator's room on both sides.
    const bool active = activity_->isAnimating();
    const double room = active ? kActivitySize + kActivityGap : 0;
    const double side = std::max(leading, trailing) + kBarMargin + room;
    const double titleWidth = std::max(0.0, w - 2 * side);
    title_->setFrame({side, 0, titleWidth, bar});
    if (active) {
        // Just before the title's text, or in the middle of the bar when it has none.
        const double text =
            std::min(TextMetrics::current().lineWidth(title_->text(), kBarFontSize), titleWidth);
        const double x = text > 0 ? side + (titleWidth - text) / 2 - kActivityGap - kActivitySize
                                  : (w - kActivitySize) / 2;
        activity_->setFrame(
            mirroredIf(mirrored, {x, (bar - kActivitySize) / 2, kActivitySize, kActivitySize}, w));
    }
}

// NavigationController

NavigationController::NavigationController(std::unique_ptr<Page> root, QWidget* parent)
    : View(parent), bar_(new NavigationBar(this)), stack_(new View(this)) {
    bar_->setShouldPopItem([this] { return navigationBarShouldPopItem(); });
    if (root) {
        Page* page = root.release();
        page->setParent(stack_);
        pages_.push_back(page);
        bar_->pushItem(page->title(), page->sharedNavigationItem());
        transition(nullptr, page, true, false, {});
    }
}

NavigationController::~NavigationController() = default;

Rect NavigationController::pageFrame() const {
    return {0, 0, double(stack_->width()), double(stack_->height())};
}

void NavigationController::layoutChildren() {
    const double top = barHidden_ ? 0 : kBarHeight;
    bar_->setVisible(!barHidden_);
    bar_->setFrame({0, 0, double(width()), kBarHeight});
    stack_->setFrame({0, top, double(width()), std::max(0.0, height() - top)});
    for (Page* page : pages_) {
        page->setFrame(pageFrame());
    }
    if (bottomBar_ != nullptr) {
        bottomBar_->setFrame({0, height() - bottomBarHeight_, double(width()), bottomBarHeight_});
        bottomBar_->raise();
    }
}

void NavigationController::resizeEvent(QResizeEvent* event) {
    View::resizeEvent(event);
    layoutChildren();
}

void NavigationController::setNavigationBarHidden(bool hidden) {
    barHidden_ = hidden;
    layoutChildren();
}

void NavigationController::setBottomBar(View* bar, double height) {
    delete bottomBar_;
    bottomBar_ = bar;
    bottomBarHeight_ = height;
    if (bar != nullptr) {
        bar->setParent(this);
        bar->show();
    }
    layoutChildren();
}

void NavigationController::pushPage(std::unique_ptr<Page> page, bool animated) {
    Page* from = topPage();
    Page* to = page.release();
    to->setParent(stack_);
    pages_.push_back(to);
    bar_->pushItem(to->title(), to->sharedNavigationItem());
    transition(from, to, true, animated, {});
}

bool NavigationController::popPage(bool animated) {
    if (pages_.size() < 2) {
        return false;
    }
    popPagesAbove(pages_.size() - 1, animated);
    return true;
}

std::size_t NavigationController::popToRoot(bool animated) {
    const std::size_t popped = pages_.empty() ? 0 : pages_.size() - 1;
    if (popped > 0) {
        popPagesAbove(1, animated);
    }
    return popped;
}

std::size_t NavigationController::popToPage(const Page& page, bool animated) {
    const auto found = std::find(pages_.begin(), pages_.end(), &page);
    if (found == pages_.end()) {
        return 0;
    }
    const auto keep = static_cast<std::size_t>(found - pages_.begin()) + 1;
    const std::size_t popped = pages_.size() - keep;
    if (popped > 0) {
        popPagesAbove(keep, animated);
    }
    return popped;
}

void NavigationController::popPagesAbove(std::size_t keep, bool animated) {
    Page* from = topPage();
    std::vector<Page*> leaving(pages_.begin() + static_cast<std::ptrdiff_t>(keep), pages_.end());
    pages_.resize(keep);
    // The bar learns of a pop made in code by popping its items, which it asks about first.
    for (std::size_t i = 0; i < leaving.size(); ++i) {
        bar_->popItem();
    }
    transition(from, topPage(), false, animated, std::move(leaving));
}

void NavigationController::goBack() {
    bar_->popItem();
}

bool NavigationController::navigationBarShouldPopItem() {
    if (pages_.size() < bar_->itemCount()) {
        return true;
    }
    ViewGuard<NavigationController> self(this);
    RunLoop::main().post([self] {
        if (self) {
            self->popPage(true);
        }
    });
    return false;
}

void NavigationController::transition(Page* from, Page* to, bool forward, bool animated,
                                      std::vector<Page*> leaving) {
    to->loadViewIfNeeded();
    if (from != nullptr && from != to) {
        from->beginAppearanceTransition(false, animated);
    }
    to->beginAppearanceTransition(true, animated);
    const Rect frame = pageFrame();
    to->setFrame(frame);
    to->show();
    if (forward) {
        to->raise();
    } else if (from != nullptr) {
        from->raise();
    }
    if (bottomBar_ != nullptr) {
        bottomBar_->raise();
    }
    ViewGuard<NavigationController> self(this);
    ViewGuard<Page> fromGuard(from);
    ViewGuard<Page> toGuard(to);
    // The navigation, and the popped pages with it, may be freed before the pop ends.
    std::vector<ViewGuard<Page>> going(leaving.begin(), leaving.end());
    auto finish = [self, fromGuard, toGuard, animated, going = std::move(going)](bool) {
        if (fromGuard && fromGuard != toGuard.data()) {
            fromGuard->hide();
            fromGuard->endAppearanceTransition();
        }
        for (const ViewGuard<Page>& page : going) {
            if (page) {
                leavePage(*page);
                page->deleteLater();
            }
        }
        if (self && toGuard) {
            toGuard->setFrame(self->pageFrame());
            toGuard->endAppearanceTransition();
            if (self->didShow_) {
                self->didShow_(*toGuard, animated);
            }
        }
    };
    if (!animated || from == nullptr) {
        finish(true);
        return;
    }
    const double width = frame.width;
    Animator::current().animate(Animation{
        kPushDuration, Curve::easeInOut,
        [fromGuard, toGuard, forward, frame, width](double value) {
            Page* moving = forward ? toGuard.data() : fromGuard.data();
            if (moving != nullptr) {
                Rect f = frame;
                f.x = forward ? width * (1 - value) : width * value;
                // Mirrored, pages come in from the left.
                if (InterfaceLocale::current().isRightToLeft()) {
                    f.x = -f.x;
                }
                moving->setFrame(f);
            }
        },
        finish,
        {}});
}

double NavigationController::fromLeadingEdge(double x) const {
    // Mirrored, the pull starts at the right edge and goes left.
    return InterfaceLocale::current().isRightToLeft() ? width() - x : x;
}

void NavigationController::mousePressEvent(QMouseEvent* event) {
    const double x = fromLeadingEdge(event->position().x());
    swipeStart_.reset();
    if (backSwipe_ && pages_.size() > 1 && x <= kSwipeEdge) {
        swipeStart_ = x;
        event->accept();
        return;
    }
    View::mousePressEvent(event);
}

void NavigationController::mouseMoveEvent(QMouseEvent* event) {
    if (swipeStart_) {
        event->accept();
        return;
    }
    View::mouseMoveEvent(event);
}

void NavigationController::mouseReleaseEvent(QMouseEvent* event) {
    if (swipeStart_) {
        const double travelled = fromLeadingEdge(event->position().x()) - *swipeStart_;
        swipeStart_.reset();
        if (travelled >= kSwipeDistance) {
            goBack();
        }
        event->accept();
        return;
    }
    View::mouseReleaseEvent(event);
}

}  // namespace platform::ui
