#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/image/PicturesFolder.h"
#include "support/TempDir.h"

namespace {

// Sets an environment variable for the scope, and puts the old value back.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(PicturesFolderTest, TheFolderTheDesktopNamesElsePicturesInTheHome) {
    testing_support::TempDir home;
    const ScopedEnvironment homeVariable("HOME", home.path().string());
    const ScopedEnvironment config("XDG_CONFIG_HOME", (home.path() / ".config").string());
    EXPECT_EQ(platform::image::picturesFolder(), home.path() / "Pictures");

    std::filesystem::create_directories(home.path() / ".config");
    std::filesystem::create_directories(home.path() / "Bilder");
    std::ofstream(home.path() / ".config" / "user-dirs.dirs")
        << "# written by xdg-user-dirs-update\nXDG_PICTURES_DIR=\"$HOME/Bilder\"\n";
    EXPECT_EQ(platform::image::picturesFolder(), home.path() / "Bilder");
}

}  // namespace
