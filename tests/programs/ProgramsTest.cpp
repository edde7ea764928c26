#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/bluetooth/bluez/DeviceIdentities.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "sim/program/WatchProgram.h"
#include "support/FakeBluez.h"
#include "support/LoopbackServer.h"
#include "support/PrivateBus.h"
#include "support/Spawn.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

using Clock = std::chrono::steady_clock;

// A program started with its output on a pipe that the test reads line by line, or in a file
// when the test only wants to see it after a failure (a pipe nobody reads would fill up and
// stall the program).
class Program {
public:
    Program(const std::string& path, std::vector<std::string> arguments,
            std::vector<std::string> extraEnvironment, std::optional<fs::path> logFile = {})
        : logFile_(std::move(logFile)) {
        int pipeEnds[2] = {-1, -1};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (logFile_) {
            posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logFile_->c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0600);
            posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
        } else {
            if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
                ADD_FAILURE() << "pipe: " << std::strerror(errno);
                posix_spawn_file_actions_destroy(&actions);
                return;
            }
            output_ = pipeEnds[0];
            posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
            posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
        }

        std::vector<std::string> words{path};
        words.insert(words.end(), arguments.begin(), arguments.end());
        // The phone looks for a newer version and uploads usage logs at launch, to the maker's
        // servers by default: a closed loopback port as every program's proxy keeps the tests
        // off the network, while the loopback servers the tests start stay reachable.
        std::vector<std::string> environment{"http_proxy=http://127.0.0.1:9",
                                             "https_proxy=http://127.0.0.1:9",
                                             "no_proxy=127.0.0.1,localhost"};
        environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
        // No display unless the test gives one: the phone then runs without screens.
        environment.insert(environment.end(), {"DISPLAY=", "WAYLAND_DISPLAY="});
        pid_ = testing_support::spawnProgram(words, &actions, std::move(environment));
        if (pid_ < 0) {
            ADD_FAILURE() << "cannot start " << path;
        }
        posix_spawn_file_actions_destroy(&actions);
        if (pipeEnds[1] >= 0) {
            close(pipeEnds[1]);
        }
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

    // Reads until a line holding `text` came, the output ended or the deadline passed.
    bool waitForLine(std::string_view text, Clock::time_point deadline) {
        while (output_ >= 0) {
            for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
                std::string line = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                lines_.push_back(line);
                if (line.find(text) != std::string::npos) {
                    return true;
                }
            }
            if (!readSome(deadline)) {
                return false;
            }
        }
        return false;
    }

    // Asks the program to end and returns its exit status; -1 when it did not exit normally
    // or had to be killed for not exiting in time.
    int terminate() {
        if (pid_ <= 0) {
            return -1;
        }
        kill(pid_, SIGTERM);
        return waitForExit();
    }

    // Waits for the program to end by itself and returns its exit status; -1 when it did not
    // exit normally or had to be killed for not exiting in time.
    int waitForExit() {
        if (pid_ <= 0) {
            return -1;
        }
        const auto deadline = Clock::now() + kTerminationTime;
        while (output_ >= 0 && readSome(deadline)) {
        }
        int status = 0;
        if (!exitsBefore(deadline)) {
            kill(pid_, SIGKILL);
        }
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // What it said so far, for failure messages.
    [[nodiscard]] std::string transcript() const {
        if (logFile_) {
            std::ifstream file(*logFile_);
            return std::string(std::istreambuf_iterator<char>(file), {});
        }
        std::string text;
        for (const auto& line : lines_) {
            text += line + "\n";
        }
        return text + pending_;
    }

private:
    static constexpr std::chrono::seconds kTerminationTime{20};

    // Waits on the process itself, through a descriptor that becomes readable when it exits.
    bool exitsBefore(Clock::time_point deadline) const {
        const int process = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
        if (process < 0) {
            return true;  // no such descriptor on this kernel: the caller waits without limit
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd exited{process, POLLIN, 0};
        const bool done = poll(&exited, 1, static_cast<int>(std::max<long>(left.count(), 0))) > 0;
        close(process);
        return done;
    }

    // False at the end of the output or when nothing came before the deadline.
    bool readSome(Clock::time_point deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd ready{output_, POLLIN, 0};
        if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
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

    std::optional<fs::path> logFile_;
    pid_t pid_ = -1;
    int output_ = -1;
    std::string pending_;
    std::vector<std::string> lines_;
};

bool isEmptyFolder(const fs::path& folder) {
    return fs::is_directory(folder) && fs::is_empty(folder);
}

// The phone's log files in its Documents folder, by name.
std::vector<fs::path> phoneLogFiles(const fs::path& home) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(home / "Documents")) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("com.kavo.KavoManager ") && name.ends_with(".log")) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string contentsOf(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// What the journal keeps of the lines kavomanager marked as its own; empty without a journal.
std::string journalLinesOfThePhone() {
    std::string text;
    if (FILE* pipe =
            popen("journalctl -q -o verbose LGLOG=1 _COMM=kavomanager -n 20 2>/dev/null", "r")) {
        char buffer[4096];
        for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            text.append(buffer, got);
        }
        pclose(pipe);
    }
    return text;
}

