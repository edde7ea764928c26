#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "platform/calendar/Calendar.h"
#include "platform/foundation/RunLoop.h"

namespace platform::calendar {

// Changes of a calendar folder and of its subfolders, from the kernel's inotify, read on a
// thread of its own ("kavo.calendar") and reported on the loop: a burst of file events gives
// one report while the last is still waiting. A folder that does not exist yet is made.
class InotifyChangeSource final : public ChangeSource {
public:
    InotifyChangeSource(std::filesystem::path folder, RunLoop& loop);
    ~InotifyChangeSource() override;
    InotifyChangeSource(const InotifyChangeSource&) = delete;
    InotifyChangeSource& operator=(const InotifyChangeSource&) = delete;

    // On the loop's thread. Without inotify the folder goes unwatched, with a log line.
    void start(std::function<void()> changed) override;

private:
    // What the reader's posts reach: gone once the source stops.
    struct Link {
        std::function<void()> changed;
        std::atomic<bool> pending{false};
    };

    void stop();
    void read(std::shared_ptr<Link> link);
    void watchTree(const std::filesystem::path& folder);

    std::filesystem::path folder_;
    RunLoop& loop_;
    int inotify_ = -1;
    int wake_ = -1;
    std::shared_ptr<Link> link_;
    std::thread reader_;
};

}  // namespace platform::calendar
