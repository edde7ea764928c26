#pragma once

#include <memory>
#include <string>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"

class TQAppManager;

// Stands in for the store screen while the application has no screens: once the watch is in
// use, asks the application manager for one download and install, as the store view does for
// a page's download request (the title, the title and ".wgt" as the file name, the store's
// identifier), and logs how it ended. Main thread.
class HeadlessStoreInstall {
public:
    struct Request {
        std::string url;
        // The URL's file name without ".wgt" when empty.
        std::string title;
        std::string appID;
    };
    // How often it looks whether the watch is in use yet.
    static constexpr double kPollInterval = 0.5;

    // All borrowed; they outlive it.
    HeadlessStoreInstall(TQAppManager& appManager, platform::NotificationCenter& center,
                         platform::RunLoop& loop, Request request);
    ~HeadlessStoreInstall();
    HeadlessStoreInstall(const HeadlessStoreInstall&) = delete;
    HeadlessStoreInstall& operator=(const HeadlessStoreInstall&) = delete;

    void start();
    [[nodiscard]] bool isFinished() const { return finished_; }
    [[nodiscard]] bool succeeded() const { return succeeded_; }

    // The title a URL's file name gives: "…/Stopwatch.wgt?x=1" is "Stopwatch".
    [[nodiscard]] static std::string titleFromURL(std::string_view url);

private:
    void poll();
    void finish(bool installed, const std::string& what);

    TQAppManager& appManager_;
    platform::NotificationCenter& center_;
    platform::RunLoop& loop_;
    Request request_;
    std::shared_ptr<platform::Timer> timer_;
    platform::NotificationCenter::Token installed_ = 0;
    platform::NotificationCenter::Token cancelled_ = 0;
    bool requested_ = false;
    bool finished_ = false;
    bool succeeded_ = false;
};
