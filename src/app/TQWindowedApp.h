#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/TQAppDelegate.h"
#include "platform/foundation/Replaceable.h"
#include "platform/host/InstanceChannel.h"
#include "platform/photos/PicturesFolderLibrary.h"
#include "platform/ui/ContactPicker.h"
#include "platform/ui/LifeCycle.h"
#include "platform/ui/Window.h"
#include "platform/ui/web/WebView.h"
#include "screens/TQScreenServices.h"
#include "screens/pairing/TQPairingRoles.h"
#include "ui/TQCustomAlertOverlay.h"
#include "ui/TQLoadingView.h"
#include "ui/TQStoryboard.h"
#include "ui/TQWindowServices.h"

class AppContext;

// The program with a window, over the composition root: the main window with the window's
// host, navigator and banners installed over it, the loading view, the storyboard, the
// application delegate, the life cycle the window reports to it (and to everyone through the
// default centre), and the channel a later start hands its URL through. Made and used on the
// main thread while a Qt application exists; the context outlives it.
class TQWindowedApp {
public:
    struct Settings {
        // Brings the link up; whether the core manager came.
        std::function<bool()> startLink;
        // Where later starts on the same home hand their URL; none when unset.
        std::optional<std::filesystem::path> channel;
        // The web views the screens make (not owned; outlives the application); without one
        // the screens find none available.
        platform::ui::web::WebViewFactory* webViews = nullptr;
    };

    // Logged once the window first drew its first screen.
    static constexpr const char* kDrawnLine = "TQWindowedApp: the first screen is drawn";

    TQWindowedApp(AppContext& context, Settings settings);
    ~TQWindowedApp();
    TQWindowedApp(const TQWindowedApp&) = delete;
    TQWindowedApp& operator=(const TQWindowedApp&) = delete;

    // The launch; then url, when given, is opened as a URL handed to the application. drawn,
    // when given, runs once the first screen is drawn.
    void launch(const std::optional<std::string>& url = std::nullopt,
                std::function<void()> drawn = nullptr);

    [[nodiscard]] TQAppDelegate& delegate() { return delegate_; }
    [[nodiscard]] platform::ui::MainWindow& window() { return window_; }
    [[nodiscard]] TQWindowServices& services() { return services_; }
    [[nodiscard]] const TQStoryboard& storyboard() const { return *storyboard_; }
    // Whether later starts can reach this one.
    [[nodiscard]] bool isListening() const { return channel_ != nullptr; }

private:
    void lifeCycleChanged(platform::ui::LifeEvent event);
    void openHandedURL(const std::string& text);

    AppContext& context_;
    Settings settings_;
    platform::ui::web::UnavailableWebViewFactory noWebViews_{"the program was given no web views"};
    platform::ui::MainWindow window_;
    // The find-my-phone alarm's overlay, given to the link's find-my-phone service while the
    // link is up.
    TQFindMyPhoneWindowPresenter findMyPhone_;
    // The screens' contact picker over the context's address book, and the user's pictures
    // folder as their photo library.
    platform::ui::AddressBookContactPicker contactPicker_;
    platform::photos::PicturesFolderLibrary photos_;
    // The pairing pages' hold on the link, which comes up at the delegate's step; it outlives
    // the pages and is taken down after the link.
    TQPairingRoles pairing_;
    // What the storyboard's screens stand on; it outlives them.
    TQScreenServices screenServices_;
    std::unique_ptr<TQStoryboard> storyboard_;
    TQWindowServices services_;
    TQLoadingView loading_;
    platform::ScopedInstall<platform::LoadingWindow> installLoading_{&loading_};
    TQAppDelegate delegate_;
    std::unique_ptr<platform::ui::LifeCycle> lifeCycle_;
    std::unique_ptr<platform::InstanceChannel> channel_;
};
