#include "platform/ui/Window.h"

#include <QChildEvent>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/foundation/RunLoop.h"
#include "platform/ui/Navigation.h"
#include "platform/ui/TextMetrics.h"

namespace platform::ui {

// MainWindow

MainWindow::MainWindow(QWidget* parent) : View(parent) {
    const Size bounds = Screen::main().bounds();
    resize(static_cast<int>(std::lround(bounds.width)), static_cast<int>(std::lround(bounds.height)));
    setBackgroundColor(Color{1, 1, 1, 1});
    // Input reaches a widget without passing its parents, so the window watches all of it to
    // keep what lies under a modal overlay out of reach.
    QCoreApplication::instance()->installEventFilter(this);
}

MainWindow::~MainWindow() {
    QCoreApplication::instance()->removeEventFilter(this);
}

namespace {

bool takesKeyboard(Layer layer) {
    return layer == Layer::pageOverlay || layer == Layer::alert || layer == Layer::loading;
}

bool isInput(QEvent::Type type) {
    switch (type) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::InputMethod:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
            return true;
        default:
            return false;
    }
}

bool within(const QWidget* outer, const QWidget* widget) {
    return outer == widget || outer->isAncestorOf(widget);
}

}  // namespace

View* MainWindow::keyboardOwner() const {
    for (auto it = overlays_.rbegin(); it != overlays_.rend(); ++it) {
        if (it->view && it->view->parent() == this && !it->view->isHidden() &&
            takesKeyboard(it->layer)) {
            return it->view.data();
        }
    }
    return nullptr;
}

bool MainWindow::isBlocked(const QWidget* widget) const {
    const View* owner = keyboardOwner();
    if (owner == nullptr || widget == nullptr || !isAncestorOf(widget)) {
        return false;
    }
    bool above = false;
    for (const auto& entry : overlays_) {
        if (entry.view.data() == owner) {
            above = true;
        }
        if (above && entry.view && within(entry.view.data(), widget)) {
            return false;
        }
    }
    return true;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (isInput(type)) {
        if (watched->isWidgetType() && isBlocked(static_cast<QWidget*>(watched))) {
            event->accept();
            return true;
        }
    } else if ((type == QEvent::Show || type == QEvent::Hide) && watched->parent() == this &&
               std::any_of(overlays_.begin(), overlays_.end(),
                           [watched](const Entry& e) { return e.view.data() == watched; })) {
        updateKeyboard();
    }
    return View::eventFilter(watched, event);
}

void MainWindow::focusInto(View* owner) {
    QWidget* target = owner;
    for (QWidget* w = owner->nextInFocusChain(); w != nullptr && w != owner;
         w = w->nextInFocusChain()) {
        if (owner->isAncestorOf(w) && w->isEnabled() && !w->isHidden() &&
            (w->focusPolicy() & Qt::TabFocus) != 0) {
            target = w;
            break;
        }
    }
    target->setFocus(Qt::OtherFocusReason);
}

void MainWindow::updateKeyboard() {
    View* owner = keyboardOwner();
    QPointer<QWidget> restore;
    bool released = false;
    // Drop the holders that are gone; one still on screen under a new owner stays.
    while (!holders_.empty() && holders_.back().owner.data() != owner) {
        const Holder& back = holders_.back();
        const bool stillHolds =
            back.owner && back.owner->parent() == this && !back.owner->isHidden();
        if (stillHolds) {
            break;
        }
        restore = back.focusBefore;
        released = true;
        holders_.pop_back();
    }
    if (owner != nullptr && (holders_.empty() || holders_.back().owner.data() != owner)) {
        QWidget* had = focusWidget();
        holders_.push_back({ViewGuard<View>(owner),
                            QPointer<QWidget>(had != nullptr && !within(owner, had) ? had : nullptr)});
        focusInto(owner);
        return;
    }
    if (released) {
        if (restore && !isBlocked(restore)) {
            restore->setFocus(Qt::OtherFocusReason);
        } else if (owner != nullptr) {
            focusInto(owner);
        }
    }
}

