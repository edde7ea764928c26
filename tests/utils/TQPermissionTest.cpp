#include "TQUtilsFixture.h"
#include "platform/permissions/Permissions.h"
#include "utils/TQPermission.h"

namespace tqutils_test {
namespace {

using platform::Feature;

class TQPermissionTest : public TQUtilsTest {
protected:
    void decide(Feature feature, bool granted) {
        prompt_.setAnswer(feature, granted);
        permissions_.request(feature, [](platform::Decision) {});
    }

    platform::ScriptedPermissionPrompt prompt_;
    platform::Permissions permissions_{defaults_, prompt_, [] { return true; }};
    platform::ScopedInstall<platform::Permissions> installPermissions_{&permissions_};
};

TEST_F(TQPermissionTest, CountsTheUndecidedAcrossDecisions) {
    EXPECT_EQ(TQPermission::permissionCount(), 3);  // notifications are always authorized
    EXPECT_TRUE(TQPermission::isNeedAll());
    decide(Feature::location, false);  // a refusal is a decision too
    EXPECT_EQ(TQPermission::permissionCount(), 2);
    decide(Feature::contacts, true);
    EXPECT_EQ(TQPermission::permissionCount(), 1);
    EXPECT_FALSE(TQPermission::isNeedAll());
    decide(Feature::calendars, true);
    EXPECT_TRUE(TQPermission::isAllAuthorized());
}

TEST_F(TQPermissionTest, AWatchWithoutCallsNeedsNoContacts) {
    const struct {
        const char* voiceCall;
        bool contactsAuthorized;
    } cases[] = {{"false", true}, {"true", false}, {"", false}, {"FALSE", false}};
    for (const auto& c : cases) {
        defaults_.set("voiceCall", c.voiceCall);
        EXPECT_EQ(TQPermission::isContactsAuthorized(), c.contactsAuthorized) << c.voiceCall;
    }
    defaults_.set("voiceCall", "false");
    EXPECT_EQ(TQPermission::permissionCount(), 2);
    EXPECT_TRUE(TQPermission::isNeedAll());
}

}  // namespace
}  // namespace tqutils_test
