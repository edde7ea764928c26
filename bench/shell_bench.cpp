// The start of the program with its window to its first screen drawn, beside a plain Qt
// Widgets program with one label started until it is drawn: each as a process of its own
// (the ratio, with its goal), and inside this process once Qt is up (the composition root,
// the launch sequence without a radio, the window and the first paint, beside a window with
// one label). All on Qt's offscreen platform, in wall-clock time, since the program's start
// hands work to threads and processes of its own.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Ratios.h"
#include "app/AppContext.h"
#include "app/TQWindowedApp.h"
#include "platform/bluetooth/AbsentRadio.h"

extern char** environ;

namespace {

// Starts words (extra "NAME=value" winning over this process's environment) with its standard
// error on a pipe; the seconds from the start until a line of it holds marker, or a negative
// number when the program ended or stayed silent for 30 s first. Then stops it and waits.
double secondsToLine(const std::vector<std::string>& words, const std::vector<std::string>& extra,
                     std::string_view marker) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDERR_FILENO);
    std::vector<std::string> environment(extra);
    for (char** entry = environ; *entry != nullptr; ++entry) {
        environment.emplace_back(*entry);
    }
    std::vector<char*> argv;
    for (const auto& word : words) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int spawned =
        ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (spawned != 0) {
        ::close(ends[0]);
        return -1;
    }
    double seconds = -1;
    std::string seen;
    char buffer[4096];
    for (;;) {
        pollfd ready{ends[0], POLLIN, 0};
        if (::poll(&ready, 1, 30000) <= 0) {
            break;
        }
        const ssize_t got = ::read(ends[0], buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        seen.append(buffer, static_cast<std::size_t>(got));
        if (seen.find(marker) != std::string::npos) {
            seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                          .count();
            break;
        }
        // Keep only what a marker cut by the read could still start in.
        if (seen.size() > marker.size()) {
            seen.erase(0, seen.size() - marker.size());
        }
    }
    ::kill(pid, SIGTERM);
    while (::read(ends[0], buffer, sizeof buffer) > 0) {
    }
    ::close(ends[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return seconds;
}

// Lets Qt work until done holds; false when it did not within a bound of passes.
template <typename Done>
bool processUntil(const Done& done) {
    for (int pass = 0; pass < 100000 && !done(); ++pass) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return done();
}

// Notes the first paint of a widget, as the program notes its window's.
class PaintSeen : public QObject {
public:
    bool seen = false;

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        seen = seen || event->type() == QEvent::Paint;
        return false;
    }
};

std::filesystem::path benchHome() {
    const char* tmp = std::getenv("TMPDIR");
    return std::filesystem::path(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") /
           ("kavo-shell-bench-" + std::to_string(::getpid()));
}

void BM_ProgramToFirstScreen(benchmark::State& state) {
    const auto home = benchHome();
    for (auto _ : state) {
        AppContext context({.clock = platform::RunLoop::Clock::real, .home = home});
        TQWindowedApp app(context, TQWindowedApp::Settings{.startLink = [&context] {
                              context.startLink(
                                  std::make_unique<platform::bluetooth::AbsentRadio>());
                              return true;
                          },
                          .channel = std::nullopt});
        bool drawn = false;
        app.launch(std::nullopt, [&drawn] { drawn = true; });
        if (!processUntil([&drawn] { return drawn; })) {
            state.SkipWithError("the first screen was never drawn");
            break;
        }
    }
    std::error_code removed;
    std::filesystem::remove_all(home, removed);
}

void BM_QtWindowWithOneLabel(benchmark::State& state) {
    for (auto _ : state) {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* label = new QLabel(QStringLiteral("This screen is not built yet."));
        layout->addWidget(label);
        window.resize(414, 736);
        PaintSeen paint;
        label->installEventFilter(&paint);
        window.show();
        if (!processUntil([&paint] { return paint.seen; })) {
            state.SkipWithError("the label was never drawn");
            break;
        }
    }
}

void BM_ProgramProcessToFirstScreen(benchmark::State& state) {
    const auto home = benchHome();
    const auto air = home.string() + "-air";
    std::error_code made;
    std::filesystem::create_directories(air, made);
    for (auto _ : state) {
        const double seconds = secondsToLine(
            {KAVO_PROGRAM, "--air", air},
            {"KAVO_HOME=" + home.string(), "DISPLAY=:kavo-bench", "QT_QPA_PLATFORM=offscreen"},
            TQWindowedApp::kDrawnLine);
        if (seconds < 0) {
            state.SkipWithError("the program never drew its first screen");
            break;
        }
        state.SetIterationTime(seconds);
    }
    std::error_code removed;
    std::filesystem::remove_all(home, removed);
    std::filesystem::remove_all(air, removed);
}

void BM_QtProcessToFirstLabel(benchmark::State& state) {
    for (auto _ : state) {
        const double seconds =
            secondsToLine({KAVO_LABEL_WINDOW}, {"QT_QPA_PLATFORM=offscreen"}, "drawn");
        if (seconds < 0) {
            state.SkipWithError("the Qt program never drew its label");
            break;
        }
        state.SetIterationTime(seconds);
    }
}

BENCHMARK(BM_ProgramProcessToFirstScreen)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_QtProcessToFirstLabel)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_ProgramToFirstScreen)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_QtWindowWithOneLabel)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Run names carry the timing they use.
    const bench::Ratio ratios[] = {{.benchmark = "BM_ProgramProcessToFirstScreen/manual_time",
                                    .reference = "BM_QtProcessToFirstLabel/manual_time",
                                    .wallClock = true,
                                    .goal = 3},
                                   {.benchmark = "BM_ProgramToFirstScreen/real_time",
                                    .reference = "BM_QtWindowWithOneLabel/real_time",
                                    .wallClock = true}};
    return bench::runWithRatios(argc, argv, ratios);
}