// The usage logs the phone keeps in its database until the feedback server takes them (it is
// out of reach here, so every one stays).
int usageLogsKept(const fs::path& home) {
    const std::string command = std::string(KAVO_SQLITE3_PROGRAM) + " -readonly '" +
                                (home / "Documents" / "TQA_DB.db").string() +
                                "' 'SELECT count(*) FROM TQDBLog;' 2>/dev/null";
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[64];
        for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            text.append(buffer, got);
        }
        pclose(pipe);
    }
    return text.empty() ? -1 : std::atoi(text.c_str());
}

TEST(ProgramsTest, APhoneAndAWatchSetUpAndReconnectAsProgramsOnTheLocalSocketAir) {
    testing_support::TempDir folder;
    const fs::path air = folder.path() / "air";
    const fs::path home = folder.path() / "home";
    fs::create_directories(air);
    const std::vector<std::string> phoneEnvironment{"KAVO_HOME=" + home.string()};
    // Well inside the test's own time limit, so that a stuck run fails here with the programs'
    // words instead of being killed with them still running.
    const auto deadline = Clock::now() + std::chrono::seconds(70);

    {
        // A new watch in setup mode meets a phone that never saw a watch.
        Program watch(KAVOWATCH_PROGRAM, {"--air", air.string(), "--state", "new"}, {},
                      folder.path() / "watch-1.log");
        Program phone(KAVOMANAGER_PROGRAM, {"--air", air.string()}, phoneEnvironment);
        ASSERT_TRUE(phone.waitForLine(
            "Kavo Manager : TQInitSequence OOBE Completed , IS_WMS_CONNECTED TRUE", deadline))
            << phone.transcript();
        EXPECT_TRUE(phone.waitForLine("Headless set-up: complete", deadline)) << phone.transcript();
        EXPECT_EQ(phone.terminate(), 0) << phone.transcript();
        EXPECT_EQ(watch.terminate(), 0) << watch.transcript();
    }
    EXPECT_TRUE(isEmptyFolder(air)) << "no socket or advertisement file stays behind";
    EXPECT_TRUE(fs::exists(home / "Documents" / "KV-R500" / "kavo_info.plist"));
    // The set-up's end recorded the connection by the user.
    EXPECT_GE(usageLogsKept(home), 1);
    // The run's lines are in a log file of the container, closed and marked when it ended.
    const auto firstLogs = phoneLogFiles(home);
    ASSERT_EQ(firstLogs.size(), 1u);
    EXPECT_NE(contentsOf(firstLogs[0]).find("  Headless set-up: complete; the watch is in use\n"),
              std::string::npos);
    if (fs::exists("/run/systemd/journal/socket")) {
        const std::string journal = journalLinesOfThePhone();
        EXPECT_NE(journal.find("LGLOG=1"), std::string::npos) << journal;
        EXPECT_NE(journal.find("MESSAGE="), std::string::npos) << journal;
    }

    {
        // Both start again: the phone finds its watch by itself and the handshake ends as a
        // reconnection.
        Program watch(KAVOWATCH_PROGRAM, {"--air", air.string(), "--state", "reconnecting"}, {},
                      folder.path() / "watch-2.log");
        Program phone(KAVOMANAGER_PROGRAM, {"--air", air.string()}, phoneEnvironment);
        ASSERT_TRUE(
            phone.waitForLine("Kavo Manager : TQInitSequence IS_WMS_CONNECTED TRUE", deadline))
            << phone.transcript();
        EXPECT_EQ(phone.terminate(), 0) << phone.transcript();
        EXPECT_EQ(watch.terminate(), 0) << watch.transcript();
    }
    EXPECT_TRUE(isEmptyFolder(air));
    // The launch and the reconnection were recorded too.
    EXPECT_GE(usageLogsKept(home), 2);
    const auto logs = phoneLogFiles(home);
    ASSERT_EQ(logs.size(), 2u) << "the first run's file was finished; the second made its own";
    const fs::path second = logs[0] == firstLogs[0] ? logs[1] : logs[0];
    EXPECT_NE(contentsOf(second).find("Kavo Manager : TQInitSequence IS_WMS_CONNECTED TRUE"),
              std::string::npos);
}

