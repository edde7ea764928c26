#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/host/ScreenNavigator.h"
#include "platform/host/URLOpener.h"

namespace {

using platform::looksLikeURL;

TEST(URLOpenerTest, OnlyTextThatReadsAsALinkLooksLikeOne) {
    const struct {
        std::string text;
        bool link;
    } cases[] = {
        {"https://example.com/a?b=c#d", true},
        {"quorvelapps://ProductDetail/000000123", true},
        {"tel:+15551234", true},
        {"x-carrier.app+v1:done", true},
        {"mailto:k%C3%A9@example.com", true},
        {"https://example.com/caf\xC3\xA9", true},
        {"", false},
        {"://no-scheme", false},
        {"1http://digit-first", false},
        {"-x:option", false},
        {"/usr/bin/xterm", false},
        {"no colon at all", false},
        {"ht tp://space-in-scheme", false},
        {"https://example.com/a b", false},
        {"https://example.com/\ta", false},
        {"https://example.com/\na", false},
        {std::string("https://example.com/\0a", 22), false},
        {"https://example.com/\x7F", false},
        {"https://example.com/\xC2\x85", false},  // NEL
        {"https://example.com/\xC2\xA0", false},  // no-break space
        {"https://example.com/\xFF", false},
        {"rm -rf ~; x:y", false},
        {"$(reboot):x", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(looksLikeURL(c.text), c.link) << c.text;
    }
}

TEST(URLOpenerTest, TheOpenerGetsTheLinkAsOneArgumentAndNothingElse) {
    std::vector<std::vector<std::string>> started;
    bool starts = true;
    const platform::SpawningURLOpener opener("opener", [&](std::span<const std::string> args) {
        started.emplace_back(args.begin(), args.end());
        return starts;
    });
    EXPECT_TRUE(opener.open("https://example.com/?q=a;b&c=$(d)"));
    EXPECT_FALSE(opener.open("not a link"));
    starts = false;
    EXPECT_FALSE(opener.open("quorvelapps://MainCategoryList"));
    EXPECT_EQ(started, (std::vector<std::vector<std::string>>{
                           {"opener", "https://example.com/?q=a;b&c=$(d)"},
                           {"opener", "quorvelapps://MainCategoryList"}}));
}

TEST(URLOpenerTest, StartingTheProgramReportsWhetherItStarted) {
    // A program that exists and exits at once; nobody waits for it.
    const std::string present[] = {"true", "https://example.com/"};
    EXPECT_TRUE(platform::SpawningURLOpener::spawnDetached(present));
    const std::string missing[] = {"kavo-no-such-opener-program", "https://example.com/"};
    EXPECT_FALSE(platform::SpawningURLOpener::spawnDetached(missing));
    EXPECT_FALSE(platform::SpawningURLOpener::spawnDetached({}));
}

TEST(ScreenNavigatorTest, WithoutScreensNothingShowsAndNothingCanBeShown) {
    auto& navigator = platform::ScreenNavigator::current();
    EXPECT_FALSE(navigator.isHomeScreenRoot());
    EXPECT_EQ(navigator.topNavigationScreen(), std::nullopt);
    EXPECT_FALSE(navigator.pushScreen("TQWeatherViewController", true));
    EXPECT_FALSE(navigator.performOnTopNavigationScreen("TQWeatherViewController", "updateCityCell",
                                                        platform::Value()));
    EXPECT_FALSE(navigator.isTopMostScreenAlert());
    EXPECT_FALSE(navigator.presentScene("Main_iPhone", "HFPConnectingPage",
                                        platform::ModalTransitionStyle::crossDissolve, true));
}

}  // namespace
