// A 200 KB HTML page from a local file, loaded to its end in the application's web view (the
// layer over Qt WebEngine with its navigation policy and load reports), beside a plain
// QWebEnginePage loading the same file. Both run on Qt's offscreen platform without painting;
// the engine works on threads and processes of its own, so the ratio is of wall-clock time.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWidget>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "Ratios.h"
#include "platform/ui/web/WebEngineViews.h"
#include "platform/ui/web/WebTestSupport.h"

namespace {

constexpr std::size_t kPageBytes = 200 * 1024;

// A page of headings and paragraphs, kPageBytes long.
std::string pageText() {
    std::string html = "<!DOCTYPE html><html><head><title>Terms</title></head><body>";
    int row = 0;
    while (html.size() + 64 < kPageBytes) {
        html += row % 10 == 0 ? "<h2>Section " + std::to_string(row / 10) + "</h2>" : "";
        html += "<p>Paragraph " + std::to_string(row) +
                ": the watch keeps its applications, faces and settings in step with the "
                "phone.</p>";
        ++row;
    }
    html.append(kPageBytes - 14 - html.size(), ' ');
    html += "</body></html>";
    return html;
}

const std::string& pageURL() {
    static const std::string url = [] {
        const auto path = std::filesystem::temp_directory_path() /
                          ("kavo-web-bench-" + std::to_string(::getpid()) + ".html");
        std::ofstream(path) << pageText();
        return "file://" + path.string();
    }();
    return url;
}

class Ended : public platform::ui::web::WebViewDelegate {
public:
    bool ended = false;
    bool failed = false;
    void didFinishLoading(const std::string&) override { ended = true; }
    void didFailLoading(const std::string&, const platform::Error&) override {
        ended = true;
        failed = true;
    }
};

void BM_WebViewPage200K(benchmark::State& state) {
    platform::ui::web::WebEngineViewFactory factory(std::nullopt);
    if (auto problem = factory.unavailable()) {
        state.SkipWithError(problem->message.c_str());
        return;
    }
    QWidget host;
    host.resize(414, 736);
    Ended delegate;
    platform::ui::web::WebView* view = factory.make(host).value();
    view->setFrame({0, 0, 414, 736});
    view->setDelegate(&delegate);
    const auto load = [&] {
        delegate.ended = false;
        view->load(pageURL());
        return web_test::runUntil([&delegate] { return delegate.ended; }) && !delegate.failed;
    };
    // The first load starts the engine's content process: not what is measured.
    if (!load()) {
        state.SkipWithError("the page did not load");
        return;
    }
    for (auto _ : state) {
        if (!load()) {
            state.SkipWithError("the page did not load");
            return;
        }
    }
}

void BM_QWebEnginePage200K(benchmark::State& state) {
    QWebEngineProfile profile;
    QWebEnginePage page(&profile);
    bool ended = false;
    bool ok = false;
    QObject::connect(&page, &QWebEnginePage::loadFinished, [&](bool finished) {
        ended = true;
        ok = finished;
    });
    const QUrl url(QString::fromStdString(pageURL()));
    const auto load = [&] {
        ended = false;
        page.load(url);
        return web_test::runUntil([&ended] { return ended; }) && ok;
    };
    if (!load()) {
        state.SkipWithError("the page did not load");
        return;
    }
    for (auto _ : state) {
        if (!load()) {
            state.SkipWithError("the page did not load");
            return;
        }
    }
}

BENCHMARK(BM_WebViewPage200K)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(30);
BENCHMARK(BM_QWebEnginePage200K)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(30);

}  // namespace

int main(int argc, char** argv) {
    // The tests' application: offscreen, and as root with Chromium's sandbox off.
    web_test::application();
    const bench::Ratio ratios[] = {{.benchmark = "BM_WebViewPage200K/iterations:30/real_time",
                                    .reference = "BM_QWebEnginePage200K/iterations:30/real_time",
                                    .wallClock = true,
                                    .goal = 1.2}};
    const int status = bench::runWithRatios(argc, argv, ratios);
    std::filesystem::remove(pageURL().substr(std::string("file://").size()));
    return status;
}
