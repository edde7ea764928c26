#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "support/TempDir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// A program started with its standard error on a pipe that the test reads line by line.
class Program {
public:
    Program(const std::string& path, std::vector<std::string> arguments,
            std::vector<std::string> extraEnvironment) {
        int pipeEnds[2];
        if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe: " << std::strerror(errno);
            return;
        }
        output_ = pipeEnds[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);

        std::vector<std::string> words{path};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        std::vector<std::string> environment = std::move(extraEnvironment);
        for (char** entry = environ; *entry != nullptr; ++entry) {
            environment.emplace_back(*entry);
        }
        std::vector<char*> envp;
        for (auto& entry : environment) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
            ADD_FAILURE() << "cannot start " << path;
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(pipeEnds[1]);
    }
    ~Program() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) {
            close(output_);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Reads until a line holding `text` came, the output ended or `seconds` of waiting passed.
    bool waitForLine(std::string_view text, double seconds = 90) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (true) {
            for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
                std::string line = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                lines_.push_back(line);
                if (line.find(text) != std::string::npos) {
                    return true;
                }
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !readSome(static_cast<int>(left.count()))) {
                return false;
            }
        }
    }

    // Asks the program to end, reads what it still says and returns its exit status (-1 when
    // it did not exit normally).
    int terminate() {
        kill(pid_, SIGTERM);
        while (readSome(-1)) {
        }
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // What it said so far, for failure messages.
    [[nodiscard]] std::string transcript() const {
        std::string text;
        for (const auto& line : lines_) {
            text += line + "\n";
        }
        return text + pending_;
    }

private:
    // False at the end of the output or when nothing came in time.
    bool readSome(int timeoutMilliseconds) {
        pollfd ready{output_, POLLIN, 0};
        if (poll(&ready, 1, timeoutMilliseconds) <= 0) {
            return false;
        }
        char buffer[4096];
        const ssize_t got = read(output_, buffer, sizeof buffer);
        if (got <= 0) {
            return false;
        }
        pending_.append(buffer, static_cast<std::size_t>(got));
        return true;
    }

    pid_t pid_ = -1;
    int output_ = -1;
    std::string pending_;
    std::vector<std::string> lines_;
};

bool isEmptyFolder(const fs::path& folder) {
    return fs::is_directory(folder) && fs::is_empty(folder);
}

TEST(ProgramsTest, APhoneAndAWatchSetUpAndReconnectAsProgramsOnTheLocalSocketAir) {
    testing_support::TempDir folder;
    const fs::path air = folder.path() / "air";
    const fs::path home = folder.path() / "home";
    fs::create_directories(air);
    const std::vector<std::string> phoneEnvironment{"KAVO_HOME=" + home.string()};

    {
        // A new watch in setup mode meets a phone that never saw a watch.
        Program watch(KAVOWATCH_PROGRAM, {"--air", air.string(), "--state", "new"}, {});
        Program phone(KAVOMANAGER_PROGRAM, {"--air", air.string()}, phoneEnvironment);
        ASSERT_TRUE(phone.waitForLine(
            "Kavo Manager : TQInitSequence OOBE Completed , IS_WMS_CONNECTED TRUE"))
            << phone.transcript();
        EXPECT_TRUE(phone.waitForLine("Headless set-up: complete")) << phone.transcript();
        EXPECT_EQ(phone.terminate(), 0) << phone.transcript();
        EXPECT_EQ(watch.terminate(), 0) << watch.transcript();
    }
    EXPECT_TRUE(isEmptyFolder(air)) << "no socket or advertisement file stays behind";
    EXPECT_TRUE(fs::exists(home / "Documents" / "KV-R500" / "kavo_info.plist"));

    {
        // Both start again: the phone finds its watch by itself and the handshake ends as a
        // reconnection.
        Program watch(KAVOWATCH_PROGRAM, {"--air", air.string(), "--state", "reconnecting"}, {});
        Program phone(KAVOMANAGER_PROGRAM, {"--air", air.string()}, phoneEnvironment);
        ASSERT_TRUE(phone.waitForLine("Kavo Manager : TQInitSequence IS_WMS_CONNECTED TRUE"))
            << phone.transcript();
        EXPECT_EQ(phone.terminate(), 0) << phone.transcript();
        EXPECT_EQ(watch.terminate(), 0) << watch.transcript();
    }
    EXPECT_TRUE(isEmptyFolder(air));
}

}  // namespace
