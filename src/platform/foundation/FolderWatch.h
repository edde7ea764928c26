#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/foundation/RunLoop.h"

namespace platform {

// Where change notices of a folder that other programs edit come from: inotify, or a test.
class ChangeSource {
public:
    virtual ~ChangeSource() = default;
    // Starts reporting to changed (on the source's loop), or stops with null.
    virtual void start(std::function<void()> changed) = 0;
};

// A change source a test drives.
class ManualChangeSource final : public ChangeSource {
public:
    void start(std::function<void()> changed) override { changed_ = std::move(changed); }
    // As if the folder changed; false when nobody listens.
    bool fire() {
        if (!changed_) {
            return false;
        }
        changed_();
        return true;
    }

private:
    std::function<void()> changed_;
};

// Changes of a folder and of its subfolders, from the kernel's inotify, read on a thread of
// its own ("kavo.<name>") and reported on the loop: a burst of file events gives one report
// while the last is still waiting. A folder that does not exist yet is made. name also heads
// the source's log lines.
class InotifyChangeSource : public ChangeSource {
public:
    InotifyChangeSource(std::filesystem::path folder, RunLoop& loop, std::string name);
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
    std::string name_;
    int inotify_ = -1;
    int wake_ = -1;
    std::shared_ptr<Link> link_;
    std::thread reader_;
};

}  // namespace platform
