#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Value.h"
#include "platform/foundation/WeakPtr.h"
#include "platform/ui/Controls.h"
#include "platform/ui/View.h"

namespace platform::ui {

// A button of the navigation bar: a title or an image, whether it takes touches, and what
// it does.
struct BarButtonItem {
    std::string title;
    image::Image image;
    bool enabled = true;
    std::function<void()> action;
};

enum class BarSide { left, right };

// What a page shows in the bar while it is on top: a button on either side. A left button
// takes the back button's place. The bar follows every change.
class NavigationItem {
public:
    void setButton(BarSide side, std::optional<BarButtonItem> item);
    [[nodiscard]] const std::optional<BarButtonItem>& button(BarSide side) const {
        return side == BarSide::left ? left_ : right_;
    }
    // Nothing for a side without a button.
    void setButtonEnabled(BarSide side, bool enabled);
    // A page that may not be left by going back shows no back button.
    void setHidesBackButton(bool hides);
    [[nodiscard]] bool hidesBackButton() const { return hidesBackButton_; }
    void onChanged(std::function<void()> changed) { changed_ = std::move(changed); }

private:
    std::optional<BarButtonItem> left_;
    std::optional<BarButtonItem> right_;
    bool hidesBackButton_ = false;
    std::function<void()> changed_;
};

// A named number of a page's layout that code may change (the platform's layout constraint,
// reduced to what pages set: a constant under an identifier).
struct LayoutConstraint {
    std::string identifier;
    double constant = 0;
};

// One screen. Its view loads once, before it first shows (viewDidLoad); the navigation tells
// it when it will and did appear and disappear. Subclasses name their class, which is how
// core code knows them.
class Page : public View {
public:
    explicit Page(std::string className, QWidget* parent = nullptr);
    ~Page() override;
    [[nodiscard]] const std::string& className() const { return className_; }
    void setTitle(std::string_view title) { title_ = title; }
    [[nodiscard]] const std::string& title() const { return title_; }
    [[nodiscard]] NavigationItem& navigationItem() { return *navigationItem_; }
    [[nodiscard]] const std::shared_ptr<NavigationItem>& sharedNavigationItem() const {
        return navigationItem_;
    }

    void loadViewIfNeeded();
    [[nodiscard]] bool isViewLoaded() const { return loaded_; }

    virtual void viewDidLoad() {}
    virtual void viewWillAppear(bool /*animated*/) {}
    virtual void viewDidAppear(bool /*animated*/) {}
    virtual void viewWillDisappear(bool /*animated*/) {}
    virtual void viewDidDisappear(bool /*animated*/) {}

    // What brings a page on or off screen (navigation, presentation, a new root) tells it
    // through these, which call the four above and keep the state below true.
    void beginAppearanceTransition(bool appearing, bool animated);
    void endAppearanceTransition();
    // Between the end of an appearance and the start of the next disappearance, inside the
    // main window.
    [[nodiscard]] bool isOnScreen() const;
    // Runs the work now when the page is on screen, else once it is (work asked for in
    // viewWillAppear runs after viewDidAppear); dropped if the page leaves first.
    void whenOnScreen(std::function<void()> work);
    // The page came into the main window after it appeared (a new root made before it was
    // placed): runs the work that waits for it.
    void didMoveToWindow();

    // A storyboard segue is about to show destination; the page hands it what it needs.
    virtual void prepareForSegue(std::string_view /*identifier*/, Page& /*destination*/) {}

    // Null once the page has left (popped, dismissed, its root replaced) or is gone, so that
    // a callback the page handed out finds nobody.
    [[nodiscard]] WeakPtr<Page> weakPage() const;
    // The callback, called only while the page has not left.
    template <typename Callback>
    [[nodiscard]] auto guarded(Callback callback) const {
        return [page = weakPage(), callback = std::move(callback)](auto&&... args) {
            if (page) {
                callback(std::forward<decltype(args)>(args)...);
            }
        };
    }
    // Observes the application's notification centre until the page leaves.
    NotificationCenter::Token observe(std::string name, NotificationCenter::Observer observer,
                                      const void* sender = nullptr);
    // Runs once, when the page leaves (or is freed without having left).
    void whenLeaving(std::function<void()> work);
    // The page is off screen for good: weak pointers go now, before Qt frees it, and so do the
    // default centre's observers in the page's name (observe() or owner = the page); what
    // waits for the page to leave runs. Idempotent.
    void leave();
    [[nodiscard]] bool hasLeft() const { return !weak_; }

    // The back button's question: whether the page may go. Nothing means the page does not
    // answer it (the platform's optional method left out).
    virtual std::optional<bool> shouldPopViewController() { return std::nullopt; }
    // One of the page's own operations, by name, for core code; false when it has none.
    virtual bool perform(std::string_view /*operation*/, const Value& /*argument*/) {
        return false;
    }

