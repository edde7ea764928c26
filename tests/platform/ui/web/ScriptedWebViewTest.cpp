#include <gtest/gtest.h>

#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/ui/web/ScriptedWebView.h"
#include "ui/support/OffscreenApplication.h"
#include "platform/ui/web/WebTestSupport.h"

namespace {

using platform::ui::web::NavigationType;
using platform::ui::web::ScriptedWebView;
using platform::ui::web::ScriptedWebViewFactory;

class ScriptedWebViewTest : public ::testing::Test {
protected:
    ScriptedWebViewTest() {
        view_ = dynamic_cast<ScriptedWebView*>(factory_.make(parent_).value());
        view_->setDelegate(&delegate_);
    }

    QApplication& application_ = ui_test::application();
    platform::RunLoop loop_{platform::RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop main_{loop_};
    ScriptedWebViewFactory factory_{loop_};
    QWidget parent_;
    web_test::RecordingDelegate delegate_;
    ScriptedWebView* view_ = nullptr;
};

TEST_F(ScriptedWebViewTest, ScriptedPagesLoadOnTheLoopsClock) {
    factory_.servePage("https://store.example/main", {.failure = std::nullopt, .seconds = 2});
    factory_.servePage("https://store.example/down",
                       {.failure = platform::Error{platform::ui::web::kErrorDomain,
                                                   platform::ui::web::kLoadFailed, "offline"}});
    view_->load("https://store.example/main");
    EXPECT_EQ(delegate_.events, (std::vector<std::string>{"policy other https://store.example/main",
                                                          "start https://store.example/main"}));
    loop_.advance(1.9);
    EXPECT_TRUE(view_->isLoading());
    loop_.advance(0.2);
    EXPECT_EQ(delegate_.events.back(), "finish https://store.example/main");

    for (const char* url : {"https://store.example/down", "https://store.example/unscripted"}) {
        view_->load(url);
        loop_.runUntilIdle();
        EXPECT_EQ(delegate_.events.back(), std::string("fail 2 ") + url);
    }
}

TEST_F(ScriptedWebViewTest, FollowedLinksAskThePolicyAndOtherSchemesNeverLoad) {
    delegate_.refuse = [](const std::string& url) { return url.find("Download") != std::string::npos; };
    EXPECT_FALSE(view_->follow("kavomanager://Download/?url=x"));
    EXPECT_TRUE(view_->follow("mailto:someone@example.com"));
    loop_.runUntilIdle();
    EXPECT_EQ(delegate_.events,
              (std::vector<std::string>{"policy link kavomanager://Download/?url=x",
                                        "policy link mailto:someone@example.com",
                                        "fail 4 mailto:someone@example.com"}));
    EXPECT_EQ(view_->url(), "");
}

TEST_F(ScriptedWebViewTest, ScriptsAreRecordedAndAnsweredOnTheLoop) {
    factory_.answerScripts([](const std::string& url, const std::string& script) {
        return platform::Value(url + " " + script);
    });
    view_->loadHTML("<p>terms</p>", "");
    loop_.runUntilIdle();
    std::optional<platform::Value> answer;
    view_->evaluate("setInstalled('com.kavo.stopwatch')");
    view_->evaluate("document.body.innerHTML", [&answer](platform::Value value) { answer = value; });
    EXPECT_FALSE(answer);
    loop_.runUntilIdle();
    EXPECT_EQ(answer->stringValue(), "about:blank document.body.innerHTML");
    EXPECT_EQ(view_->scripts(), (std::vector<std::string>{"setInstalled('com.kavo.stopwatch')",
                                                          "document.body.innerHTML"}));
    EXPECT_EQ(view_->html(), "<p>terms</p>");
}

TEST_F(ScriptedWebViewTest, StopAndUnavailabilityAndCookies) {
    factory_.servePage("https://manual.example/", {.failure = std::nullopt, .seconds = 5});
    view_->load("https://manual.example/");
    view_->stop();
    EXPECT_EQ(delegate_.events.back(), "fail 3 https://manual.example/");
    loop_.advance(10);
    EXPECT_EQ(delegate_.events.back(), "fail 3 https://manual.example/");

    factory_.clearCookies();
    EXPECT_EQ(factory_.cookieClears(), 1);
    factory_.setUnavailable("no engine here");
    const auto made = factory_.make(parent_);
    ASSERT_FALSE(made.ok());
    EXPECT_EQ(made.error().message, "no engine here");
    EXPECT_EQ(factory_.views().size(), 1u);
}

}  // namespace
