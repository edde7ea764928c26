#include "platform/ui/Presentation.h"

#include <utility>
#include <vector>

#include "platform/ui/Animator.h"
#include "platform/ui/Window.h"

namespace platform::ui {

namespace {

constexpr double kPresentDuration = 0.35;
constexpr const char* kLinksKey = "presentationLinks";

struct Links {
    ViewGuard<Page> presented;
    ViewGuard<Page> presenting;
    PresentationStyle style = PresentationStyle::cover;
    // Set while the page is on its way out; later dismissals wait for the same end.
    bool dismissing = false;
    std::vector<std::function<void()>> dismissed;
};

Links* findLinks(const Page& page) {
    for (QObject* child : page.children()) {
        if (child->objectName() == QLatin1String(kLinksKey)) {
            if (auto* state = dynamic_cast<AttachedState*>(child)) {
                return static_cast<Links*>(state->value.get());
            }
        }
    }
    return nullptr;
}

Links& links(Page& page) {
    return attached<Links>(page, kLinksKey);
}

bool covers(PresentationStyle style) {
    return style != PresentationStyle::overCurrentContext;
}

// The page and every page presented above it, bottom first.
std::vector<Page*> chainFrom(Page& page) {
    std::vector<Page*> chain{&page};
    for (Page* next = presentedPage(page); next != nullptr; next = presentedPage(*next)) {
        chain.push_back(next);
    }
    return chain;
}

Rect slidFrame(const Rect& frame, double value) {
    Rect moved = frame;
    moved.y = frame.y + frame.height * (1 - value);
    return moved;
}

// Puts the page over the whole window the presenter is in (it is on screen, so in one).
void placeOver(Page& presenter, Page& page) {
    if (auto* window = dynamic_cast<MainWindow*>(presenter.window())) {
        window->addOverlay(&page, Layer::pageOverlay);
    }
}

// Runs step over the animation's values, then finish; at once when not animated.
void run(bool animated, std::function<void(double)> step, std::function<void()> finish) {
    if (!animated) {
        step(1.0);
        finish();
        return;
    }
    step(0.0);  // where it starts, until the animator's first step
    Animator::current().animate(Animation{kPresentDuration, Curve::easeInOut, std::move(step),
                                          [finish = std::move(finish)](bool) { finish(); },
                                          {}});
}

void animateIn(Page& page, PresentationStyle style, bool animated, std::function<void()> done) {
    ViewGuard<Page> guard(&page);
    const Rect frame = page.frame();
    run(animated,
        [guard, style, frame](double value) {
            if (!guard) {
                return;
            }
            if (style == PresentationStyle::crossDissolve) {
                guard->setAlpha(value);
            } else {
                guard->setFrame(slidFrame(frame, value));
            }
        },
        std::move(done));
}

}  // namespace

Page* presentedPage(const Page& page) {
    const Links* found = findLinks(page);
    return found == nullptr ? nullptr : found->presented.data();
}

Page* presentingPage(const Page& page) {
    const Links* found = findLinks(page);
    return found == nullptr ? nullptr : found->presenting.data();
}

NavigationController* navigationOf(const Page& page) {
    for (QWidget* up = page.parentWidget(); up != nullptr; up = up->parentWidget()) {
        if (auto* navigation = dynamic_cast<NavigationController*>(up)) {
            return navigation;
        }
    }
    return nullptr;
}

Page* topMostPage(const MainWindow& window) {
    View* root = window.rootView();
    Page* page = nullptr;
    if (auto* navigation = dynamic_cast<NavigationController*>(root)) {
        page = navigation->topPage();
    } else {
        page = dynamic_cast<Page*>(root);
    }
    while (page != nullptr && presentedPage(*page) != nullptr) {
        page = presentedPage(*page);
    }
    return page;
}

bool presentPage(Page& presenter, std::unique_ptr<Page> page, PresentationStyle style,
                 bool animated, std::function<void()> completion) {
    if (presenter.hasLeft() || !page) {
        return false;
    }
    if (presenter.isOnScreen() && presentedPage(presenter) != nullptr) {
        return false;  // one presentation at a time
    }
    if (!presenter.isOnScreen()) {
        auto held = std::make_shared<std::unique_ptr<Page>>(std::move(page));
        ViewGuard<Page> waiting(&presenter);
        presenter.whenOnScreen([waiting, held, style, animated, completion]() mutable {
            if (waiting) {
                presentPage(*waiting, std::move(*held), style, animated, std::move(completion));
            }
        });
        return true;
    }
    Page* shown = page.release();
    links(presenter).presented = shown;
    Links& own = links(*shown);
    own.presenting = &presenter;
    own.style = style;
    placeOver(presenter, *shown);

    shown->loadViewIfNeeded();
    if (covers(style)) {
        presenter.beginAppearanceTransition(false, animated);
    }
    shown->beginAppearanceTransition(true, animated);
    ViewGuard<Page> from(&presenter);
    ViewGuard<Page> to(shown);
    animateIn(*shown, style, animated, [from, to, style, completion = std::move(completion)] {
        if (from && covers(style)) {
            from->endAppearanceTransition();
        }
        if (to) {
            to->endAppearanceTransition();
        }
        if (completion) {
            completion();
        }
    });
    return true;
}

void dismissPage(Page& page, bool animated, std::function<void()> completion) {
    Page* target = presentedPage(page);
    if (target == nullptr && presentingPage(page) != nullptr) {
        target = &page;
    }
    if (target == nullptr) {
        if (completion) {
            completion();
        }
        return;
    }
    Links& own = links(*target);
    if (completion) {
        own.dismissed.push_back(std::move(completion));
    }
    if (own.dismissing) {
        return;
    }
    own.dismissing = true;
    Page* presenter = own.presenting.data();
    const bool backOnScreen = covers(own.style) && presenter != nullptr && !presenter->hasLeft();

    std::vector<ViewGuard<Page>> going;
    for (Page* leaving : chainFrom(*target)) {
        if (leaving->isOnScreen()) {
            leaving->beginAppearanceTransition(false, animated);
        }
        going.emplace_back(leaving);
    }
    if (backOnScreen) {
        presenter->beginAppearanceTransition(true, animated);
    }

    const PresentationStyle style = own.style;
    const Rect frame = target->frame();
    ViewGuard<Page> back(presenter);
    run(
        animated,
        [going, style, frame](double value) {
            const ViewGuard<Page>& moving = going.front();
            if (!moving) {
                return;
            }
            if (style == PresentationStyle::crossDissolve) {
                moving->setAlpha(1 - value);
            } else {
                moving->setFrame(slidFrame(frame, 1 - value));
            }
        },
        [going, back, backOnScreen] {
            std::vector<std::function<void()>> done;
            if (going.front()) {
                done = std::move(links(*going.front()).dismissed);
            }
            for (auto it = going.rbegin(); it != going.rend(); ++it) {
                if (*it) {
                    (*it)->endAppearanceTransition();
                }
            }
            if (back) {
                links(*back).presented = nullptr;
                if (backOnScreen) {
                    back->endAppearanceTransition();
                }
            }
            for (auto it = going.rbegin(); it != going.rend(); ++it) {
                if (*it) {
                    leavePage(**it);
                    (*it)->hide();
                    (*it)->deleteLater();
                }
            }
            for (auto& callback : done) {
                callback();
            }
        });
}

void leavePage(Page& page) {
    if (Page* above = presentedPage(page)) {
        leavePage(*above);
        above->hide();
        above->deleteLater();
        links(page).presented = nullptr;
    }
    page.leave();
}

void replaceRootView(MainWindow& window, View* root) {
    View* old = window.rootView();
    if (old == root) {
        return;
    }
    std::vector<Page*> pages;
    if (auto* navigation = dynamic_cast<NavigationController*>(old)) {
        pages = navigation->pages();
    } else if (auto* page = dynamic_cast<Page*>(old)) {
        pages.push_back(page);
    }
    // Top first: what covers a page disappears before it.
    std::vector<Page*> onScreen;
    for (Page* page : pages) {
        for (Page* shown : chainFrom(*page)) {
            if (shown->isOnScreen()) {
                onScreen.insert(onScreen.begin(), shown);
            }
        }
    }
    for (Page* page : onScreen) {
        page->beginAppearanceTransition(false, false);
    }
    for (Page* page : onScreen) {
        page->endAppearanceTransition();
    }
    for (Page* page : pages) {
        leavePage(*page);
    }
    window.setRootView(root);
    Page* front = nullptr;
    if (auto* navigation = dynamic_cast<NavigationController*>(root)) {
        front = navigation->topPage();
    } else {
        front = dynamic_cast<Page*>(root);
    }
    if (front != nullptr) {
        front->didMoveToWindow();
    }
}

}  // namespace platform::ui