    // The page's constraints, in the order they were added.
    LayoutConstraint& addConstraint(std::string identifier, double constant);
    [[nodiscard]] std::vector<LayoutConstraint>& constraints() { return constraints_; }
    // Applies the constraints now ("verticalSpaceBottom" is the space below the content view),
    // then lays out the page's own views.
    void layoutIfNeeded();
    // Where a page puts its content: the page less the bottom space.
    [[nodiscard]] View& contentView() { return *content_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    enum class Appearance { disappeared, appearing, appeared, disappearing };

    std::string className_;
    std::string title_;
    std::shared_ptr<NavigationItem> navigationItem_ = std::make_shared<NavigationItem>();
    bool loaded_ = false;
    std::vector<LayoutConstraint> constraints_;
    View* content_;
    Appearance appearance_ = Appearance::disappeared;
    bool animatedTransition_ = false;
    std::vector<std::function<void()>> whenOnScreen_;
    std::vector<std::function<void()>> whenLeaving_;
    NotificationCenter* observed_ = nullptr;
    std::unique_ptr<WeakPtrFactory<Page>> weak_;
};

// The bar above the pages: a back button titled by the locale, the top page's title and
// buttons, and a stack of items, one per page. Popping an item asks the delegate first. A
// right-to-left locale mirrors it: back and left button on the right.
class NavigationBar : public View {
public:
    explicit NavigationBar(QWidget* parent = nullptr);
    ~NavigationBar() override;
    [[nodiscard]] Button& backButton() { return *back_; }
    [[nodiscard]] std::size_t itemCount() const { return items_.size(); }
    void pushItem(std::string title, std::shared_ptr<NavigationItem> item = nullptr);
    // The top item's button on a side while one is shown.
    [[nodiscard]] Button* barButton(BarSide side) const {
        return side == BarSide::left ? leftButton_ : rightButton_;
    }
    // Asks shouldPopItem; removes the top item when it answers yes.
    bool popItem();
    void setShouldPopItem(std::function<bool()> ask) { shouldPopItem_ = std::move(ask); }
    // Every subview at this opacity (the back button dims while the bar pops).
    void setSubviewsAlpha(double alpha);
    // A small spinner turning just before the title, while network work is under way.
    void setActivityIndicatorVisible(bool visible);
    [[nodiscard]] bool isActivityIndicatorVisible() const { return activity_->isAnimating(); }
    [[nodiscard]] Spinner& activityIndicator() { return *activity_; }
    void layoutSubviews() override;

private:
    struct Item {
        std::string title;
        std::shared_ptr<NavigationItem> buttons;
    };
    void refresh();
    void showButton(Button*& shown, const std::optional<BarButtonItem>& item, BarSide side);

    Button* back_;
    Label* title_;
    Spinner* activity_;
    Button* leftButton_ = nullptr;
    Button* rightButton_ = nullptr;
    std::vector<Item> items_;
    std::function<bool()> shouldPopItem_;
};

// The stack of pages with its bar, a bottom bar pinned over the pages, and the back veto.
class NavigationController : public View {
public:
    static constexpr double kBarHeight = 44;

    explicit NavigationController(std::unique_ptr<Page> root, QWidget* parent = nullptr);
    ~NavigationController() override;

    void pushPage(std::unique_ptr<Page> page, bool animated);
    // False when only the root is left. Popped pages are freed once they are off screen.
    bool popPage(bool animated);
    // The number of pages popped.
    std::size_t popToRoot(bool animated);
    // Pops the pages above page; the number popped (0 when page is not on the stack).
    std::size_t popToPage(const Page& page, bool animated);
    [[nodiscard]] const std::vector<Page*>& pages() const { return pages_; }
    [[nodiscard]] Page* topPage() const { return pages_.empty() ? nullptr : pages_.back(); }

    [[nodiscard]] NavigationBar& navigationBar() { return *bar_; }
    void setNavigationBarHidden(bool hidden);
    [[nodiscard]] bool isNavigationBarHidden() const { return barHidden_; }
    // Pulling from the left edge to the right goes back, as the back button does.
    void setBackSwipeEnabled(bool enabled) { backSwipe_ = enabled; }
    [[nodiscard]] bool isBackSwipeEnabled() const { return backSwipe_; }
    // A view pinned to the bottom edge over the pages, at its height; the controller owns it.
    void setBottomBar(View* bar, double height);
    // What the user's back does: the bar pops its item through the question below.
    void goBack();

    // Told after a page has come on screen (pushed, popped to or first shown).
    void onDidShowPage(std::function<void(Page& page, bool animated)> shown) {
        didShow_ = std::move(shown);
    }

protected:
    // The bar asks before it pops an item. Fewer pages than items: the page was popped in
    // code, let the item go. Otherwise pop through the controller after the question.
    virtual bool navigationBarShouldPopItem();
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void layoutChildren();
    void transition(Page* from, Page* to, bool forward, bool animated,
                    std::vector<Page*> leaving);
    void popPagesAbove(std::size_t keep, bool animated);
    [[nodiscard]] Rect pageFrame() const;
    [[nodiscard]] double fromLeadingEdge(double x) const;

    NavigationBar* bar_;
    View* stack_;
    View* bottomBar_ = nullptr;
    double bottomBarHeight_ = 0;
    std::vector<Page*> pages_;
    bool barHidden_ = false;
    bool backSwipe_ = true;
    std::optional<double> swipeStart_;
    std::function<void(Page&, bool)> didShow_;
};

}  // namespace platform::ui
