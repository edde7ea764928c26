#pragma once

#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/web/WebEngineViews.h"
#include "platform/ui/web/WebView.h"
#include "ui/support/OffscreenApplication.h"

namespace web_test {

// The test program's one application, made as the program makes its own for the engine. As
// root Chromium needs its sandbox off, which only tests and scripts/run ask for.
inline QApplication& application() {
    static const bool prepared = [] {
        if (::geteuid() == 0) {
            qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        }
        platform::ui::web::WebEngineViewFactory::prepareApplication();
        return true;
    }();
    (void)prepared;
    return ui_test::application();
}

// Drives Qt's loop until done() holds or the bound of real time passes (the engine loads on
// threads and processes of its own); whether done() holds.
inline bool runUntil(const std::function<bool()>& done, int boundMilliseconds = 30000) {
    QElapsedTimer elapsed;
    elapsed.start();
    // Wakes the wait below now and then, so the bound holds when nothing else happens.
    QTimer tick;
    tick.start(50);
    while (!done() && elapsed.elapsed() < boundMilliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return done();
}

// What a web view told its delegate, one line per call: "policy <type> <url>", "start <url>",
// "finish <url>", "fail <code> <url>". Cancels the navigations `refuse` picks.
class RecordingDelegate : public platform::ui::web::WebViewDelegate {
public:
    std::function<bool(const std::string&)> refuse = [](const std::string&) { return false; };
    std::vector<std::string> events;
    std::vector<platform::Error> errors;

    platform::ui::web::NavigationPolicy decidePolicy(
        const platform::ui::web::NavigationAction& action) override {
        events.push_back("policy " + typeName(action.type) + " " + action.url);
        return refuse(action.url) ? platform::ui::web::NavigationPolicy::cancel
                                  : platform::ui::web::NavigationPolicy::allow;
    }
    void didStartLoading(const std::string& url) override { events.push_back("start " + url); }
    void didFinishLoading(const std::string& url) override { events.push_back("finish " + url); }
    void didFailLoading(const std::string& url, const platform::Error& error) override {
        events.push_back("fail " + std::to_string(error.code) + " " + url);
        errors.push_back(error);
    }

    // Whether a line starting with the prefix came.
    [[nodiscard]] bool saw(const std::string& prefix) const {
        for (const auto& event : events) {
            if (event.rfind(prefix, 0) == 0) {
                return true;
            }
        }
        return false;
    }
    // Whether a load ended (finished or failed) since the events were last cleared.
    [[nodiscard]] bool ended() const { return saw("finish ") || saw("fail "); }

    static std::string typeName(platform::ui::web::NavigationType type) {
        using platform::ui::web::NavigationType;
        switch (type) {
            case NavigationType::linkActivated:
                return "link";
            case NavigationType::formSubmitted:
                return "form";
            case NavigationType::backForward:
                return "back-forward";
            case NavigationType::reload:
                return "reload";
            case NavigationType::redirect:
                return "redirect";
            case NavigationType::other:
                return "other";
        }
        return "?";
    }
};

}  // namespace web_test
