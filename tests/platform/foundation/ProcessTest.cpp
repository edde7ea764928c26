#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Process.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

namespace platform {
namespace {

// Runs a shell line and gives its exit status.
std::optional<int> run(const std::string& line) {
    const std::vector<std::string> arguments{"/bin/sh", "-c", line};
    const auto child = startProgram(arguments);
    if (!child) {
        return std::nullopt;
    }
    return waitForExit(*child);
}

TEST(ProcessTest, ArgumentsReachTheProgramAsTheyAreAndItsStatusComesBack) {
    const std::vector<std::string> arguments{"/bin/sh", "-c", "[ \"$1\" = 'a b;$c' ] && exit 7",
                                             "sh", "a b;$c"};
    const auto child = startProgram(arguments);
    ASSERT_TRUE(child);
    EXPECT_EQ(waitForExit(*child), 7);
    EXPECT_EQ(startProgram(std::vector<std::string>{"/nonexistent/program"}), std::nullopt);
    EXPECT_EQ(startProgram(std::vector<std::string>{}), std::nullopt);
}

TEST(ProcessTest, TheChildInheritsNoDescriptorButTheStandardStreams) {
    // Descriptors opened without close-on-exec, as a library might leave them.
    int ends[2] = {-1, -1};
    ASSERT_EQ(pipe(ends), 0);
    const int file = open("/dev/null", O_RDONLY);
    ASSERT_GE(file, 0);
    for (const int descriptor : {ends[0], ends[1], file}) {
        EXPECT_EQ(run("[ -e /proc/self/fd/" + std::to_string(descriptor) + " ]"), 1)
            << "descriptor " << descriptor << " reached the child";
    }
    EXPECT_EQ(run("[ -e /proc/self/fd/0 ] && [ -e /proc/self/fd/1 ] && [ -e /proc/self/fd/2 ]"), 0);
    close(ends[0]);
    close(ends[1]);
    close(file);
}

TEST(ProcessTest, FindProgramTakesTheFirstExecutableFileOnThePath) {
    namespace fs = std::filesystem;
    testing_support::TempDir temp;
    const auto program = [&](const fs::path& folder, const std::string& name, fs::perms mode) {
        fs::create_directories(folder);
        std::ofstream(folder / name) << "#!/bin/sh\n";
        fs::permissions(folder / name, mode);
        return folder / name;
    };
    const auto executable = fs::perms::owner_all;
    const auto plain = fs::perms::owner_read | fs::perms::owner_write;
    program(temp.path() / "a", "tool", plain);  // not executable: passed over
    fs::create_directories(temp.path() / "b" / "tool");  // a folder: passed over
    const fs::path found = program(temp.path() / "c", "tool", executable);
    program(temp.path() / "d", "tool", executable);  // later on the path
    const std::string path = (temp.path() / "a").string() + ":" + (temp.path() / "b").string() +
                             ":" + (temp.path() / "c").string() + ":" +
                             (temp.path() / "d").string();
    testing_support::ScopedEnvironment environment("PATH", path);

    struct Case {
        std::string name;
        std::optional<fs::path> expected;
    };
    const Case cases[] = {
        {"tool", found},
        {"missing", std::nullopt},
        {"", std::nullopt},
        {found.string(), found},                                  // a slash: the name itself
        {(temp.path() / "a" / "tool").string(), std::nullopt},  // ... when it can run
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(findProgram(c.name), c.expected);
    }
    testing_support::ScopedEnvironment noPath("PATH", std::nullopt);
    EXPECT_EQ(findProgram("tool"), std::nullopt);
}

}  // namespace
}  // namespace platform
