#include <gtest/gtest.h>

#include "utils/TQLocalization.h"

namespace {

TEST(TQLocalizationTest, KnownKeysGiveTheirTextAndOthersTheKeyItself) {
    EXPECT_EQ(TQLocalization::localizedString("WDS_ST_MBODY_CALL_AUDIO_ABB"), "Call audio");
    EXPECT_EQ(TQLocalization::localizedString("menu_quorvelapps"), "Quorvel Apps");
    EXPECT_EQ(TQLocalization::localizedString("WDS_NO_SUCH_KEY"), "WDS_NO_SUCH_KEY");
    EXPECT_EQ(TQLocalization::localizedString("menu_quorvelapp"), "menu_quorvelapp");
    EXPECT_EQ(TQLocalization::localizedString(""), "");
}

}  // namespace

namespace {

// A translated text is data: whatever conversions it carries, formatting reads only the
// arguments given and never more.
TEST(TQLocalizationTest, ATextUsedAsAFormatTakesOnlyTheArgumentsItIsGiven) {
    struct Case {
        const char* format;
        std::string expected;
    };
    const std::string name = "Kavo";
    const Case cases[] = {
        {"Keep the %@ app active", "Keep the Kavo app active"},
        {"%1$@ has %2$d apps", "Kavo has 3 apps"},
        {"%2$d apps on %1$@", "3 apps on Kavo"},
        {"%1$@ and again %1$@", "Kavo and again Kavo"},
        {"%@ %@ %@ %s", "Kavo 3  "},                   // missing arguments: empty
        {"%3$@|%9$d|%0$@", "||"},                      // positions past the end, or zero
        {"%@, done", "Kavo, done"},                    // the extra argument is ignored
        {"%.1f %% of %s", "Kavo % of 3"},              // no reading as asked: as %@ prints
        {"100%", "100%"},                              // a lone sign stays
        {"%y and %", "%y and %"},                      // not a conversion: as it stands
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TQLocalization::format(c.format, name, 3), c.expected) << c.format;
    }
    EXPECT_EQ(TQLocalization::format("%@ and %2$@"), " and ");
    // "*" takes an argument of its own; a positional conversion names one, so its "*" goes.
    EXPECT_EQ(TQLocalization::format("[%*d][%-3d]", 4, 7), "[   7][]");
    EXPECT_EQ(TQLocalization::format("[%1$*2$d]", 7, 4), "[7]");
    EXPECT_EQ(TQLocalization::localizedFormat("WDS_WMGR_HEADER_KEEP_PS_APP_ACTIVE", name),
              "Keep the Kavo app active");
    EXPECT_EQ(TQLocalization::localizedFormat("WDS_WMGR_HEADER_KEEP_PS_APP_ACTIVE"),
              "Keep the  app active");
}

}  // namespace
