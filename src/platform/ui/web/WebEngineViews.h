#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/web/WebView.h"

class QWebEngineProfile;

namespace platform::ui::web {

class WebEngineView;

// What decides whether the web engine can start on this machine, gathered without starting it.
struct WebEngineMachine {
    bool widgetsApplication = false;  // a Qt Widgets application is running
    bool root = false;                // the process runs as root
    bool sandboxDisabled = false;     // QTWEBENGINE_DISABLE_SANDBOX, or --no-sandbox in the flags
    std::filesystem::path helper;     // the engine's content process program
    bool helperRuns = false;          // ...exists and may be run
    std::filesystem::path resources;  // the engine's resource pack
    bool resourcesThere = false;

    // This process and this machine, now.
    static WebEngineMachine current();
};

// Why the engine cannot start on that machine; nothing when it can.
[[nodiscard]] std::optional<std::string> webEngineProblem(const WebEngineMachine& machine);

// Web views over Qt WebEngine (Chromium), sharing one profile: its user agent and cookies.
// Where the engine cannot start the factory says why (and logs it once) and makes none.
class WebEngineViewFactory : public WebViewFactory {
public:
    // What the engine asks of the Qt application; call before it is made.
    static void prepareApplication();

    // storage: where cookies and the HTTP cache are kept across runs; none keeps them in
    // memory for this run. The profile starts with the first view (or cookie clearing).
    explicit WebEngineViewFactory(std::optional<std::filesystem::path> storage);
    // The machine given rather than looked at.
    WebEngineViewFactory(std::optional<std::filesystem::path> storage,
                         const WebEngineMachine& machine);
    ~WebEngineViewFactory() override;
    WebEngineViewFactory(const WebEngineViewFactory&) = delete;
    WebEngineViewFactory& operator=(const WebEngineViewFactory&) = delete;

    [[nodiscard]] std::optional<Error> unavailable() const override { return unavailable_; }
    [[nodiscard]] Result<WebView*> make(QWidget& parent) override;
    void setUserAgent(std::string_view userAgent) override;
    [[nodiscard]] std::string userAgent() const override;
    void clearCookies() override;

private:
    friend class WebEngineView;
    QWebEngineProfile& profile();
    void forget(WebEngineView& view);

    std::optional<std::filesystem::path> storage_;
    std::optional<Error> unavailable_;
    std::string userAgent_;
    std::string engineUserAgent_;
    std::unique_ptr<QWebEngineProfile> profile_;
    std::vector<WebEngineView*> views_;
};

}  // namespace platform::ui::web
