#include <fstream>

#include "TQUtilsFixture.h"
#include "platform/security/FileKeychain.h"
#include "utils/TQKeyChainWrapper.h"

namespace tqutils_test {
namespace {

class TQKeyChainWrapperTest : public TQUtilsTest {
protected:
    platform::FileKeychain keychain_{container_.keychain()};
    platform::ScopedInstall<platform::Keychain> installKeychain_{&keychain_};
};

TEST_F(TQKeyChainWrapperTest, CreatingTwiceKeepsOneItemWithTheSecondValue) {
    EXPECT_TRUE(TQKeyChainWrapper::createKeychainValue("first-uuid", "deviceUUID"));
    EXPECT_TRUE(TQKeyChainWrapper::createKeychainValue("second-uuid", "deviceUUID"));
    EXPECT_EQ(TQKeyChainWrapper::keychainStringFromMatchingIdentifier("deviceUUID"), "second-uuid");
    auto stored = keychain_.find(platform::kBundleIdentifier, "deviceUUID");
    ASSERT_TRUE(stored.ok());
    EXPECT_EQ(*stored, "second-uuid");
}

TEST_F(TQKeyChainWrapperTest, UpdateNeedsAnItemAndDeleteAndResetForget) {
    EXPECT_FALSE(TQKeyChainWrapper::updateKeychainValue("x", "EmailID"));
    EXPECT_EQ(TQKeyChainWrapper::keychainStringFromMatchingIdentifier("EmailID"), std::nullopt);

    ASSERT_TRUE(TQKeyChainWrapper::createKeychainValue("me@example.org", "EmailID"));
    ASSERT_TRUE(TQKeyChainWrapper::createKeychainValue("pa55", "Password"));
    EXPECT_TRUE(TQKeyChainWrapper::updateKeychainValue("you@example.org", "EmailID"));
    TQKeyChainWrapper::deleteItemFromKeychainWithIdentifier("EmailID");
    EXPECT_EQ(TQKeyChainWrapper::keychainStringFromMatchingIdentifier("EmailID"), std::nullopt);

    TQKeyChainWrapper::resetKeychain();
    EXPECT_EQ(TQKeyChainWrapper::keychainStringFromMatchingIdentifier("Password"), std::nullopt);
    // One status line per class: generic passwords were deleted, the others had none.
    const auto lines = log_->lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.starts_with("Error deleting keychain data");
                            }),
              5);
    EXPECT_TRUE(log_->logged("Error deleting keychain data 0"));
}

TEST_F(TQKeyChainWrapperTest, ACorruptStoreReadsAsNothingAndRefusesWrites) {
    std::filesystem::create_directories(keychain_.file().parent_path());
    std::ofstream(keychain_.file()) << "garbage";
    EXPECT_EQ(TQKeyChainWrapper::keychainStringFromMatchingIdentifier("hasAccessToken"),
              std::nullopt);
    EXPECT_FALSE(TQKeyChainWrapper::createKeychainValue("token", "hasAccessToken"));
    EXPECT_EQ(
        TQKeyChainWrapper::deleteAllKeysForSecClass(TQKeyChainWrapper::SecClass::genericPassword),
        TQKeyChainWrapper::kStatusIO);
}

TEST_F(TQKeyChainWrapperTest, TheQueryNamesClassServiceAndAccount) {
    const auto query = TQKeyChainWrapper::setupSearchDirectoryForIdentifier("deviceUUID");
    EXPECT_EQ(query.find("service")->stringValue(), platform::kBundleIdentifier);
    const platform::Bytes account{'d', 'e', 'v', 'i', 'c', 'e', 'U', 'U', 'I', 'D'};
    EXPECT_EQ(*query.find("account")->bytesIf(), account);
    EXPECT_EQ(*query.find("generic")->bytesIf(), account);
}

}  // namespace
}  // namespace tqutils_test
