#pragma once

#include <functional>
#include <memory>

#include "platform/ui/Navigation.h"

namespace platform::ui {

class MainWindow;

// How a presented page comes over its presenter.
enum class PresentationStyle {
    cover,               // slides up over the whole window; the presenter disappears below it
    crossDissolve,       // fades in over the whole window; the presenter disappears below it
    overCurrentContext,  // slides up; the presenter stays on screen below it
};

// Presents the page over presenter, animated through the Animator, then calls completion.
// The presented page lives in the window's page-overlay layer and goes when dismissed. Asked
// for while the presenter is not on screen (in its viewWillAppear, or while it is covered), it
// waits until the presenter is; dropped if the presenter leaves first. False when refused at
// once: the presenter has left, or is on screen and already presents a page.
bool presentPage(Page& presenter, std::unique_ptr<Page> page, PresentationStyle style,
                 bool animated, std::function<void()> completion = {});

// Dismisses what page presents, or page itself when it presents nothing and was presented;
// everything presented above goes too. Completion runs once the presenter is back (at once
// when there is nothing to dismiss).
void dismissPage(Page& page, bool animated, std::function<void()> completion = {});

// What the page presents, and what presented it; null for none.
[[nodiscard]] Page* presentedPage(const Page& page);
[[nodiscard]] Page* presentingPage(const Page& page);

// The navigation the page is on; null when it is on none.
[[nodiscard]] NavigationController* navigationOf(const Page& page);
// What a person sees in front: the root's top page, then the page it presents, and so on.
[[nodiscard]] Page* topMostPage(const MainWindow& window);

// The page is off screen for good: what it presents goes at once (no events: they go with
// it) and it leaves (Page::leave). Its own widget is its owner's to free.
void leavePage(Page& page);

// Makes root the window's root view. The pages of the old root that are on screen, and those
// presented over them, are told they disappear, then leave, before the old root is freed.
void replaceRootView(MainWindow& window, View* root);

}  // namespace platform::ui