// One program per home: a second kavomanager on the same home ends at once, while the first,
// which holds the home, swept what an interrupted write of an earlier run left there.
TEST(ProgramsTest, ASecondPhoneOnTheSameHomeEndsAtOnce) {
    testing_support::TempDir folder;
    const fs::path air = folder.path() / "air";
    const fs::path home = folder.path() / "home";
    fs::create_directories(air);
    fs::create_directories(home / "Library" / "Preferences");
    const fs::path leftover =
        home / "Library" / "Preferences" / "com.kavo.KavoManager.plist.kavo-atomic-Ab12Cd";
    std::ofstream(leftover) << "half a write";
    const std::vector<std::string> environment{"KAVO_HOME=" + home.string()};
    const auto deadline = Clock::now() + std::chrono::seconds(60);

    Program first(KAVOMANAGER_PROGRAM, {"--air", air.string()}, environment);
    ASSERT_TRUE(first.waitForLine("on the air in", deadline)) << first.transcript();
    EXPECT_FALSE(fs::exists(leftover));
    {
        Program second(KAVOMANAGER_PROGRAM, {"--air", air.string()}, environment);
        EXPECT_TRUE(
            second.waitForLine(home.string() + " is in use by another process (process ", deadline))
            << second.transcript();
        EXPECT_EQ(second.waitForExit(), 1) << second.transcript();
    }
    EXPECT_EQ(first.terminate(), 0) << first.transcript();

    Program again(KAVOMANAGER_PROGRAM, {"--air", air.string()}, environment);
    EXPECT_TRUE(again.waitForLine("on the air in", deadline)) << again.transcript();
    EXPECT_EQ(again.terminate(), 0) << again.transcript();
}

