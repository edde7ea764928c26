#pragma once

#include <QApplication>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/Controls.h"
#include "platform/ui/View.h"

namespace platform {
class RunLoop;
}

namespace platform::ui {

// Layers of the main window, lowest first. Overlays stay inside the one window (no top-level
// windows of their own), so that their order is the same on every display server.
enum class Layer { page = 1, pageOverlay = 2, alert = 3, loading = 4, banner = 5 };

// The application's one top-level window: the root view (a navigation) and the overlays
// above it by layer; within a layer the last added is on top. The top-most overlay of the
// page-overlay, alert and loading layers takes the keyboard: focus moves into it, keys, touches
// and drops meant for the views below it are dropped, and when it goes the focus returns to
// where it was. Banners above it stay live.
class MainWindow : public View {
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;
    // The window takes the view and fills itself with it; the previous root is freed.
    void setRootView(View* root);
    [[nodiscard]] View* rootView() const { return root_; }
    // The window takes the overlay, stretched over the window unless keepFrame.
    void addOverlay(View* overlay, Layer layer, bool keepFrame = false);
    // The overlays in a layer, bottom first.
    [[nodiscard]] std::vector<View*> overlays(Layer layer) const;
    // The top-most overlay or the root: what a person sees in front.
    [[nodiscard]] View* frontView() const;
    // Which window has the keyboard: this one unless an overlay took it.
    void makeKeyAndVisible();
    [[nodiscard]] bool isKey() const { return key_; }
    void setKey(bool key) { key_ = key; }
    // The overlay that has the keyboard, or null when the page has it.
    [[nodiscard]] View* keyboardOwner() const;
    // Whether input meant for the widget is dropped because an overlay above it has the
    // keyboard.
    [[nodiscard]] bool isBlocked(const QWidget* widget) const;
    // The small indicator of network activity in the window's top bar: the bar of the root
    // navigation, and of each root that follows. While the root has no bar nothing shows.
    void setNetworkActivityIndicatorVisible(bool visible);
    [[nodiscard]] bool isNetworkActivityIndicatorVisible() const { return networkActivity_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void childEvent(QChildEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void restack();
    // Hands the keyboard to the overlay on top, or back to where it was before.
    void updateKeyboard();
    void focusInto(View* owner);
    void showNetworkActivity();

    View* root_ = nullptr;
    struct Entry {
        ViewGuard<View> view;
        Layer layer;
        bool keepFrame;
    };
    std::vector<Entry> overlays_;
    // The overlays that took the keyboard, lowest first, with the widget that had it before.
    struct Holder {
        ViewGuard<View> owner;
        QPointer<QWidget> focusBefore;
    };
    std::vector<Holder> holders_;
    bool key_ = false;
    bool networkActivity_ = false;
};

// An alert inside the window: a dimmed ground and a box with a title, a message and a row of
// buttons. A button dismisses the alert and then calls the handler with its index.
class AlertView : public View {
public:
    AlertView(std::string_view title, std::string_view message,
              std::vector<std::string> buttons, QWidget* parent = nullptr);
    void setTag(int tag) { tag_ = tag; }
    [[nodiscard]] int tag() const { return tag_; }
    [[nodiscard]] std::string title() const { return title_->text(); }
    [[nodiscard]] std::string message() const { return message_->text(); }
    [[nodiscard]] std::size_t buttonCount() const { return buttons_.size(); }
    [[nodiscard]] Button& button(std::size_t index) { return *buttons_.at(index); }
    void onButton(std::function<void(std::size_t index)> pressed) { pressed_ = std::move(pressed); }
    // A view of the box's width and this height between the message and the buttons, for
    // what a caller dresses the alert with (a spinner and a line of text, a picker), so that
    // it never covers the texts; the alert owns it. The one it replaces goes once the
    // current event is over (a button in it may be what replaces it).
    void setContentView(View* content, double height);
    [[nodiscard]] View* contentView() const { return content_; }
    // Goes without a button.
    void dismiss();
    [[nodiscard]] View& box() { return *box_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutBox();

    View* box_;
    Label* title_;
    Label* message_;
    std::vector<Button*> buttons_;
    ViewGuard<View> content_;
    double contentHeight_ = 0;
    int tag_ = 0;
    std::function<void(std::size_t)> pressed_;
};

// The Qt application and the main run loop on Qt's event loop: the loop's due work runs
// between Qt's events, woken by posts from any thread.
class Application {
public:
    Application(int& argc, char** argv);
    ~Application();
    // Loads a font file and makes its family the application's system font; false when the
    // file is not a font.
    static bool useFontFile(std::string_view path, double defaultSize = 15);
    // Runs Qt's loop with the main run loop beside it until quit() or the loop's stop().
    int exec(RunLoop& loop);
    static void quit();

private:
    std::unique_ptr<QApplication> app_;
};

}  // namespace platform::ui
