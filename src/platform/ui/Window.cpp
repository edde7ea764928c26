#include "platform/ui/Window.h"

#include <QChildEvent>
#include <QFontDatabase>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/foundation/RunLoop.h"
#include "platform/ui/TextMetrics.h"

namespace platform::ui {

// MainWindow

MainWindow::MainWindow(QWidget* parent) : View(parent) {
    const Size bounds = Screen::main().bounds();
    resize(static_cast<int>(std::lround(bounds.width)), static_cast<int>(std::lround(bounds.height)));
    setBackgroundColor(Color{1, 1, 1, 1});
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
}

void MainWindow::addOverlay(View* overlay, Layer layer, bool keepFrame) {
    overlay->setParent(this);
    if (!keepFrame) {
        overlay->setFrame({0, 0, double(width()), double(height())});
    }
    overlays_.push_back(Entry{ViewGuard<View>(overlay), layer, keepFrame});
    overlay->show();
    restack();
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
    }
}

// AlertView

namespace {
constexpr double kAlertWidth = 270;
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
    delete content_;
    content_ = content;
    contentHeight_ = height;
    if (content != nullptr) {
        content->setParent(box_);
        content->show();
    }
    layoutBox();
}

void AlertView::layoutBox() {
    const double inner = kAlertWidth - 32;
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
        content_->setFrame({0, y, kAlertWidth, contentHeight_});
        y += contentHeight_;
    }
    y += 20;
    const bool sideBySide = buttons_.size() == 2;
    const double buttonWidth = sideBySide ? kAlertWidth / 2 : kAlertWidth;
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        const double x = sideBySide ? buttonWidth * double(i) : 0;
        const double top = sideBySide ? y : y + kAlertButtonHeight * double(i);
        buttons_[i]->setFrame({x, top, buttonWidth, kAlertButtonHeight});
    }
    const double boxHeight =
        y + kAlertButtonHeight * (sideBySide ? 1.0 : double(buttons_.size()));
    box_->setFrame({(width() - kAlertWidth) / 2, (height() - boxHeight) / 2, kAlertWidth,
                    boxHeight});
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
    QObject::connect(&timer, &QTimer::timeout, [&loop, reschedule] {
        loop.processDue();
        reschedule();
    });
    loop.setWakeUpHandler([&timer] {
        QMetaObject::invokeMethod(&timer, [&timer] { timer.start(0); }, Qt::QueuedConnection);
    });
    reschedule();
    const int code = QApplication::exec();
    loop.setWakeUpHandler({});
    return code;
}

void Application::quit() {
    QApplication::quit();
}

}  // namespace platform::ui