// The application on the machine's Bluetooth: the tests' bluetoothd serves it as the system bus,
// and the simulated watch is on that daemon's air, on a loop of its own thread.
TEST(ProgramsTest, APhoneOnBluezSetsUpAWatchAndReconnectsWhenItComesBack) {
    std::string whyNot;
    const auto bus = testing_support::PrivateBus::start(whyNot);
    if (!bus) {
        GTEST_SKIP() << "no private bus here: " << whyNot;
    }
    testing_support::TempDir folder;
    const fs::path home = folder.path() / "home";
    const auto deadline = Clock::now() + std::chrono::seconds(70);
    // How the watch names the phone on the daemon's air.
    const auto phoneOnAir =
        *platform::bluetooth::Uuid::parse("0B1E0B1E-0000-4000-8000-00000000C0DE");

    // The phone names a device by the identifier it keeps for the device's address, and the
    // simulated watch wants the handshake to name it by its own: the phone's defaults start
    // with the two the same, as a real watch would not check.
    {
        const fs::path preferences = home / "Library" / "Preferences";
        fs::create_directories(preferences);
        platform::UserDefaults defaults(preferences /
                                        (std::string(platform::kBundleIdentifier) + ".plist"));
        platform::Dictionary devices;
        devices.set("dev_C0_11_22_33_44_55", kavowatch::kProgramIdentifier.toLongString());
        defaults.set(platform::bluetooth::bluez::DeviceIdentities::kDefaultsKey, devices);
        ASSERT_TRUE(defaults.synchronize());
    }
    platform::RunLoop loop(platform::RunLoop::Clock::real);
    const auto daemon = testing_support::FakeBluez::start(bus->address(), loop, phoneOnAir);
    ASSERT_NE(daemon, nullptr);
    kavowatch::ProgramOptions options;
    options.state = kavowatch::StartState::fresh;
    std::unique_ptr<kavowatch::WatchProgram> watch;
    const auto onWatchLoop = [&loop](std::function<void()> work) { loop.post(std::move(work)); };
    std::thread driver([&] { loop.run(); });
    // However the test ends, the watch goes on its own loop and the loop's thread ends.
    struct Stop {
        std::function<void()> stop;
        ~Stop() { stop(); }
    } stop{[&] {
        onWatchLoop([&] {
            watch.reset();
            loop.stop();
        });
        driver.join();
    }};
    onWatchLoop([&] {
        watch = std::make_unique<kavowatch::WatchProgram>(
            loop,
            [&daemon](const platform::bluetooth::Uuid& identifier) {
                return daemon->attach(identifier, "C0:11:22:33:44:55");
            },
            options, kavowatch::Script{});
        watch->start();
    });

    {
        Program phone(KAVOMANAGER_PROGRAM, {},
                      {"KAVO_HOME=" + home.string(), "DBUS_SYSTEM_BUS_ADDRESS=" + bus->address()});
        EXPECT_TRUE(phone.waitForLine("on Bluetooth (BlueZ)", deadline)) << phone.transcript();
        ASSERT_TRUE(phone.waitForLine(
            "Kavo Manager : TQInitSequence OOBE Completed , IS_WMS_CONNECTED TRUE", deadline))
            << phone.transcript();
        EXPECT_TRUE(phone.waitForLine("Headless set-up: complete", deadline)) << phone.transcript();

        // The watch walks away and comes back; the phone finds it and links up again.
        onWatchLoop([&] { watch->watch().vanish(); });
        ASSERT_TRUE(phone.waitForLine("[Core Manager]: Device Disconnected", deadline))
            << phone.transcript();
        onWatchLoop([&] { watch->start(); });
        ASSERT_TRUE(
            phone.waitForLine("Kavo Manager : TQInitSequence IS_WMS_CONNECTED TRUE", deadline))
            << phone.transcript();
        EXPECT_EQ(phone.terminate(), 0) << phone.transcript();
    }
    const auto counts = daemon->counts();
    EXPECT_EQ(counts.transport, "le");
    EXPECT_GE(counts.applicationRegistrations, 1);
    EXPECT_TRUE(daemon->application().problems.empty());
}

TEST(ProgramsTest, AWatchFetchesAPageThroughThePhonesWebProxy) {
    testing_support::TempDir folder;
    testing_support::LoopbackServer server;
    const fs::path air = folder.path() / "air";
    const fs::path page = folder.path() / "page.bin";
    fs::create_directories(air);
    const auto deadline = Clock::now() + std::chrono::seconds(70);

    // The server is on the loopback, which the proxy reaches only when the user allows it.
    const fs::path home = folder.path() / "home";
    {
        const fs::path preferences = home / "Library" / "Preferences";
        fs::create_directories(preferences);
        platform::UserDefaults defaults(preferences /
                                        (std::string(platform::kBundleIdentifier) + ".plist"));
        defaults.set("kavo.webproxy.allowLoopback", true);
        ASSERT_TRUE(defaults.synchronize());
    }

    Program watch(KAVOWATCH_PROGRAM,
                  {"--air", air.string(), "--state", "new", "--fetch",
                   server.url("/bytes?size=70000"), "--fetch-to", page.string()},
                  {});
    Program phone(KAVOMANAGER_PROGRAM, {"--air", air.string()}, {"KAVO_HOME=" + home.string()},
                  folder.path() / "phone.log");
    ASSERT_TRUE(watch.waitForLine("kavowatch: saved 70000 bytes", deadline)) << watch.transcript();
    EXPECT_EQ(watch.terminate(), 0) << watch.transcript();
    EXPECT_EQ(phone.terminate(), 0) << phone.transcript();
    const std::string saved = contentsOf(page);
    ASSERT_EQ(saved.size(), 70000U);
    for (std::size_t i = 0; i < saved.size(); ++i) {
        ASSERT_EQ(static_cast<std::uint8_t>(saved[i]),
                  testing_support::LoopbackServer::patternByte(i));
    }
    ASSERT_TRUE(server.last());
    EXPECT_EQ(server.last()->target, "/bytes?size=70000");
}