bool MainWindow::focusNextPrevChild(bool next) {
    View* owner = keyboardOwner();
    if (owner == nullptr) {
        return View::focusNextPrevChild(next);
    }
    // Tab cycles within the overlay that has the keyboard.
    QWidget* start = focusWidget() != nullptr && within(owner, focusWidget()) ? focusWidget() : owner;
    QWidget* w = start;
    do {
        w = next ? w->nextInFocusChain() : w->previousInFocusChain();
        if (w != owner && within(owner, w) && w->isEnabled() && !w->isHidden() &&
            (w->focusPolicy() & Qt::TabFocus) != 0) {
            w->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    } while (w != nullptr && w != start);
    owner->setFocus(Qt::OtherFocusReason);
    return true;
}

void MainWindow::setRootView(View* root) {
    if (root_ != nullptr && root_ != root) {
        root_->deleteLater();
        root_->hide();
    }
    root_ = root;
    if (root != nullptr) {
        root->setParent(this);
        root->setFrame({0, 0, double(width()), double(height())});
        root->show();
    }
    restack();
    showNetworkActivity();
}

void MainWindow::setNetworkActivityIndicatorVisible(bool visible) {
    networkActivity_ = visible;
    showNetworkActivity();
}

void MainWindow::showNetworkActivity() {
    if (auto* navigation = dynamic_cast<NavigationController*>(root_)) {
        navigation->navigationBar().setActivityIndicatorVisible(networkActivity_);
    }
}

void MainWindow::addOverlay(View* overlay, Layer layer, bool keepFrame) {
    overlay->setParent(this);
    if (!keepFrame) {
        overlay->setFrame({0, 0, double(width()), double(height())});
    }
    if (takesKeyboard(layer)) {
        overlay->setFocusPolicy(Qt::ClickFocus);
    }
    overlays_.push_back(Entry{ViewGuard<View>(overlay), layer, keepFrame});
    restack();
    overlay->show();
    updateKeyboard();
}

std::vector<View*> MainWindow::overlays(Layer layer) const {
    std::vector<View*> found;
    for (const auto& entry : overlays_) {
        if (entry.view && entry.layer == layer && entry.view->parent() == this) {
            found.push_back(entry.view.data());
        }
    }
    return found;
}

View* MainWindow::frontView() const {
    for (auto it = overlays_.rbegin(); it != overlays_.rend(); ++it) {
        if (it->view && it->view->parent() == this && !it->view->isHidden()) {
            return it->view.data();
        }
    }
    return root_;
}

void MainWindow::makeKeyAndVisible() {
    key_ = true;
    show();
}

void MainWindow::restack() {
    std::erase_if(overlays_, [this](const Entry& e) { return !e.view || e.view->parent() != this; });
    std::stable_sort(overlays_.begin(), overlays_.end(),
                     [](const Entry& a, const Entry& b) { return a.layer < b.layer; });
    if (root_ != nullptr) {
        root_->lower();
    }
    for (const auto& entry : overlays_) {
        entry.view->raise();
    }
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    Screen::main().setBounds(Size{double(width()), double(height())});
    View::resizeEvent(event);
    const Rect all{0, 0, double(width()), double(height())};
    if (root_ != nullptr) {
        root_->setFrame(all);
    }
    for (const auto& entry : overlays_) {
        if (entry.view && !entry.keepFrame) {
            entry.view->setFrame(all);
        }
    }
}

void MainWindow::childEvent(QChildEvent* event) {
    View::childEvent(event);
    if (event->removed()) {
        std::erase_if(overlays_, [child = event->child()](const Entry& e) {
            return !e.view || e.view.data() == child;
        });
        updateKeyboard();
    }
}

// AlertView

namespace {
constexpr double kAlertWidth = 270;
constexpr double kAlertMargin = 16;
constexpr double kAlertButtonHeight = 44;
}  // namespace

AlertView::AlertView(std::string_view title, std::string_view message,
                     std::vector<std::string> buttons, QWidget* parent)
    : View(parent), box_(new View(this)), title_(new Label(box_)), message_(new Label(box_)) {
    setName("alert");
    setBackgroundColor(Color{0, 0, 0, 0.4});
    box_->setBackgroundColor(Color{0.97, 0.97, 0.97, 1});
    box_->setCornerRadius(13);
    title_->setName("alertTitle");
    title_->setText(title);
    title_->setFontSize(17);
    QFont bold = title_->font();
    bold.setBold(true);
    title_->QLabel::setFont(bold);
    title_->setNumberOfLines(0);
    title_->setTextAlignment(TextAlignment::center);
    message_->setName("alertMessage");
    message_->setText(message);
    message_->setFontSize(13);
    message_->setNumberOfLines(0);
    message_->setTextAlignment(TextAlignment::center);
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        auto* button = new Button(box_);
        button->setName("alertButton" + std::to_string(i));
        button->setTitle(buttons[i]);
        button->onAction([this, i] {
            auto pressed = pressed_;
            dismiss();
            if (pressed) {
                pressed(i);
            }
        });
        buttons_.push_back(button);
    }
    layoutBox();
}

