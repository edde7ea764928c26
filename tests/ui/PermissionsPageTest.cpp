#include <gtest/gtest.h>

#include <QTest>

#include "platform/foundation/UserDefaults.h"
#include "platform/permissions/Permissions.h"
#include "platform/ui/PermissionsPage.h"
#include "support/TempDir.h"
#include "ui/UiWorld.h"

namespace {

using platform::Decision;
using platform::Feature;
using ui_test::UiWorld;

// The page shows each decision as it stands, a restricted one off and out of reach, and a
// switch turned by the user is the decision from then on.
TEST(PermissionsPageTest, ShowsEveryDecisionAndTurnsThemOnAndOff) {
    UiWorld world;
    testing_support::TempDir folder;
    platform::UserDefaults defaults(folder.path() / "defaults.plist");
    platform::ScriptedPermissionPrompt prompt;
    platform::Permissions permissions(defaults, prompt, [] { return false; });
    ASSERT_TRUE(permissions.setDecision(Feature::photos, Decision::granted));
    ASSERT_TRUE(permissions.setDecision(Feature::camera, Decision::denied));

    int closed = 0;
    auto* page = new platform::ui::PermissionsPage(
        permissions, {.title = "KavoManager",
                      .close = "Done",
                      .feature = [](Feature feature) {
                          return "Use " + std::string(platform::featureName(feature));
                      }});
    page->onClose([&closed] { ++closed; });
    world.window->addOverlay(page, platform::ui::Layer::pageOverlay);
    world.window->show();

    EXPECT_TRUE(page->toggle(Feature::photos).isChecked());
    EXPECT_FALSE(page->toggle(Feature::camera).isChecked());
    EXPECT_FALSE(page->toggle(Feature::contacts).isChecked());
    EXPECT_FALSE(page->toggle(Feature::location).isChecked());
    EXPECT_FALSE(page->toggle(Feature::location).isEnabled()) << "no location service here";
    auto* label = page->findChild<platform::ui::Label*>("permissionLabel.bluetooth");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), "Use bluetooth");
    UiWorld::shoot(*world.window, "PermissionsPage");

    QTest::mouseClick(&page->toggle(Feature::photos), Qt::LeftButton);
    EXPECT_EQ(permissions.decision(Feature::photos), Decision::denied);
    QTest::mouseClick(&page->toggle(Feature::camera), Qt::LeftButton);
    EXPECT_EQ(permissions.decision(Feature::camera), Decision::granted);
    QTest::mouseClick(&page->toggle(Feature::location), Qt::LeftButton);
    EXPECT_EQ(permissions.decision(Feature::location), Decision::restricted);
    EXPECT_FALSE(page->toggle(Feature::location).isChecked());

    QTest::mouseClick(&page->closeButton(), Qt::LeftButton);
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(page->isVisible());
    UiWorld::flushDeletes();
    EXPECT_TRUE(world.window->overlays(platform::ui::Layer::pageOverlay).empty());
}

}  // namespace