// The store screen's install, through the headless stand-in: the phone downloads a package
// from the simulated store and the watch installs it.
TEST(ProgramsTest, APhoneInstallsAStoreAppOnTheWatchAsPrograms) {
    testing_support::TempDir folder;
    const fs::path air = folder.path() / "air";
    const fs::path home = folder.path() / "home";
    fs::create_directories(air);
    const auto deadline = Clock::now() + std::chrono::seconds(70);

    Program store(KAVOSTORE_PROGRAM, {"--packages", (folder.path() / "packages").string()}, {});
    ASSERT_TRUE(store.waitForLine("kavostore: serving on http://127.0.0.1:", deadline))
        << store.transcript();
    const std::string said = store.transcript();
    const auto at = said.find("http://127.0.0.1:");
    const std::string url = said.substr(at, said.find('\n', at) - at) + "/packages/Stopwatch.wgt";

    Program watch(KAVOWATCH_PROGRAM, {"--air", air.string(), "--state", "new"}, {},
                  folder.path() / "watch.log");
    Program phone(KAVOMANAGER_PROGRAM, {"--air", air.string(), "--install", url},
                  {"KAVO_HOME=" + home.string()});
    // The phone hears of the install last: the watch's result has come back to it.
    ASSERT_TRUE(phone.waitForLine("Headless store: installed com.kavo.stopwatch", deadline))
        << phone.transcript() << watch.transcript();
    EXPECT_EQ(phone.terminate(), 0) << phone.transcript();
    EXPECT_EQ(watch.terminate(), 0) << watch.transcript();
    EXPECT_EQ(store.terminate(), 0) << store.transcript();
    EXPECT_NE(watch.transcript().find("kavowatch: installed com.kavo.stopwatch (Stopwatch 1.2.0); "
                                      "applications now: com.kavo.weather, com.kavo.heartrate, "
                                      "com.kavo.timer, com.kavo.stopwatch"),
              std::string::npos)
        << watch.transcript();
    const fs::path watchFolder = home / "Documents" / "KV-R500";
    EXPECT_NE(contentsOf(watchFolder / "wapplist.xml").find("com.kavo.stopwatch"),
              std::string::npos);
    EXPECT_TRUE(fs::exists(watchFolder / "AppIcons" / "com.kavo.stopwatch.png"));
    EXPECT_FALSE(fs::exists(home / "Documents" / "Stopwatch.wgt"));
    EXPECT_TRUE(isEmptyFolder(air));
}

// An X server of the test's own (Xvfb), on a local socket only; it names its display once it
// accepts clients.
class XServer {
public:
    XServer() {
#ifdef KAVO_XVFB_PROGRAM
        int ends[2] = {-1, -1};
        if (pipe2(ends, O_CLOEXEC) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], 3);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        pid_ = testing_support::spawnProgram(
            {KAVO_XVFB_PROGRAM, "-displayfd", "3", "-nolisten", "tcp", "-br", "-screen", "0",
             "800x900x24"},
            &actions);
        posix_spawn_file_actions_destroy(&actions);
        close(ends[1]);
        // The display number and a newline, once it is ready.
        std::string said;
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (said.find('\n') == std::string::npos && Clock::now() < deadline) {
            pollfd ready{ends[0], POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - Clock::now());
            if (poll(&ready, 1, static_cast<int>(std::max<long>(left.count(), 0))) <= 0) {
                break;
            }
            char buffer[32];
            const ssize_t got = read(ends[0], buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            said.append(buffer, static_cast<std::size_t>(got));
        }
        close(ends[0]);
        if (const auto end = said.find('\n'); end != std::string::npos && end > 0) {
            display_ = ":" + said.substr(0, end);
        }
#endif
    }
    ~XServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    // Empty when it did not start.
    [[nodiscard]] const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

// What a screenshot of the whole display shows: how many pixels differ from the display's
// bottom-right corner (the bare root, which no window covers) and how many colours there are.
struct ScreenContents {
    std::size_t covered = 0;
    std::size_t colours = 0;
};

// An X window dump of a true-colour display: a header of big-endian 32-bit fields (its size
// first), the colour map, then the rows of pixels.
class WindowDump {
public:
    // Nothing when the file is not one this test can read.
    static std::optional<WindowDump> read(const fs::path& path) {
        WindowDump dump;
        dump.data_ = contentsOf(path);
        const std::uint32_t headerSize = dump.field(0);
        dump.width_ = dump.field(4);
        dump.height_ = dump.field(5);
        const std::uint32_t bitsPerPixel = dump.field(11);
        dump.bytesPerLine_ = dump.field(12);
        const std::uint32_t colourEntries = dump.field(19);
        dump.start_ = std::size_t{headerSize} + std::size_t{colourEntries} * 12;
        // Three or four bytes a pixel; a row may hold more than its pixels.
        dump.step_ = bitsPerPixel / 8;
        if (headerSize < 100 || (bitsPerPixel != 24 && bitsPerPixel != 32) || dump.width_ == 0 ||
            dump.height_ == 0 || dump.bytesPerLine_ < std::size_t{dump.width_} * dump.step_ ||
            dump.start_ + dump.bytesPerLine_ * dump.height_ > dump.data_.size()) {
            return std::nullopt;
        }
        return dump;
    }

