#include <gtest/gtest.h>

#include <signal.h>

#include <QWebEnginePage>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/web/WebEngineViews.h"
#include "platform/ui/web/WebTestSupport.h"
#include "support/LoopbackServer.h"
#include "support/RecordingLogSink.h"

namespace {

using platform::ui::web::WebEngineMachine;
using platform::ui::web::WebEngineViewFactory;
using platform::ui::web::WebView;
using testing_support::LoopbackServer;
using web_test::RecordingDelegate;
using web_test::runUntil;

constexpr const char* kBridgeLink = "kavomanager://Download/?url=http://127.0.0.1/a.wgt&title=A";

LoopbackServer::ScriptedAnswer html(std::string body) {
    return {.status = 200, .contentType = "text/html", .body = std::move(body)};
}

// A window with one web view of an in-memory profile, and the loopback server it reads.
class WebEngineViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        web_test::application();
        factory_.emplace(std::nullopt);
        ASSERT_FALSE(factory_->unavailable()) << factory_->unavailable()->message;
        host_ = std::make_unique<QWidget>();
        host_->resize(414, 736);
        host_->show();
    }

    WebView& makeView() {
        auto made = factory_->make(*host_);
        EXPECT_TRUE(made.ok());
        WebView* view = made.value();
        view->setFrame({0, 0, 414, 736});
        view->setDelegate(&delegate_);
        return *view;
    }

    // Loads the address and waits for its end; whether it finished.
    bool loadAndWait(WebView& view, const std::string& url) {
        delegate_.events.clear();
        view.load(url);
        return runUntil([this] { return delegate_.ended(); }) && delegate_.saw("finish ");
    }

    platform::Value evaluateAndWait(WebView& view, const std::string& script) {
        std::optional<platform::Value> result;
        view.evaluate(script, [&result](platform::Value value) { result = std::move(value); });
        EXPECT_TRUE(runUntil([&result] { return result.has_value(); })) << script;
        return result.value_or(platform::Value());
    }

    LoopbackServer server_;
    RecordingDelegate delegate_;
    std::optional<WebEngineViewFactory> factory_;
    std::unique_ptr<QWidget> host_;
};

TEST_F(WebEngineViewTest, BridgeLinkIsCancelledBeforeLoadingAndReachesThePolicy) {
    server_.script("/store.html",
                   html(std::string("<html><body><a id='bridge' href='") + kBridgeLink +
                        "'>Install</a><a id='plain' href='/scripted/refused.html'>Go</a>"
                        "</body></html>"));
    server_.script("/refused.html", html("<p>refused</p>"));
    server_.script("/after.html", html("<p>after</p>"));
    delegate_.refuse = [](const std::string& url) {
        return url.find("kavomanager") != std::string::npos ||
               url.find("refused") != std::string::npos;
    };
    WebView& view = makeView();
    const std::string store = server_.url("/scripted/store.html");
    ASSERT_TRUE(loadAndWait(view, store));

    delegate_.events.clear();
    view.evaluate("document.getElementById('bridge').click()");
    ASSERT_TRUE(runUntil([this] { return delegate_.saw("policy link kavomanager:"); }));
    view.evaluate("document.getElementById('plain').click()");
    ASSERT_TRUE(runUntil([this] { return delegate_.saw("policy link http"); }));
    // A load that was allowed, to be sure the refused ones had their chance to show up.
    const auto refusals = delegate_.events;
    ASSERT_TRUE(loadAndWait(view, server_.url("/scripted/after.html")));
    delegate_.events.insert(delegate_.events.begin(), refusals.begin(), refusals.end());

    // Neither refused navigation started, failed or reached the server.
    for (const auto& event : delegate_.events) {
        if (event.rfind("policy ", 0) != 0) {
            EXPECT_EQ(event.find("kavomanager"), std::string::npos) << event;
            EXPECT_EQ(event.find("refused"), std::string::npos) << event;
        }
    }
    for (const auto& request : server_.received()) {
        EXPECT_NE(request.path, "/scripted/refused.html");
    }
    EXPECT_EQ(view.url(), server_.url("/scripted/after.html"));
}

TEST_F(WebEngineViewTest, BridgeLinkKeepsItsQueryAndNeverLoads) {
    server_.script("/store.html", html(std::string("<a id='bridge' href='") + kBridgeLink +
                                       "'>Install</a>"));
    std::vector<std::string> decided;
    delegate_.refuse = [&decided](const std::string& url) {
        decided.push_back(url);
        return url.find("kavomanager") != std::string::npos;
    };
    WebView& view = makeView();
    ASSERT_TRUE(loadAndWait(view, server_.url("/scripted/store.html")));
    delegate_.events.clear();
    view.evaluate("document.getElementById('bridge').click()");
    ASSERT_TRUE(runUntil([this] { return delegate_.saw("policy link kavomanager:"); }));
    // Whatever the engine still says about the refused link comes now, if ever.
    evaluateAndWait(view, "1");

    ASSERT_FALSE(decided.empty());
    EXPECT_EQ(decided.back(), "kavomanager://download/?url=http://127.0.0.1/a.wgt&title=A");
    EXPECT_EQ(delegate_.events,
              std::vector<std::string>{"policy link " + decided.back()});
    EXPECT_FALSE(view.isLoading());
}

