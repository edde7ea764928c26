#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/host/InstanceChannel.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

using testing_support::ScopedEnvironment;

int rawSocket(const fs::path& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The channel's listener runs on a thread of its own; a send returns once the text is posted
// to the loop, so the loop delivers it without waiting on any clock.
class InstanceChannelTest : public ::testing::Test {
protected:
    Result<std::unique_ptr<InstanceChannel>> listen() {
        return InstanceChannel::listen(path, loop, [this](std::string text) {
            received.push_back(std::move(text));
        });
    }

    testing_support::TempDir dir;
    fs::path path = dir.path() / "run" / "channel.sock";
    RunLoop loop{RunLoop::Clock::virtualTime};
    std::vector<std::string> received;
};

TEST_F(InstanceChannelTest, TextsReachTheListenerOnItsLoop) {
    auto channel = listen();
    ASSERT_TRUE(channel.ok()) << channel.error().message;
    // The folder it made is the user's alone.
    struct stat folder {};
    ASSERT_EQ(::stat(path.parent_path().c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700U);

    const std::string longest(InstanceChannel::kMaxText, 'x');
    for (const std::string& text : {std::string("quorvelapps://ProductDetail/12345"),
                                   std::string(), longest}) {
        const auto sent = InstanceChannel::send(path, text);
        EXPECT_TRUE(sent.ok()) << sent.error().message;
    }
    EXPECT_TRUE(received.empty());  // nothing runs off the loop
    loop.runUntilIdle();
    EXPECT_EQ(received,
              (std::vector<std::string>{"quorvelapps://ProductDetail/12345", "", longest}));

    // Gone with its channel, socket included.
    channel->reset();
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(InstanceChannel::send(path, "late").ok());
}

TEST_F(InstanceChannelTest, TextsItCannotTakeAreRefusedWithAClearError) {
    auto channel = listen();
    ASSERT_TRUE(channel.ok());
    const struct {
        std::string text;
        const char* says;
    } cases[] = {
        {std::string(InstanceChannel::kMaxText + 1, 'x'), "more than"},
        {std::string("quorvelapps://a\0b", 17), "NUL"},
    };
    for (const auto& c : cases) {
        const auto sent = InstanceChannel::send(path, c.text);
        ASSERT_FALSE(sent.ok());
        EXPECT_NE(sent.error().message.find(c.says), std::string::npos) << sent.error().message;
    }

    // A peer that does not keep to the bound is refused by the listener too.
    for (const std::size_t size : {InstanceChannel::kMaxText + 2, std::size_t{100'000}}) {
        const int peer = rawSocket(path);
        ASSERT_GE(peer, 0);
        const std::string frame = "M" + std::string(size, 'y');
        std::size_t written = 0;
        while (written < frame.size()) {
            const auto n = ::send(peer, frame.data() + written, frame.size() - written,
                                  MSG_NOSIGNAL);
            if (n <= 0) {
                break;  // the listener stopped reading: refused
            }
            written += static_cast<std::size_t>(n);
        }
        ::shutdown(peer, SHUT_WR);
        char reply = 0;
        EXPECT_EQ(::read(peer, &reply, 1), 1);
        EXPECT_EQ(reply, 0x15);
        ::close(peer);
    }
    // A bare connection (a probe) is no text.
    ::close(rawSocket(path));
    EXPECT_TRUE(InstanceChannel::send(path, "after").ok());
    loop.runUntilIdle();
    EXPECT_EQ(received, std::vector<std::string>{"after"});
}

TEST_F(InstanceChannelTest, ASocketLeftByADeadProgramIsReplaced) {
    fs::create_directories(path.parent_path());
    {
        // Bound and closed without removing its file, as a killed program leaves it.
        const int dead = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(dead, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ::close(dead);
    }
    ASSERT_TRUE(fs::exists(path));
    EXPECT_FALSE(InstanceChannel::send(path, "x").ok());
    auto channel = listen();
    ASSERT_TRUE(channel.ok()) << channel.error().message;
    EXPECT_TRUE(InstanceChannel::send(path, "x").ok());

    // A live listener is not replaced, and a file that is no socket is never removed.
    const auto second = listen();
    ASSERT_FALSE(second.ok());
    EXPECT_NE(second.error().message.find("another program"), std::string::npos);
    channel->reset();
    std::ofstream(path) << "mine";
    EXPECT_FALSE(listen().ok());
    EXPECT_TRUE(fs::is_regular_file(path));
}

TEST_F(InstanceChannelTest, APeerOfAnotherUserIsRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can connect as another user";
    }
    // Folders and socket open to all, so that only the peer check stands in the way.
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_exec);
    fs::create_directories(path.parent_path());
    fs::permissions(path.parent_path(), fs::perms::all);
    auto channel = listen();
    ASSERT_TRUE(channel.ok()) << channel.error().message;
    fs::permissions(path, fs::perms::all);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Only system calls here: the parent has threads.
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(10);
        }
        const int fd = rawSocket(path);
        if (fd < 0) {
            ::_exit(11);
        }
        [[maybe_unused]] const auto sent = ::send(fd, "Mhello", 6, MSG_NOSIGNAL);
        ::shutdown(fd, SHUT_WR);
        char reply = 0;
        // Closed (or reset, its text unread) without an acknowledgement.
        ::_exit(::read(fd, &reply, 1) == 1 ? 12 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: no other user, 11: no connection, 12: answered";
    loop.runUntilIdle();
    EXPECT_TRUE(received.empty());
    // The user's own peers are still served.
    EXPECT_TRUE(InstanceChannel::send(path, "mine").ok());
}

TEST_F(InstanceChannelTest, WithoutAListenerSendingFails) {
    const auto sent = InstanceChannel::send(path, "quorvelapps://MainCategoryList");
    ASSERT_FALSE(sent.ok());
    EXPECT_NE(sent.error().message.find("no program listens"), std::string::npos);
}

TEST(InstanceChannelPathTest, ThePathFitsASocketAddressOrIsEmpty) {
    testing_support::TempDir dir;
    const fs::path runtime = dir.path() / "runtime";
    const fs::path shortHome = dir.path() / "home";
    const fs::path longHome = dir.path() / std::string(120, 'h');
    {
        ScopedEnvironment env("XDG_RUNTIME_DIR", runtime.string());
        const auto a = InstanceChannel::pathFor(shortHome);
        EXPECT_EQ(a.parent_path(), runtime / "kavomanager");
        // One home, one place; another home, another; a long home fits as well.
        EXPECT_EQ(InstanceChannel::pathFor(shortHome / "."), a);
        EXPECT_NE(InstanceChannel::pathFor(dir.path() / "other"), a);
        EXPECT_EQ(InstanceChannel::pathFor(longHome).parent_path(), runtime / "kavomanager");
    }
    for (const std::optional<std::string>& unusable :
         {std::optional<std::string>(), std::optional<std::string>("relative/run"),
          std::optional<std::string>("/" + std::string(120, 'r'))}) {
        ScopedEnvironment env("XDG_RUNTIME_DIR", unusable);
        EXPECT_EQ(InstanceChannel::pathFor(shortHome).parent_path(), shortHome);
        const auto none = InstanceChannel::pathFor(longHome);
        EXPECT_TRUE(none.empty());
        RunLoop loop{RunLoop::Clock::virtualTime};
        const auto listened = InstanceChannel::listen(none, loop, [](std::string) {});
        ASSERT_FALSE(listened.ok());
        EXPECT_NE(listened.error().message.find("short enough"), std::string::npos);
        EXPECT_FALSE(InstanceChannel::send(none, "x").ok());
    }
}

}  // namespace
}  // namespace platform
