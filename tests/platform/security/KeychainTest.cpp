#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "SecretServiceBus.h"
#include "platform/security/FileKeychain.h"
#include "platform/security/SecretServiceKeychain.h"
#include "support/TempDir.h"

namespace {

using platform::FileKeychain;
using platform::Keychain;

constexpr std::string_view kService = "com.kavo.KavoManager";

// Both stores keep the same promises; the Secret Service one only where a keyring can start.
class KeychainContract : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (GetParam() == "file") {
            keychain_ = std::make_unique<FileKeychain>(folder_.path() / "keychain");
            return;
        }
        // Started once: the Secret Service library keeps its first bus for the process.
        static std::string whyNot;
        static const std::unique_ptr<SecretServiceBus> bus = SecretServiceBus::start(whyNot);
        if (!bus) {
            GTEST_SKIP() << "no Secret Service here: " << whyNot;
        }
        // A fresh keyring's default collection is its unlocked login keyring.
        auto connected = platform::SecretServiceKeychain::connect("default");
        if (!connected) {
            GTEST_SKIP() << "the Secret Service does not answer: " << connected.error().message;
        }
        keychain_ = std::move(connected.value());
        ASSERT_TRUE(keychain_->removeAll(kService).ok());
        ASSERT_TRUE(keychain_->removeAll("other.application").ok());
    }

    std::optional<std::string> find(std::string_view service, std::string_view account) {
        auto found = keychain_->find(service, account);
        EXPECT_TRUE(found.ok()) << found.error().message;
        return found ? *found : std::nullopt;
    }

    testing_support::TempDir folder_;
    std::unique_ptr<Keychain> keychain_;
};

TEST_P(KeychainContract, SetGetReplaceDelete) {
    EXPECT_EQ(find(kService, "deviceUUID"), std::nullopt);
    ASSERT_TRUE(keychain_->store(kService, "deviceUUID", "first").ok());
    ASSERT_TRUE(keychain_->store(kService, "deviceUUID", "second").ok());
    EXPECT_EQ(find(kService, "deviceUUID"), "second");

    auto removed = keychain_->remove(kService, "deviceUUID");
    ASSERT_TRUE(removed.ok());
    EXPECT_TRUE(*removed);
    EXPECT_EQ(find(kService, "deviceUUID"), std::nullopt);
    removed = keychain_->remove(kService, "deviceUUID");
    ASSERT_TRUE(removed.ok());
    EXPECT_FALSE(*removed);
}

TEST_P(KeychainContract, KeepsAnyUtf8Exactly) {
    const std::string values[] = {
        "",
        "pässwörd ✓ 密码 🔑",
        std::string("nul\0inside", 10),
        std::string(4096, 'x') + "\xF0\x9F\x98\x80",
        "line\nbreak\t<tag>&amp;",
    };
    int n = 0;
    for (const std::string& value : values) {
        const std::string account = "item" + std::to_string(n++) + " ✉";
        ASSERT_TRUE(keychain_->store(kService, account, value).ok());
        EXPECT_EQ(find(kService, account), value) << account;
    }
}

TEST_P(KeychainContract, WipeTakesOnlyTheServicesItems) {
    ASSERT_TRUE(keychain_->store(kService, "EmailID", "me@example.org").ok());
    ASSERT_TRUE(keychain_->store(kService, "Password", "secret").ok());
    ASSERT_TRUE(keychain_->store("other.application", "EmailID", "them").ok());

    auto wiped = keychain_->removeAll(kService);
    ASSERT_TRUE(wiped.ok());
    EXPECT_TRUE(*wiped);
    EXPECT_EQ(find(kService, "EmailID"), std::nullopt);
    EXPECT_EQ(find(kService, "Password"), std::nullopt);
    EXPECT_EQ(find("other.application", "EmailID"), "them");

    wiped = keychain_->removeAll(kService);
    ASSERT_TRUE(wiped.ok());
    EXPECT_FALSE(*wiped);
}

INSTANTIATE_TEST_SUITE_P(Stores, KeychainContract, ::testing::Values("file", "secretService"),
                         [](const auto& info) { return info.param; });

mode_t modeOf(const std::filesystem::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

class FileKeychainTest : public ::testing::Test {
protected:
    std::filesystem::path folder() const { return temp_.path() / "keychain"; }

    testing_support::TempDir temp_;
    FileKeychain keychain_{folder()};
};

TEST_F(FileKeychainTest, OwnerOnlyOnDiskWhateverTheUmask) {
    std::filesystem::create_directories(folder());
    std::filesystem::permissions(folder(), std::filesystem::perms::all);
    const mode_t previous = ::umask(0);
    const auto stored = keychain_.store(kService, "hasAccessToken", "token");
    ::umask(previous);
    ASSERT_TRUE(stored.ok()) << stored.error().message;

    EXPECT_EQ(modeOf(folder()), 0700u);
    EXPECT_EQ(modeOf(keychain_.file()), 0600u);
    // Nothing but the store is left behind by the atomic replace.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder()), {}), 1);
}

TEST_F(FileKeychainTest, KeepsItemsAcrossInstances) {
    ASSERT_TRUE(keychain_.store(kService, "SmtpServer", "smtp.example.org").ok());
    FileKeychain reopened(folder());
    auto found = reopened.find(kService, "SmtpServer");
    ASSERT_TRUE(found.ok());
    EXPECT_EQ(*found, "smtp.example.org");
}

TEST_F(FileKeychainTest, CorruptStoreIsAnErrorAndIsNotOverwritten) {
    const char* corruptStores[] = {
        "not a property list",
        "<plist version=\"1.0\"><array/></plist>",
        "<plist version=\"1.0\"><dict><key>s</key><string>x</string></dict></plist>",
        ("<plist version=\"1.0\"><dict><key>s</key><dict><key>a</key><integer>1</integer>"
         "</dict></dict></plist>"),
    };
    for (const char* text : corruptStores) {
        std::filesystem::create_directories(folder());
        std::ofstream(keychain_.file()) << text;
        auto found = keychain_.find(kService, "a");
        ASSERT_FALSE(found.ok()) << text;
        EXPECT_EQ(found.error().domain, platform::kKeychainErrorDomain);
        EXPECT_FALSE(keychain_.store(kService, "a", "b").ok()) << text;
        EXPECT_FALSE(keychain_.remove(kService, "a").ok()) << text;
        EXPECT_FALSE(keychain_.removeAll(kService).ok()) << text;

        std::ifstream in(keychain_.file());
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
    }
}

TEST_F(FileKeychainTest, UnreadableStoreIsAnError) {
    // Root reads any file, so the store is made a folder, which nobody can read as a file.
    std::filesystem::create_directories(keychain_.file());
    EXPECT_FALSE(keychain_.find(kService, "a").ok());
    EXPECT_FALSE(keychain_.store(kService, "a", "b").ok());
}

}  // namespace
