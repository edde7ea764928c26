#pragma once

#include <functional>
#include <memory>

namespace platform::ui {

class MainWindow;

// Where the application stands for its user, told by the desktop: in front with the focus,
// in front without it, or out of sight.
enum class LifeState { active, inactive, background };

// The steps between those states, in the order a delegate hears them.
enum class LifeEvent { willResignActive, didBecomeActive, didEnterBackground, willEnterForeground };

// Follows the main window and the desktop's focus: the window hidden or minimised puts the
// application in the background and shown again brings it to the foreground; losing or
// gaining the focus (Qt's application state), or a system page covering the window and going
// again, makes it inactive or active. Every step is told
// once, in order: resigning comes before the background, the foreground before becoming
// active. Until the window has first been shown the application is inactive and nothing is
// told. Main thread; the window outlives this.
class LifeCycle {
public:
    LifeCycle(MainWindow& window, std::function<void(LifeEvent)> changed);
    ~LifeCycle();
    LifeCycle(const LifeCycle&) = delete;
    LifeCycle& operator=(const LifeCycle&) = delete;

    [[nodiscard]] LifeState state() const { return state_; }

private:
    class Watcher;
    friend class Watcher;

    // Moves to what the window and the focus say now, telling each step on the way.
    void follow();
    void step(LifeEvent event, LifeState to);

    MainWindow& window_;
    std::function<void(LifeEvent)> changed_;
    LifeState state_ = LifeState::inactive;
    bool shownOnce_ = false;
    // Qt's application state as its last change told it.
    bool focused_;
    std::unique_ptr<Watcher> watcher_;
};

// Whether a page of the system's own (the application's settings) covers the window. While one
// does, the application is inactive, as when the user turned to another program; it becomes
// active again once the page goes and the window has the focus.
void setCoveredBySystemPage(MainWindow& window, bool covered);
[[nodiscard]] bool isCoveredBySystemPage(const MainWindow& window);

// Shows the window again when it is hidden or minimised and raises it, as the desktop does
// for an application the user turns to; the life cycle hears the return to the foreground.
void bringToFront(MainWindow& window);

// Calls drawn once, on the main thread, after the window or one of its views has first been
// painted (its pixels handed to the display). Nothing when the window goes before that.
void whenFirstDrawn(MainWindow& window, std::function<void()> drawn);

}  // namespace platform::ui