    [[nodiscard]] std::uint32_t width() const { return width_; }
    [[nodiscard]] std::uint32_t height() const { return height_; }

    // Three colour bytes, whichever their order; 0 outside the display.
    [[nodiscard]] std::uint32_t pixel(std::uint32_t x, std::uint32_t y) const {
        if (x >= width_ || y >= height_) {
            return 0;
        }
        std::uint32_t value = 0;
        std::memcpy(&value, data_.data() + start_ + y * bytesPerLine_ + std::size_t{x} * step_, 3);
        return value;
    }

    // Near white: every colour byte high, as no dimmed or orange part of a page is.
    [[nodiscard]] bool isPale(std::uint32_t x, std::uint32_t y) const {
        const std::uint32_t value = pixel(x, y);
        return x < width_ && y < height_ && (value & 0xff) >= 230 && ((value >> 8) & 0xff) >= 230 &&
               ((value >> 16) & 0xff) >= 230;
    }

private:
    [[nodiscard]] std::uint32_t field(std::size_t index) const {
        const std::size_t at = index * 4;
        if (at + 4 > data_.size()) {
            return 0;
        }
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            value = (value << 8) | static_cast<unsigned char>(data_[at + i]);
        }
        return value;
    }

    std::string data_;
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    std::size_t bytesPerLine_ = 0;
    std::size_t start_ = 0;
    std::uint32_t step_ = 0;
};

ScreenContents screenContents(const WindowDump& dump) {
    const std::uint32_t ground = dump.pixel(dump.width() - 1, dump.height() - 1);
    ScreenContents contents;
    std::vector<std::uint32_t> seen;
    for (std::uint32_t y = 0; y < dump.height(); ++y) {
        for (std::uint32_t x = 0; x < dump.width(); ++x) {
            const std::uint32_t value = dump.pixel(x, y);
            contents.covered += value != ground ? 1 : 0;
            if (seen.size() < 64 && std::find(seen.begin(), seen.end(), value) == seen.end()) {
                seen.push_back(value);
            }
        }
    }
    contents.colours = seen.size();
    return contents;
}

#if defined(KAVO_XVFB_PROGRAM)
// A new watch and a phone with a display of its own (Xvfb) on one air, until the phone's first
// screen is drawn: where the window tests start.
struct WindowedPair {
    XServer server;
    testing_support::TempDir folder;
    fs::path air = folder.path() / "air";
    std::optional<Program> watch;
    std::optional<Program> phone;

