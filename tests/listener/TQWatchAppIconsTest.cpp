#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "listener/ListenerWorld.h"
#include "listener/TQWatchAppIcons.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/FileSystem.h"
#include "utils/TQUtils.h"

namespace listener_test {
namespace {

namespace fs = std::filesystem;

class TQWatchAppIconsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(
            TQUtils::setPreferenceByGroup(TQUtils::kGroupKavoInfo, {{"kavoModelNumber", "SM-R5"}}));
    }
    // The watch's message of icons for packages "p<from>" to "p<to - 1>", each of size bytes.
    static Value message(std::size_t from, std::size_t to, std::size_t size = 8) {
        platform::Array packages;
        platform::Array images;
        for (std::size_t i = from; i < to; ++i) {
            packages.emplace_back("p" + std::to_string(i));
            images.emplace_back(platform::base64::encode(Bytes(size, 0x42)));
        }
        return Value{{"msgId", "mgr_wappsicon_res"},
                     {"packageNameArray", packages},
                     {"imageFileDataArray", images}};
    }
    [[nodiscard]] static fs::path folder() { return *TQWatchAppIcons::folder(); }
    [[nodiscard]] static std::size_t kept() {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(folder()), fs::directory_iterator()));
    }

    ListenerWorld world;
    TQWatchAppIcons icons;
};

TEST_F(TQWatchAppIconsTest, OneMessageGivesAtMostTheBoundNumberOfIcons) {
    icons.saveAppIcon(message(0, TQWatchAppIcons::kMaxIcons + 5));
    EXPECT_EQ(kept(), TQWatchAppIcons::kMaxIcons);
    EXPECT_TRUE(fs::exists(folder() / "p0.png"));
    EXPECT_FALSE(
        fs::exists(folder() / ("p" + std::to_string(TQWatchAppIcons::kMaxIcons) + ".png")));
}

TEST_F(TQWatchAppIconsTest, AFullFolderTakesNoNewPackageButReplacesAKnownOnesIcon) {
    icons.saveAppIcon(message(0, TQWatchAppIcons::kMaxIcons));
    ASSERT_EQ(kept(), TQWatchAppIcons::kMaxIcons);
    icons.saveAppIcon(message(TQWatchAppIcons::kMaxIcons, TQWatchAppIcons::kMaxIcons + 1));
    EXPECT_EQ(kept(), TQWatchAppIcons::kMaxIcons);
    icons.saveAppIcon(message(3, 4, 20));
    EXPECT_EQ(platform::fs::readFile(folder() / "p3.png").value(), std::string(20, 'B'));
}

TEST_F(TQWatchAppIconsTest, AnIconLargerThanTheBoundIsRefused) {
    icons.saveAppIcon(message(0, 1, TQWatchAppIcons::kMaxIconBytes));
    icons.saveAppIcon(message(1, 2, TQWatchAppIcons::kMaxIconBytes + 1));
    EXPECT_TRUE(fs::exists(folder() / "p0.png"));
    EXPECT_FALSE(fs::exists(folder() / "p1.png"));
    // Written apart from the message too, as the store's install writes its icons.
    const Bytes large(TQWatchAppIcons::kMaxIconBytes + 1, 1);
    const auto written = TQWatchAppIcons::writeIcon(folder(), "p2", large);
    EXPECT_FALSE(written.saved);
    EXPECT_FALSE(fs::exists(folder() / "p2.png"));
}

}  // namespace
}  // namespace listener_test