TEST_F(WebEngineViewTest, ScriptSetsAValueTheTestReadsBack) {
    server_.script("/page.html", html("<html><body><p id='p'>text</p></body></html>"));
    WebView& view = makeView();
    ASSERT_TRUE(loadAndWait(view, server_.url("/scripted/page.html")));

    evaluateAndWait(view, "window.kavoAnswer = 6 * 7; document.getElementById('p').textContent = 'set';");
    EXPECT_EQ(evaluateAndWait(view, "window.kavoAnswer").doubleValue(), 42.0);
    EXPECT_EQ(evaluateAndWait(view, "document.body.innerHTML").stringValue(),
              "<p id=\"p\">set</p>");
    const platform::Value object = evaluateAndWait(view, "({list: [1, 'two', true], none: null})");
    ASSERT_TRUE(object.isDictionary()) << object.description();
    EXPECT_EQ(object["list"].size(), 3u);
    EXPECT_EQ(object["list"].arrayIf()->at(1).stringValue(), "two");
    EXPECT_TRUE(evaluateAndWait(view, "throw new Error('no')").isNull());
}

TEST_F(WebEngineViewTest, LoadsEndAsFinishedOrFailed) {
    std::string refusedPort;
    {
        LoopbackServer gone;
        refusedPort = std::to_string(gone.port());
    }
    server_.script("/missing.html",
                   {.status = 404, .contentType = "text/html", .body = "<p>not here</p>"});
    struct Case {
        std::string url;
        std::string ending;  // the start of the delegate's last line
    };
    const std::vector<Case> cases = {
        {server_.url("/scripted/missing.html"), "finish "},
        {"http://127.0.0.1:" + refusedPort + "/", "fail 2 "},
        {"kavoother://somewhere", "fail 4 "},
        {"not an address", "fail 2 "},
    };
    WebView& view = makeView();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        delegate_.events.clear();
        view.load(c.url);
        ASSERT_TRUE(runUntil([this] { return delegate_.ended(); }));
        EXPECT_EQ(delegate_.events.back().rfind(c.ending, 0), 0u) << delegate_.events.back();
        EXPECT_FALSE(view.isLoading());
    }
}

TEST_F(WebEngineViewTest, UserAgentIsSeenByTheServerAndThePage) {
    factory_->setUserAgent("KavoManager-Test/1.0 (web view)");
    WebView& view = makeView();
    ASSERT_TRUE(loadAndWait(view, server_.url("/echo")));

    ASSERT_TRUE(server_.last());
    EXPECT_EQ(server_.last()->header("user-agent"), "KavoManager-Test/1.0 (web view)");
    EXPECT_EQ(evaluateAndWait(view, "navigator.userAgent").stringValue(),
              "KavoManager-Test/1.0 (web view)");
    EXPECT_EQ(factory_->userAgent(), "KavoManager-Test/1.0 (web view)");
}

TEST_F(WebEngineViewTest, CookiesAreClearedOnRequest) {
    server_.script("/page.html", html("<p>cookies</p>"));
    WebView& view = makeView();
    ASSERT_TRUE(loadAndWait(view, server_.url("/scripted/page.html")));
    evaluateAndWait(view, "document.cookie = 'session=abc; path=/'; document.cookie");
    ASSERT_TRUE(loadAndWait(view, server_.url("/echo")));
    EXPECT_EQ(server_.last()->header("cookie"), "session=abc");

    factory_->clearCookies();
    ASSERT_TRUE(loadAndWait(view, server_.url("/echo?again")));
    EXPECT_EQ(server_.last()->header("cookie"), "");
}

TEST_F(WebEngineViewTest, HtmlIsKnownByItsBaseAddress) {
    server_.script("/next.html", html("<p>next</p>"));
    WebView& view = makeView();
    const std::string base = server_.url("/scripted/");
    delegate_.events.clear();
    view.loadHTML("<html><body><a id='next' href='next.html'>Next</a></body></html>", base);
    ASSERT_TRUE(runUntil([this] { return delegate_.ended(); }));
    EXPECT_EQ(delegate_.events,
              (std::vector<std::string>{"policy other " + base, "start " + base, "finish " + base}));
    EXPECT_EQ(view.url(), base);

    delegate_.events.clear();
    view.evaluate("document.getElementById('next').click()");
    ASSERT_TRUE(runUntil([this] { return delegate_.ended(); }));
    EXPECT_EQ(delegate_.events.front(), "policy link " + server_.url("/scripted/next.html"));
    EXPECT_EQ(server_.last()->path, "/scripted/next.html");
}

