#include "platform/ui/LifeCycle.h"

#include <QEvent>
#include <QGuiApplication>
#include <QObject>
#include <QWidget>
#include <utility>

#include "platform/ui/Window.h"

namespace platform::ui {

// Hears the window's showing, hiding and minimising, and Qt's application state.
class LifeCycle::Watcher : public QObject {
public:
    explicit Watcher(LifeCycle& owner) : owner_(owner) {
        owner_.window_.installEventFilter(this);
        if (auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
            QObject::connect(application, &QGuiApplication::applicationStateChanged, this,
                             [this](Qt::ApplicationState state) {
                                 owner_.focused_ = state == Qt::ApplicationActive;
                                 owner_.follow();
                             });
        }
    }
    ~Watcher() override { owner_.window_.removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &owner_.window_) {
            switch (event->type()) {
                case QEvent::Show:
                case QEvent::Hide:
                case QEvent::WindowStateChange:
                case QEvent::DynamicPropertyChange:
                    owner_.follow();
                    break;
                default:
                    break;
            }
        }
        return false;
    }

private:
    LifeCycle& owner_;
};

namespace {

// Set on the window while a system page covers it; its change reaches the life cycle's filter.
constexpr const char* kSystemPageProperty = "kavoCoveredBySystemPage";

// Watches every paint of the application until one lands in the window, then lets the paint
// finish (and its pixels go out) before it tells.
class FirstPaint : public QObject {
public:
    FirstPaint(MainWindow& window, std::function<void()> drawn)
        : QObject(&window), window_(window), drawn_(std::move(drawn)) {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~FirstPaint() override { QCoreApplication::instance()->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !seen_) {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (widget != nullptr && (widget == &window_ || window_.isAncestorOf(widget))) {
                seen_ = true;
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        auto drawn = std::move(drawn_);
                        deleteLater();
                        if (drawn) {
                            drawn();
                        }
                    },
                    Qt::QueuedConnection);
            }
        }
        return false;
    }

private:
    MainWindow& window_;
    std::function<void()> drawn_;
    bool seen_ = false;
};

}  // namespace

void setCoveredBySystemPage(MainWindow& window, bool covered) {
    if (isCoveredBySystemPage(window) != covered) {
        window.setProperty(kSystemPageProperty, covered);
    }
}

bool isCoveredBySystemPage(const MainWindow& window) {
    return window.property(kSystemPageProperty).toBool();
}

void bringToFront(MainWindow& window) {
    if (window.isMinimized()) {
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    }
    window.show();
    window.raise();
    window.activateWindow();
}

void whenFirstDrawn(MainWindow& window, std::function<void()> drawn) {
    new FirstPaint(window, std::move(drawn));  // a child of the window, which frees it
}

LifeCycle::LifeCycle(MainWindow& window, std::function<void(LifeEvent)> changed)
    : window_(window),
      changed_(std::move(changed)),
      focused_(QGuiApplication::applicationState() == Qt::ApplicationActive),
      watcher_(std::make_unique<Watcher>(*this)) {
    follow();
}

LifeCycle::~LifeCycle() = default;

void LifeCycle::follow() {
    const auto inFront = [this] { return window_.isVisible() && !window_.isMinimized(); };
    if (!shownOnce_) {
        if (!inFront()) {
            return;
        }
        shownOnce_ = true;
    }
    const auto target = [this, &inFront] {
        if (!inFront()) {
            return LifeState::background;
        }
        return focused_ && !isCoveredBySystemPage(window_) ? LifeState::active
                                                            : LifeState::inactive;
    };
    // A handler that hides or shows the window re-enters here; the target is read again after
    // every step, so the steps stay in order and none repeats.
    for (LifeState wanted = target(); state_ != wanted; wanted = target()) {
        switch (state_) {
            case LifeState::active:
                step(LifeEvent::willResignActive, LifeState::inactive);
                break;
            case LifeState::inactive:
                if (wanted == LifeState::background) {
                    step(LifeEvent::didEnterBackground, LifeState::background);
                } else {
                    step(LifeEvent::didBecomeActive, LifeState::active);
                }
                break;
            case LifeState::background:
                step(LifeEvent::willEnterForeground, LifeState::inactive);
                break;
        }
    }
}

void LifeCycle::step(LifeEvent event, LifeState to) {
    state_ = to;
    if (changed_) {
        changed_(event);
    }
}

}  // namespace platform::ui
