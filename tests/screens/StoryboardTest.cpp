#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/ui/Controls.h"
#include "platform/ui/Presentation.h"
#include "screens/TQMainStoryboard.h"
#include "screens/TQPlaceholderPage.h"
#include "screens/support/ScreenDriver.h"
#include "utils/TQLocalization.h"

namespace {

using screens_test::ScreenDriver;

TEST(MainStoryboardTest, TheTablesHoldEachSceneOnceAndEverySegueLeadsToAScene) {
    std::set<std::string> identifiers;
    std::set<std::string> classes;
    for (const auto& scene : TQMainStoryboard::namedScenes()) {
        EXPECT_TRUE(identifiers.insert(scene.identifier).second) << scene.identifier;
        EXPECT_TRUE(classes.insert(scene.className).second) << scene.className;
    }
    for (const char* className : TQMainStoryboard::classScenes()) {
        EXPECT_TRUE(identifiers.insert(className).second) << className << " twice";
        EXPECT_TRUE(classes.insert(className).second) << className << " has a scene already";
    }
    std::set<std::string> segues;
    for (const auto& segue : TQMainStoryboard::segues()) {
        EXPECT_TRUE(segues.insert(segue.identifier).second) << segue.identifier << " twice";
        EXPECT_TRUE(identifiers.contains(segue.destination))
            << segue.identifier << " leads to " << segue.destination;
        EXPECT_FALSE(segue.sources.empty()) << segue.identifier << " starts nowhere named";
        for (const auto& source : segue.sources) {
            EXPECT_TRUE(identifiers.contains(source)) << segue.identifier << " from " << source;
        }
    }
    // What the application and the screens ask for by name.
    for (const char* wanted : {"homePageid", "setupView", "termsPageid", "deviceTablePageid",
                               "TQLogin", "HFPConnectingPage"}) {
        EXPECT_TRUE(identifiers.contains(wanted)) << wanted;
    }
}

TEST(MainStoryboardTest, ScenesAreMadeByIdentifierOrByTheirClassAndKnowWhereTheyCameFrom) {
    ScreenDriver driver;
    const TQStoryboard& storyboard = *driver.storyboard;
    EXPECT_EQ(storyboard.sceneIdentifiers().size(),
              TQMainStoryboard::namedScenes().size() + TQMainStoryboard::classScenes().size());
    EXPECT_EQ(storyboard.segues().size(), TQMainStoryboard::segues().size());

    struct Case {
        const char* name;
        const char* scene;
        const char* className;
    };
    for (const Case& c : {Case{"termsPageid", "termsPageid", "TQTermsAndConditionsViewController"},
                          Case{"TQTermsAndConditionsViewController", "termsPageid",
                               "TQTermsAndConditionsViewController"},
                          Case{"TQWeatherViewController", "TQWeatherViewController",
                               "TQWeatherViewController"}}) {
        auto page = storyboard.instantiate(c.name);
        ASSERT_NE(page, nullptr) << c.name;
        EXPECT_EQ(page->className(), c.className);
        EXPECT_EQ(TQStoryboard::sceneOf(*page), c.scene);
        EXPECT_EQ(TQStoryboard::of(*page), &storyboard);
    }
    EXPECT_EQ(storyboard.instantiate("TQNoSuchViewController"), nullptr);
    platform::ui::Page stray("TQStray");
    EXPECT_EQ(TQStoryboard::of(stray), nullptr);
    EXPECT_FALSE(TQStoryboard::perform(stray, "deviceListSegue"));
}

TEST(MainStoryboardTest, EveryPlaceholderShowsItsClassAndScene) {
    ScreenDriver driver;
    for (const auto& scene : driver.storyboard->sceneIdentifiers()) {
        auto* page = driver.show(scene);
        ASSERT_NE(page, nullptr) << scene;
        EXPECT_EQ(driver.topScene(), scene);
        if (dynamic_cast<TQPlaceholderPage*>(page) == nullptr) {
            continue;  // a screen that is built
        }
        const auto* label = driver.find<platform::ui::Label>("placeholderLabel");
        ASSERT_NE(label, nullptr) << scene;
        EXPECT_NE(label->text().find(page->className()), std::string::npos) << label->text();
        EXPECT_NE(label->text().find(TQLocalization::localizedString("screen_not_built_yet")),
                  std::string::npos);
        EXPECT_NE(TQLocalization::localizedString("screen_not_built_yet"), "screen_not_built_yet");
        const auto* title = driver.find<platform::ui::Label>("navigationTitle");
        ASSERT_NE(title, nullptr);
        EXPECT_FALSE(title->text().empty());
        EXPECT_NE(page->className().find(title->text()), std::string::npos) << title->text();
    }
}

// The roads of the setup wizard as the storyboard holds them, walked on the placeholders.
TEST(MainStoryboardTest, TheSetupRoadsWalkThroughTheirSegues) {
    ScreenDriver driver;
    std::vector<std::string> replacedFrom;
    driver.storyboard->setRootChanger(
        [&](std::unique_ptr<platform::ui::Page> root, platform::ui::Page& from) {
            replacedFrom.push_back(TQStoryboard::sceneOf(from));
            platform::ui::replaceRootView(*driver.window, new platform::ui::NavigationController(
                                                              std::move(root)));
        });

    driver.show("setupView");
    struct Step {
        const char* segue;
        const char* scene;
    };
    for (const Step& step : {Step{"deviceListSegue", "deviceTablePageid"},
                             Step{"privacySegue", "TQAllowPrivacyViewController"},
                             Step{"termSegue", "termsPageid"},
                             Step{"doUnlockSegue", "TQReactivationLockUnlockViewController"},
                             Step{"doSignInSegue", "TQLogin"}}) {
        ASSERT_TRUE(TQStoryboard::perform(*driver.top(), step.segue)) << step.segue;
        driver.settle();
        EXPECT_EQ(driver.topScene(), step.scene) << step.segue;
    }
    auto* navigation = platform::ui::navigationOf(*driver.top());
    ASSERT_NE(navigation, nullptr);
    EXPECT_EQ(navigation->pages().size(), 6U);

    // The connecting page cancels back to the list it came from.
    driver.show("deviceTablePageid");
    platform::ui::navigationOf(*driver.top())
        ->pushPage(driver.storyboard->instantiate("TQConnectingKavoViewController"), false);
    ASSERT_TRUE(TQStoryboard::perform(*driver.top(), "unwindToDeviceList"));
    driver.settle();
    EXPECT_EQ(driver.topScene(), "deviceTablePageid");

    // A known watch: the home page replaces the setup stack.
    ASSERT_TRUE(TQStoryboard::perform(*driver.top(), "mainViewSegue"));
    driver.settle();
    EXPECT_EQ(driver.topScene(), "homePageid");
    EXPECT_EQ(replacedFrom, std::vector<std::string>{"deviceTablePageid"});

    // The home page's find popup leaves the home page on screen below it.
    ASSERT_TRUE(TQStoryboard::perform(*driver.top(), "findMyKavoSegue"));
    driver.settle();
    EXPECT_EQ(driver.topScene(), "TQFindPopupViewController");
    auto* home = platform::ui::presentingPage(*driver.top());
    ASSERT_NE(home, nullptr);
    EXPECT_TRUE(home->isOnScreen());
}

}  // namespace