void AlertView::dismiss() {
    hide();
    setParent(nullptr);
    deleteLater();
}

void AlertView::setContentView(View* content, double height) {
    if (content_ && content_ != content) {
        content_->hide();
        content_->deleteLater();
    }
    content_ = content;
    contentHeight_ = height;
    if (content != nullptr) {
        content->setParent(box_);
        content->show();
    }
    layoutBox();
}

void AlertView::layoutBox() {
    // As wide as a phone's alert, narrower only when the window is (an alert not yet given a
    // size has Qt's default one, which says nothing).
    const double available =
        testAttribute(Qt::WA_Resized) ? width() - 2.0 * kAlertMargin : kAlertWidth;
    const double boxWidth = std::clamp(available, 0.0, kAlertWidth);
    const double inner = boxWidth - 32;
    const auto heightOf = [inner](Label& label) {
        if (label.text().empty()) {
            return 0.0;
        }
        return double(label.heightForWidth(static_cast<int>(inner)));
    };
    const double titleHeight = heightOf(*title_);
    const double messageHeight = heightOf(*message_);
    double y = 20;
    title_->setFrame({16, y, inner, titleHeight});
    y += titleHeight + (messageHeight > 0 ? 4 : 0);
    message_->setFrame({16, y, inner, messageHeight});
    y += messageHeight;
    if (content_ != nullptr) {
        y += 8;
        content_->setFrame({0, y, boxWidth, contentHeight_});
        y += contentHeight_;
    }
    y += 20;
    const bool sideBySide = buttons_.size() == 2;
    const double buttonWidth = sideBySide ? boxWidth / 2 : boxWidth;
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        const double x = sideBySide ? buttonWidth * double(i) : 0;
        const double top = sideBySide ? y : y + kAlertButtonHeight * double(i);
        buttons_[i]->setFrame({x, top, buttonWidth, kAlertButtonHeight});
    }
    const double boxHeight =
        y + kAlertButtonHeight * (sideBySide ? 1.0 : double(buttons_.size()));
    box_->setFrame({(width() - boxWidth) / 2, (height() - boxHeight) / 2, boxWidth, boxHeight});
}

void AlertView::resizeEvent(QResizeEvent* event) {
    View::resizeEvent(event);
    layoutBox();
}

// Application

Application::Application(int& argc, char** argv)
    : app_(std::make_unique<QApplication>(argc, argv)) {}

Application::~Application() = default;

bool Application::useFontFile(std::string_view path, double defaultSize) {
    const int id = QFontDatabase::addApplicationFont(toQString(path));
    if (id < 0) {
        return false;
    }
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (families.isEmpty()) {
        return false;
    }
    QFont font(families.front());
    font.setPixelSize(static_cast<int>(std::lround(defaultSize)));
    font.setHintingPreference(QFont::PreferNoHinting);
    QApplication::setFont(font);
    return true;
}

int Application::exec(RunLoop& loop) {
    QTimer timer;
    timer.setSingleShot(true);
    auto reschedule = [&loop, &timer] {
        const double next = loop.nextDeadline() - loop.now();
        if (!std::isfinite(next)) {
            return;
        }
        timer.start(static_cast<int>(std::clamp(std::ceil(next * 1000), 0.0, 1e9)));
    };
    // The loop's stop() (a stopping signal) ends Qt's loop too.
    QObject::connect(&timer, &QTimer::timeout, [&loop, reschedule] {
        loop.processDue();
        if (loop.takeStopRequest()) {
            QApplication::quit();
            return;
        }
        reschedule();
    });
    loop.setWakeUpHandler([&timer] {
        QMetaObject::invokeMethod(&timer, [&timer] { timer.start(0); }, Qt::QueuedConnection);
    });
    if (loop.takeStopRequest()) {
        loop.setWakeUpHandler({});
        return 0;
    }
    reschedule();
    const int code = QApplication::exec();
    loop.setWakeUpHandler({});
    return code;
}

void Application::quit() {
    QApplication::quit();
}

}  // namespace platform::ui
