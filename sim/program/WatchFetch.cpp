#include "sim/program/WatchFetch.h"

#include <cstdio>

#include "logging/LGLog.h"
#include "platform/foundation/FileSystem.h"

namespace kavowatch {

namespace {

constexpr double kCheckInterval = 0.1;

}  // namespace

WatchFetch::WatchFetch(platform::RunLoop& loop, Watch& watch, std::string url,
                       std::optional<std::filesystem::path> saveTo, std::function<void(int)> done)
    : loop_(loop),
      watch_(watch),
      browser_(watch),
      url_(std::move(url)),
      saveTo_(std::move(saveTo)),
      done_(std::move(done)) {}

WatchFetch::~WatchFetch() {
    if (timer_) {
        timer_->invalidate();
    }
}

void WatchFetch::start() {
    timer_ = loop_.scheduleTimer(kCheckInterval, true, [this] { check(); });
}

void WatchFetch::check() {
    if (!sent_) {
        if (!watch_.isPaired()) {
            return;
        }
        if (auto sent = browser_.get(kTransaction, url_); !sent) {
            LG_WARN("kavowatch: cannot ask the phone for %s: %s", url_, sent.error().message);
            return;
        }
        LG_INFO("kavowatch: fetching %s through the phone", url_);
        sent_ = true;
        return;
    }
    if (!browser_.isClosed(kTransaction)) {
        return;
    }
    timer_->invalidate();
    const int status = keep(browser_.transaction(kTransaction));
    done_(status);
}

int WatchFetch::keep(const WatchBrowser::Transaction& answer) {
    const platform::Bytes bytes = answer.received();
    if (bytes.empty()) {
        LG_ERROR("kavowatch: no answer for %s", url_);
        return 1;
    }
    if (!saveTo_) {
        std::fwrite(bytes.data(), 1, bytes.size(), stdout);
        std::fflush(stdout);
        return 0;
    }
    const auto parsed = readHttpAnswer(bytes);
    const platform::Bytes& body = parsed ? parsed->body : bytes;
    if (auto written = platform::fs::writeFileAtomically(
            *saveTo_, std::string_view(reinterpret_cast<const char*>(body.data()), body.size()));
        !written) {
        LG_ERROR("kavowatch: cannot save %s: %s", saveTo_->string(), written.error().message);
        return 1;
    }
    LG_INFO("kavowatch: saved %zu bytes of %s in %s", body.size(), url_, saveTo_->string());
    return 0;
}

}  // namespace kavowatch