    void start(Clock::time_point deadline) {
        ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
        fs::create_directories(air);
        watch.emplace(KAVOWATCH_PROGRAM,
                      std::vector<std::string>{"--air", air.string(), "--state", "new"},
                      std::vector<std::string>{}, folder.path() / "watch.log");
        // What the desktop's libraries under Qt keep for the whole process (the bus
        // connection, the font caches) is theirs, not a leak of the program's.
        const fs::path suppressions = folder.path() / "desktop-leaks.supp";
        std::ofstream(suppressions) << "leak:libdbus-1.so\nleak:libfontconfig.so\n";
        phone.emplace(KAVOMANAGER_PROGRAM, std::vector<std::string>{"--air", air.string()},
                      std::vector<std::string>{
                          "KAVO_HOME=" + (folder.path() / "home").string(),
                          "DISPLAY=" + server.display(), "QT_QPA_PLATFORM=xcb",
                          "LSAN_OPTIONS=suppressions=" + suppressions.string()});
        ASSERT_TRUE(phone->waitForLine("TQWindowedApp: the first screen is drawn", deadline))
            << phone->transcript();
    }
};
#endif

// The phone with a display opens its window beside the watch; the first screen is drawn there.
TEST(ProgramsTest, WithADisplayThePhoneOpensItsWindowWithTheFirstScreen) {
#if !defined(KAVO_XVFB_PROGRAM) || !defined(KAVO_XWD_PROGRAM)
    GTEST_SKIP() << "Xvfb or xwd is missing (scripts/setup installs them)";
#else
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    WindowedPair pair;
    ASSERT_NO_FATAL_FAILURE(pair.start(deadline));
    const XServer& server = pair.server;
    const testing_support::TempDir& folder = pair.folder;
    const fs::path& air = pair.air;
    Program& watch = *pair.watch;
    Program& phone = *pair.phone;

    const fs::path shot = folder.path() / "screen.xwd";
    ASSERT_TRUE(testing_support::runQuietly({KAVO_XWD_PROGRAM, "-root", "-silent", "-display",
                                             server.display(), "-out", shot.string()}));
    const auto dump = WindowDump::read(shot);
    ASSERT_TRUE(dump.has_value()) << "not a window dump xwd writes on this display: "
                                  << fs::file_size(shot) << " bytes";
    const ScreenContents contents = screenContents(*dump);
    // The phone-sized window covers its part of the display, and shows more than a plain
    // ground: its screen's text and bars.
    EXPECT_GE(contents.covered, std::size_t{400} * 700);
    EXPECT_GE(contents.colours, 3u);

    EXPECT_EQ(phone.terminate(), 0) << phone.transcript();
    EXPECT_EQ(watch.terminate(), 0) << watch.transcript();
    EXPECT_TRUE(isEmptyFolder(air));
#endif
}

#ifdef KAVO_XDOTOOL_PROGRAM
// Where a window lies on the display, in the display's pixels.
struct WindowFrame {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// What xdotool printed, or nothing when it failed.
std::optional<std::string> xdotoolSays(const std::string& display,
                                       std::vector<std::string> arguments) {
    Program tool(KAVO_XDOTOOL_PROGRAM, std::move(arguments), {"DISPLAY=" + display});
    if (tool.waitForExit() != 0) {
        return std::nullopt;
    }
    return tool.transcript();
}

// The phone's window, once it is mapped: its title is the program's name.
std::optional<WindowFrame> phoneWindow(const std::string& display, Clock::time_point deadline) {
    while (Clock::now() < deadline) {
        const auto found =
            xdotoolSays(display, {"search", "--onlyvisible", "--name", "^KavoManager$"});
        if (!found || found->empty()) {
            continue;
        }
        const std::string window = found->substr(0, found->find('\n'));
        const auto said = xdotoolSays(display, {"getwindowgeometry", "--shell", window});
        if (!said) {
            continue;
        }
        // NAME=value lines.
        const auto value = [&said](std::string_view name) {
            const std::string key = "\n" + std::string(name) + "=";
            const std::string text = "\n" + *said;
            const auto at = text.find(key);
            return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + key.size());
        };
        const WindowFrame frame{value("X"), value("Y"), value("WIDTH"), value("HEIGHT")};
        if (frame.x >= 0 && frame.y >= 0 && frame.width > 0 && frame.height > 0) {
            return frame;
        }
    }
    return std::nullopt;
}

bool clickAt(const std::string& display, int x, int y) {
    return xdotoolSays(display, {"mousemove", std::to_string(x), std::to_string(y), "click", "1"})
        .has_value();
}
#endif

