#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/WeakPtr.h"
#include "platform/ui/web/WebView.h"

namespace platform::ui::web {

class ScriptedWebViewFactory;

// The deterministic web view of the screens' tests: pages come from what the test scripted on
// the factory, loads end on the run loop (on its virtual clock in tests), and the navigations a
// page would make are made by the test (follow). The delegate is asked, and hears of the start,
// within load(); the engine tells both a moment later, so a screen relies on neither.
class ScriptedWebView : public WebView {
public:
    ScriptedWebView(ScriptedWebViewFactory& factory, QWidget& parent);
    ~ScriptedWebView() override;

    void setDelegate(WebViewDelegate* delegate) override { delegate_ = delegate; }
    void load(std::string_view url) override;
    void loadHTML(std::string_view html, std::string_view baseURL) override;
    void stop() override;
    [[nodiscard]] std::string url() const override { return url_; }
    [[nodiscard]] bool isLoading() const override { return loading_.has_value(); }
    void evaluate(std::string_view script, ScriptDone done = nullptr) override;

    // The page navigates as if the user followed a link (or a script of the page went there):
    // the delegate decides, then the address loads. Whether it was allowed.
    bool follow(std::string_view url, NavigationType type = NavigationType::linkActivated);
    // The HTML last given to loadHTML, and the scripts evaluated in order.
    [[nodiscard]] const std::string& html() const { return html_; }
    [[nodiscard]] const std::vector<std::string>& scripts() const { return scripts_; }

private:
    struct Loading {
        std::string url;
        unsigned serial = 0;
    };
    bool navigate(std::string url, NavigationType type, std::optional<std::string> html);
    void begin(std::string url);
    void end(unsigned serial);
    void fail(const Error& error);

    ScriptedWebViewFactory& factory_;
    WebViewDelegate* delegate_ = nullptr;
    std::string url_;
    std::string html_;
    std::vector<std::string> scripts_;
    std::optional<Loading> loading_;
    unsigned serial_ = 0;
    WeakPtrFactory<ScriptedWebView> weak_;
};

class ScriptedWebViewFactory : public WebViewFactory {
public:
    // What an address answers.
    struct Page {
        // Nothing: the page loads; an error: the load fails with it.
        std::optional<Error> failure;
        // How long the load takes on the loop's clock.
        double seconds = 0;
    };
    // What a script answers: given the page's address and the script.
    using ScriptAnswer = std::function<Value(const std::string& url, const std::string& script)>;

    explicit ScriptedWebViewFactory(RunLoop& loop) : loop_(loop) {}

    // The engine missing: unavailable() and make() report the reason.
    void setUnavailable(std::string reason);
    [[nodiscard]] std::optional<Error> unavailable() const override { return unavailable_; }
    [[nodiscard]] Result<WebView*> make(QWidget& parent) override;

    void setUserAgent(std::string_view userAgent) override { userAgent_ = userAgent; }
    [[nodiscard]] std::string userAgent() const override { return userAgent_; }
    void clearCookies() override { ++cookieClears_; }
    [[nodiscard]] int cookieClears() const { return cookieClears_; }

    // What the address answers from now on. Addresses nobody scripted fail with kLoadFailed;
    // HTML given to loadHTML always loads.
    void servePage(std::string url, Page page);
    void servePage(std::string url) { servePage(std::move(url), Page()); }
    // The answer of every script from now on (null without one).
    void answerScripts(ScriptAnswer answer) { scriptAnswer_ = std::move(answer); }

    // The web views made, oldest first, while they live.
    [[nodiscard]] std::vector<ScriptedWebView*> views() const;
    [[nodiscard]] ScriptedWebView* lastView() const;

private:
    friend class ScriptedWebView;
    [[nodiscard]] RunLoop& loop() const { return loop_; }
    [[nodiscard]] std::optional<Page> pageAt(const std::string& url) const;
    [[nodiscard]] Value answer(const std::string& url, const std::string& script) const;
    void forget(ScriptedWebView& view);

    RunLoop& loop_;
    std::optional<Error> unavailable_;
    std::string userAgent_;
    int cookieClears_ = 0;
    std::map<std::string, Page> pages_;
    ScriptAnswer scriptAnswer_;
    std::vector<ScriptedWebView*> views_;
};

}  // namespace platform::ui::web
