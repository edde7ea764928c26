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
