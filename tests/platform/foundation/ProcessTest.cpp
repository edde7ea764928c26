#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Process.h"

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

}  // namespace
}  // namespace platform
