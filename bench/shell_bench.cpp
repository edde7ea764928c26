// The start of the program with its window to its first screen drawn (the composition root,
// the launch sequence without a radio, the window and the first paint), beside a plain Qt
// Widgets window with one label shown until it is drawn. Both on Qt's offscreen platform, in
// wall-clock time, since the program's start hands work to threads of its own.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "Ratios.h"
#include "app/AppContext.h"
#include "app/TQWindowedApp.h"
#include "platform/bluetooth/AbsentRadio.h"

namespace {

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

BENCHMARK(BM_ProgramToFirstScreen)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_QtWindowWithOneLabel)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bench::Ratio ratios[] = {{.benchmark = "BM_ProgramToFirstScreen",
                                    .reference = "BM_QtWindowWithOneLabel",
                                    .wallClock = true,
                                    .goal = 3}};
    return bench::runWithRatios(argc, argv, ratios);
}
