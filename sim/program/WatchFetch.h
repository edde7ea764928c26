#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/RunLoop.h"
#include "sim/Watch.h"
#include "sim/WatchBrowser.h"

namespace kavowatch {

// Fetches one URL through the phone's web proxy as soon as the watch is paired, and then
// prints the whole answer to standard output, or saves its body (without any chunked coding)
// to a file. `done` hears 0 once an answer was kept, 1 when none came or it could not be kept.
class WatchFetch {
public:
    WatchFetch(platform::RunLoop& loop, Watch& watch, std::string url,
               std::optional<std::filesystem::path> saveTo, std::function<void(int)> done);
    ~WatchFetch();
    WatchFetch(const WatchFetch&) = delete;
    WatchFetch& operator=(const WatchFetch&) = delete;

    void start();

private:
    static constexpr std::uint8_t kTransaction = 0;

    void check();
    int keep(const WatchBrowser::Transaction& answer);

    platform::RunLoop& loop_;
    Watch& watch_;
    WatchBrowser browser_;
    const std::string url_;
    const std::optional<std::filesystem::path> saveTo_;
    std::function<void(int)> done_;
    bool sent_ = false;
    std::shared_ptr<platform::Timer> timer_;
};

}  // namespace kavowatch
