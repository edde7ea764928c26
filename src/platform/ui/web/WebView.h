#pragma once

#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"
#include "platform/ui/View.h"

namespace platform::ui::web {

// The domain of the errors web views report; the codes below.
inline constexpr const char* kErrorDomain = "platform.web";
enum ErrorCode : long {
    // The page's engine cannot run here (kept by the factory, see unavailable()).
    kUnavailable = 1,
    // The engine could not load the address (network, name, refused, bad address); the
    // message is the engine's.
    kLoadFailed = 2,
    // The load was stopped: stop(), or another load took its place.
    kCancelled = 3,
    // The address names a scheme no web view loads (a link of the application's own).
    kUnsupportedURL = 4,
    // HTML too large for the engine to take as a string.
    kTooLarge = 5,
    // The process that shows the page ended; the next load starts a new one.
    kContentProcessEnded = 6,
};

// Why a navigation starts.
enum class NavigationType {
    linkActivated,  // the user followed a link
    formSubmitted,
    backForward,
    reload,
    redirect,
    other,  // asked for by the application or by a script of the page
};

struct NavigationAction {
    // The address as the engine parsed it: the host in lower case (kavomanager://Download/...
    // arrives as kavomanager://download/...), path and query as the page wrote them. A page
    // given as HTML navigates to its base address ("about:blank" without one).
    std::string url;
    NavigationType type = NavigationType::other;
    bool mainFrame = true;
};

enum class NavigationPolicy { allow, cancel };

// What a web view tells its owner. Everything is called on the main thread, from the web
// view's own events: the owner may change what the view shows but must not delete it from
// inside a call (a page that leaves is freed later by Qt, which is how pages go).
class WebViewDelegate {
public:
    virtual ~WebViewDelegate() = default;
    // Asked once for every navigation before anything of it is loaded; a cancelled one is
    // reported nowhere else. Links of schemes no web view loads are always asked about and
    // never loaded: allowing one ends in didFailLoading with kUnsupportedURL.
    virtual NavigationPolicy decidePolicy(const NavigationAction& /*action*/) {
        return NavigationPolicy::allow;
    }
    // A main-frame load that was allowed began.
    virtual void didStartLoading(const std::string& /*url*/) {}
    // It ended with a page (an HTTP error answer is a page too).
    virtual void didFinishLoading(const std::string& /*url*/) {}
    // It ended without one: the error's domain is kErrorDomain.
    virtual void didFailLoading(const std::string& /*url*/, const Error& /*error*/) {}
};

// The result of a script: its value as JSON would carry it (numbers are reals); null when the
// script gave none, threw, or gave what cannot be carried (the engine does not say which).
using ScriptDone = std::function<void(Value)>;

// A view that shows web pages. Made by a WebViewFactory as a child of a page's view, owned by
// it the Qt way; laid out like any view (setFrame).
class WebView : public View {
public:
    using View::View;
    ~WebView() override = default;

    // A non-owning delegate; null for none.
    virtual void setDelegate(WebViewDelegate* delegate) = 0;

    // Loads the address (http, https, file, about). An address that does not parse fails
    // through the delegate.
    virtual void load(std::string_view url) = 0;
    // Shows the HTML as if it came from baseURL (empty: "about:blank"), which relative
    // addresses resolve against.
    virtual void loadHTML(std::string_view html, std::string_view baseURL) = 0;
    // Stops the load in progress, which then fails with kCancelled.
    virtual void stop() = 0;
    // The address of the page shown or being loaded; empty before the first load.
    [[nodiscard]] virtual std::string url() const = 0;
    [[nodiscard]] virtual bool isLoading() const = 0;

    // Runs the script in the page's own scripting context (the page's functions are there).
    // done, when given, is called on the main thread with the result, unless the view is gone
    // first.
    virtual void evaluate(std::string_view script, ScriptDone done = nullptr) = 0;
};

// Makes the web views of the application; they share its user agent and cookies.
class WebViewFactory {
public:
    virtual ~WebViewFactory() = default;

    // Why no web view can be made on this machine (kUnavailable); nothing when one can.
    [[nodiscard]] virtual std::optional<Error> unavailable() const = 0;
    // A new web view, a child of parent; the error of unavailable() when none can be made.
    [[nodiscard]] virtual Result<WebView*> make(QWidget& parent) = 0;

    // The User-Agent the web views send and show to their pages (navigator.userAgent); empty
    // for the engine's own. Applies to loads that start afterwards.
    virtual void setUserAgent(std::string_view userAgent) = 0;
    [[nodiscard]] virtual std::string userAgent() const = 0;

    // Forgets every cookie of the web views (the account's session, on sign-out); loads that
    // start afterwards send none of them.
    virtual void clearCookies() = 0;
};

// Whether a web view loads the address's scheme (http, https, file, data, about, blob);
// others are links of applications, never loaded (see decidePolicy).
[[nodiscard]] bool loadsScheme(std::string_view url);

// Where no web view can be made at all: always unavailable, for the reason given.
class UnavailableWebViewFactory : public WebViewFactory {
public:
    explicit UnavailableWebViewFactory(std::string reason);
    [[nodiscard]] std::optional<Error> unavailable() const override { return error_; }
    [[nodiscard]] Result<WebView*> make(QWidget& /*parent*/) override { return error_; }
    void setUserAgent(std::string_view userAgent) override { userAgent_ = userAgent; }
    [[nodiscard]] std::string userAgent() const override { return userAgent_; }
    void clearCookies() override {}

private:
    Error error_;
    std::string userAgent_;
};

}  // namespace platform::ui::web
