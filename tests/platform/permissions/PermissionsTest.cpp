#include <gtest/gtest.h>

#include "platform/permissions/Permissions.h"
#include "support/TempDir.h"

namespace {

using platform::Decision;
using platform::Feature;
using platform::Permissions;
using platform::ScriptedPermissionPrompt;

class PermissionsTest : public ::testing::Test {
protected:
    std::filesystem::path file() const { return temp_.path() / "defaults.plist"; }

    Decision request(Permissions& permissions, Feature feature) {
        std::optional<Decision> told;
        permissions.request(feature, [&](Decision decision) { told = decision; });
        EXPECT_TRUE(told.has_value());
        return told.value_or(Decision::notDetermined);
    }

    testing_support::TempDir temp_;
    ScriptedPermissionPrompt prompt_;
    bool locationPresent_ = true;
};

TEST_F(PermissionsTest, AsksEachFeatureOnceAndCountsTheRest) {
    platform::UserDefaults defaults(file());
    Permissions permissions(defaults, prompt_, [this] { return locationPresent_; });
    prompt_.setAnswer(Feature::contacts, true);
    EXPECT_EQ(permissions.undecidedCount(), 4);

    EXPECT_EQ(request(permissions, Feature::contacts), Decision::granted);
    EXPECT_EQ(request(permissions, Feature::calendars), Decision::denied);  // not scripted
    EXPECT_EQ(permissions.undecidedCount(), 2);
    EXPECT_EQ(request(permissions, Feature::contacts), Decision::granted);
    EXPECT_EQ(prompt_.questionsAsked(), 2);
}

TEST_F(PermissionsTest, LocationWithoutAServiceIsRestrictedAndNeverAsked) {
    platform::UserDefaults defaults(file());
    locationPresent_ = false;
    Permissions permissions(defaults, prompt_, [this] { return locationPresent_; });
    EXPECT_EQ(permissions.decision(Feature::location), Decision::restricted);
    EXPECT_EQ(request(permissions, Feature::location), Decision::restricted);
    EXPECT_EQ(prompt_.questionsAsked(), 0);
    EXPECT_EQ(permissions.undecidedCount(), 3);

    locationPresent_ = true;
    EXPECT_EQ(permissions.decision(Feature::location), Decision::notDetermined);
}

TEST_F(PermissionsTest, DecisionsLastAcrossARestart) {
    {
        platform::UserDefaults defaults(file());
        Permissions permissions(defaults, prompt_, [] { return true; });
        prompt_.setAnswer(Feature::photos, true);
        request(permissions, Feature::photos);
        request(permissions, Feature::location);
    }
    platform::UserDefaults defaults(file());
    ScriptedPermissionPrompt fresh;
    Permissions permissions(defaults, fresh, [] { return true; });
    EXPECT_EQ(permissions.decision(Feature::photos), Decision::granted);
    EXPECT_EQ(permissions.decision(Feature::location), Decision::denied);
    EXPECT_EQ(permissions.undecidedCount(), 2);
    EXPECT_EQ(request(permissions, Feature::photos), Decision::granted);
    EXPECT_EQ(fresh.questionsAsked(), 0);
}

TEST_F(PermissionsTest, AStrangeStoredValueIsUndecided) {
    platform::UserDefaults defaults(file());
    Permissions permissions(defaults, prompt_, [] { return true; });
    for (const platform::Value& value :
         {platform::Value(7), platform::Value("granted"), platform::Value(1)}) {
        defaults.set(Permissions::defaultsKey(Feature::calendars), value);
        EXPECT_EQ(permissions.decision(Feature::calendars), Decision::notDetermined);
    }
}

// What the settings page does: turns a feature on or off whatever was asked before, and the
// next request hears it without a question.
TEST_F(PermissionsTest, TheUsersOwnDecisionReplacesTheAnswerAndIsKept) {
    platform::UserDefaults defaults(file());
    locationPresent_ = false;
    Permissions permissions(defaults, prompt_, [this] { return locationPresent_; });
    EXPECT_EQ(request(permissions, Feature::bluetooth), Decision::denied);

    EXPECT_TRUE(permissions.setDecision(Feature::bluetooth, Decision::granted));
    EXPECT_EQ(request(permissions, Feature::bluetooth), Decision::granted);
    EXPECT_TRUE(permissions.setDecision(Feature::camera, Decision::denied));
    EXPECT_EQ(permissions.decision(Feature::camera), Decision::denied);
    EXPECT_TRUE(permissions.setDecision(Feature::camera, Decision::notDetermined));
    EXPECT_EQ(permissions.decision(Feature::camera), Decision::notDetermined);
    EXPECT_EQ(prompt_.questionsAsked(), 1);

    // Nothing to decide where there is no service, and restricted is no one's choice.
    EXPECT_FALSE(permissions.setDecision(Feature::location, Decision::granted));
    EXPECT_FALSE(permissions.setDecision(Feature::contacts, Decision::restricted));
    EXPECT_EQ(permissions.decision(Feature::contacts), Decision::notDetermined);
    locationPresent_ = true;
    EXPECT_EQ(permissions.decision(Feature::location), Decision::notDetermined);

    ASSERT_TRUE(defaults.synchronize().ok());
    platform::UserDefaults again(file());
    Permissions later(again, prompt_, [] { return true; });
    EXPECT_EQ(later.decision(Feature::bluetooth), Decision::granted);
}

}  // namespace