// Through its real window, the welcome page scans, offers the nearest watch, and pairs it when
// the offer is accepted: the set-up runs to its end and the permissions page follows.
TEST(ProgramsTest, WithADisplayTheWelcomePagePairsTheOfferedWatch) {
#if !defined(KAVO_XVFB_PROGRAM) || !defined(KAVO_XWD_PROGRAM) || !defined(KAVO_XDOTOOL_PROGRAM)
    GTEST_SKIP() << "Xvfb, xwd or xdotool is missing (scripts/setup installs them)";
#else
    const auto deadline = Clock::now() + std::chrono::seconds(90);
    WindowedPair pair;
    ASSERT_NO_FATAL_FAILURE(pair.start(deadline));
    const XServer& server = pair.server;
    const testing_support::TempDir& folder = pair.folder;
    const fs::path& air = pair.air;
    Program& watch = *pair.watch;
    Program& phone = *pair.phone;
    // The phone publishes its link service a few seconds after Bluetooth comes on; a watch
    // that connects before then finds nothing to talk to and leaves.
    constexpr std::string_view published = "PERIPHERAL: did add service successful";
    ASSERT_TRUE(phone.transcript().find(published) != std::string::npos ||
                phone.waitForLine(published, deadline))
        << phone.transcript();
    const auto window = phoneWindow(server.display(), deadline);
    ASSERT_TRUE(window.has_value()) << "no visible KavoManager window";

    // The page is laid out for a 414x736 window and scales with the window's height; the
    // connect button is 50 high, its bottom 100 above the window's.
    const double scale = std::max(window->width, window->height) / 736.0;
    const int middleX = window->x + window->width / 2;
    ASSERT_TRUE(clickAt(server.display(), middleX,
                        window->y + window->height - static_cast<int>(125 * scale)));

    // The offer is a pale box centred on the window, at most 270 wide and not scaled, its
    // Cancel and Connect buttons side by side along its bottom, 44 high. A column just inside
    // its right edge, clear of the texts and the rounded corners, finds the box's bottom.
    const int boxWidth = std::min(270, window->width - 32);
    const auto column = static_cast<std::uint32_t>(middleX + boxWidth / 2 - 14);
    const auto middleY = static_cast<std::uint32_t>(window->y + window->height / 2);
    const fs::path shot = folder.path() / "screen.xwd";
    std::optional<std::uint32_t> boxBottom;
    while (!boxBottom && Clock::now() < deadline) {
        if (!testing_support::runQuietly({KAVO_XWD_PROGRAM, "-root", "-silent", "-display",
                                          server.display(), "-out", shot.string()})) {
            continue;
        }
        const auto dump = WindowDump::read(shot);
        if (!dump || !dump->isPale(column, middleY)) {
            continue;
        }
        std::uint32_t y = middleY;
        while (dump->isPale(column, y + 1)) {
            ++y;
        }
        boxBottom = y;
    }
    ASSERT_TRUE(boxBottom.has_value()) << "no offer came up\n" << phone.transcript();
    ASSERT_TRUE(clickAt(server.display(), middleX + boxWidth / 4, static_cast<int>(*boxBottom) - 22));

    ASSERT_TRUE(phone.waitForLine("CENTRAL: Peripheral connected with identifier", deadline))
        << phone.transcript();
    EXPECT_TRUE(phone.waitForLine("TQInitSequence: Response received: mgr_sync_init_setting_res",
                                  deadline))
        << phone.transcript();
    // A new phone has its permissions left to ask.
    EXPECT_TRUE(
        phone.waitForLine("didShowViewController:animated:] TQAllowPrivacyViewController", deadline))
        << phone.transcript();

    EXPECT_EQ(phone.terminate(), 0) << phone.transcript();
    EXPECT_EQ(watch.terminate(), 0) << watch.transcript();
    EXPECT_NE(watch.transcript().find("kavowatch: paired with"), std::string::npos)
        << watch.transcript();
    EXPECT_NE(watch.transcript().find("kavowatch: sent mgr_sync_init_setting_res"),
              std::string::npos)
        << watch.transcript();
    EXPECT_TRUE(isEmptyFolder(air));
#endif
}

}  // namespace
