#pragma once

// What the application delegate's tests stand on: the widget world (offscreen Qt, a virtual
// loop, a recording host), defaults and a keychain in a folder of their own, the log lines,
// and a storyboard whose scenes record what they were given.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../../ui/UiWorld.h"
#include "app/TQAppDelegate.h"
#include "logging/LGLog.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/security/FileKeychain.h"
#include "support/TempDir.h"
#include "ui/TQStoryboard.h"

namespace shell_test {

// Keeps every log line.
class LogLines : public LGAbstractLogger {
public:
    LogLines() : LGAbstractLogger("test.shell") {}
    void logMessage(const LGLogMessage& message) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(message.message());
    }
    bool contains(const std::string& text) {
        LGLog::flushLog();
        std::lock_guard lock(mutex_);
        for (const auto& line : lines_) {
            if (line.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// A scene that keeps the identifiers a screen was handed.
class RecordingPage : public platform::ui::Page {
public:
    using Page::Page;
    void viewDidLoad() override { ++loads; }
    void viewDidAppear(bool /*animated*/) override { ++appearances; }
    bool perform(std::string_view operation, const platform::Value& argument) override {
        const std::string text = argument.stringIf() != nullptr ? *argument.stringIf() : "?";
        if (operation == "setAppID") {
            appID = text;
        } else if (operation == "setReferID") {
            referID = text;
        } else {
            return false;
        }
        return true;
    }
    std::optional<std::string> appID;
    std::optional<std::string> referID;
    int loads = 0;
    int appearances = 0;
};

class ShellWorld : public ui_test::UiWorld {
public:
    ShellWorld() {
        for (const char* scene : {"homePageid", "setupView", TQAppDelegate::kStoreScene,
                                  TQAppDelegate::kBuddyListScene, TQAppDelegate::kWeatherScene}) {
            // The home and set-up scenes' classes differ from their identifiers, as the real
            // ones do.
            const std::string className = std::string(scene) == "homePageid" ? "TQViewController"
                                          : std::string(scene) == "setupView"
                                              ? "TQSetupViewController"
                                              : scene;
            storyboard.registerScene(scene, [className] {
                return std::make_unique<RecordingPage>(className);
            });
        }
        LGLog::addLogger(logs);
    }
    ~ShellWorld() { LGLog::removeLogger(logs); }

    // A delegate whose launch steps append their names to steps.
    std::unique_ptr<TQAppDelegate> makeDelegate() {
        return std::make_unique<TQAppDelegate>(TQAppDelegate::Environment{
            .loop = loop,
            .defaults = defaults,
            .center = center,
            .host = host,
            .window = *window,
            .storyboard = storyboard,
            .addLoggers = [this] { steps.push_back("loggers"); },
            .createCoreManager =
                [this] {
                    steps.push_back("coreManager");
                    connectedWhenCoreManagerMade = defaults.object("isWMSConnected");
                    return coreManagerComes;
                },
            .installCrashHandlers = [this] { steps.push_back("crashHandlers"); },
            .push = [this] { steps.push_back("push"); return nullptr; },
            .giveWindowToLoadingView = [this] { steps.push_back("loadingView"); },
            .recordAppLaunch = [this] { steps.push_back("appLaunch"); },
            .checkApplicationUpdate = [this] { steps.push_back("updateCheck"); },
            .calendarUpdateDelta = [this] { steps.push_back("calendarDelta"); },
            .bluetoothSharingAuthorized = [this] { return sharingAuthorized; },
            .softwareVersion = "1.0"});
    }

    testing_support::TempDir folder;
    platform::UserDefaults defaults{folder.path() / "defaults.plist"};
    platform::ScopedInstall<platform::UserDefaults> installDefaults{&defaults};
    platform::FileKeychain keychain{folder.path() / "keychain"};
    platform::ScopedInstall<platform::Keychain> installKeychain{&keychain};
    std::shared_ptr<LogLines> logs = std::make_shared<LogLines>();
    TQStoryboard storyboard{"Main_iPhone"};

    std::vector<std::string> steps;
    std::optional<platform::Value> connectedWhenCoreManagerMade;
    bool coreManagerComes = true;
    bool sharingAuthorized = true;
};

}  // namespace shell_test