TEST_F(WebEngineViewTest, HtmlTooLargeForTheEngineFails) {
    WebView& view = makeView();
    delegate_.events.clear();
    view.loadHTML(std::string(3 * 1024 * 1024, 'x'), "");
    ASSERT_TRUE(runUntil([this] { return delegate_.ended(); }));
    EXPECT_EQ(delegate_.events, std::vector<std::string>{"fail 5 about:blank"});
}

TEST_F(WebEngineViewTest, StopEndsTheLoadAsCancelled) {
    server_.script("/held.html", {.status = 200, .contentType = "text/html", .body = "<p>held</p>",
                                  .held = true});
    WebView& view = makeView();
    delegate_.events.clear();
    view.load(server_.url("/scripted/held.html"));
    ASSERT_TRUE(runUntil([this] { return delegate_.saw("start "); }));
    EXPECT_TRUE(view.isLoading());
    view.stop();
    ASSERT_TRUE(runUntil([this] { return delegate_.ended(); }));
    EXPECT_EQ(delegate_.events.back(), "fail 3 " + server_.url("/scripted/held.html"));
    server_.releaseHeld();
}

// The process that shows the page is the engine's own child, started for this test.
TEST_F(WebEngineViewTest, AnEndedContentProcessFailsThePageAndTheNextLoadWorks) {
    server_.script("/page.html", html("<p>shown</p>"));
    WebView& view = makeView();
    const std::string page = server_.url("/scripted/page.html");
    ASSERT_TRUE(loadAndWait(view, page));
    auto* engine = host_->findChild<QWebEnginePage*>();
    ASSERT_NE(engine, nullptr);
    const qint64 pid = engine->renderProcessPid();
    ASSERT_GT(pid, 0);

    delegate_.events.clear();
    ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGKILL), 0);
    ASSERT_TRUE(runUntil([this] { return delegate_.saw("fail "); }));
    EXPECT_EQ(delegate_.events.front(), "fail 6 " + page);
    EXPECT_FALSE(view.isLoading());

    ASSERT_TRUE(loadAndWait(view, page));
    EXPECT_EQ(evaluateAndWait(view, "document.body.textContent").stringValue(), "shown");
}

// The engine cannot start where the machine does not let it; the program says why.
TEST(WebEngineMachineTest, ProblemsAreNamed) {
    const WebEngineMachine fine{.widgetsApplication = true,
                                .root = false,
                                .sandboxDisabled = false,
                                .helper = "/usr/lib/qt6/libexec/QtWebEngineProcess",
                                .helperRuns = true,
                                .resources = "/usr/share/qt6/resources/qtwebengine_resources.pak",
                                .resourcesThere = true};
    struct Case {
        std::function<void(WebEngineMachine&)> change;
        std::string mentions;  // empty: no problem
    };
    const std::vector<Case> cases = {
        {[](WebEngineMachine&) {}, ""},
        {[](WebEngineMachine& m) { m.root = true; }, "QTWEBENGINE_DISABLE_SANDBOX=1"},
        {[](WebEngineMachine& m) { m.root = true; m.sandboxDisabled = true; }, ""},
        {[](WebEngineMachine& m) { m.sandboxDisabled = true; }, ""},
        {[](WebEngineMachine& m) { m.widgetsApplication = false; }, "Qt Widgets application"},
        {[](WebEngineMachine& m) { m.helperRuns = false; }, "QtWebEngineProcess is missing"},
        {[](WebEngineMachine& m) { m.resourcesThere = false; }, "qtwebengine_resources.pak"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        WebEngineMachine machine = fine;
        cases[i].change(machine);
        const auto problem = platform::ui::web::webEngineProblem(machine);
        if (cases[i].mentions.empty()) {
            EXPECT_FALSE(problem) << *problem;
        } else {
            ASSERT_TRUE(problem);
            EXPECT_NE(problem->find(cases[i].mentions), std::string::npos) << *problem;
        }
    }
}

TEST(WebEngineMachineTest, RootWithTheSandboxOnMakesNoViews) {
    web_test::application();
    WebEngineMachine machine = WebEngineMachine::current();
    machine.root = true;
    machine.sandboxDisabled = false;
    auto log = std::make_shared<testing_support::RecordingLogSink>();
    testing_support::ScopedLogSink installLog(log);
    WebEngineViewFactory factory(std::nullopt, machine);
    ASSERT_TRUE(factory.unavailable());
    EXPECT_TRUE(log->contains("web view: unavailable: the web view cannot run as root with "
                              "Chromium's sandbox on"));
    EXPECT_EQ(factory.unavailable()->code, platform::ui::web::kUnavailable);
    QWidget parent;
    const auto made = factory.make(parent);
    ASSERT_FALSE(made.ok());
    EXPECT_EQ(made.error(), *factory.unavailable());
    EXPECT_TRUE(parent.findChildren<QWidget*>().isEmpty());
}

}  // namespace
