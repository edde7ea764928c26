#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "logging/LGLog.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/UserDefaults.h"
#include "support/TempDir.h"

namespace tqutils_test {

class LineRecorder : public LGAbstractLogger {
public:
    LineRecorder() : LGAbstractLogger("test.tqutils") {}

    void logMessage(const LGLogMessage& message) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(message.message());
        flags_.push_back(message.flag());
    }

    // Every line so far; waits for the ones still on their way.
    std::vector<std::string> lines() {
        LGLog::flushLog();
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::vector<std::uint64_t> flags() {
        LGLog::flushLog();
        std::lock_guard lock(mutex_);
        return flags_;
    }
    bool logged(const std::string& line) {
        const auto all = lines();
        return std::find(all.begin(), all.end(), line) != all.end();
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
    std::vector<std::uint64_t> flags_;
};

// Every file, folder and default of a test lives in its own temporary container.
class TQUtilsTest : public ::testing::Test {
protected:
    TQUtilsTest() { LGLog::addLogger(log_); }
    ~TQUtilsTest() override {
        LGLog::removeAllLoggers();
        LGLog::flushLog();
    }

    std::filesystem::path documents() const { return container_.documents(); }

    // Every regular file under the container, relative to it.
    std::vector<std::string> filesInContainer() const {
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.path())) {
            if (entry.is_regular_file()) {
                files.push_back(std::filesystem::relative(entry.path(), dir_.path()).string());
            }
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    testing_support::TempDir dir_;
    platform::Container container_{dir_.path() / "home"};
    platform::ScopedInstall<const platform::Container> installContainer_{&container_};
    platform::UserDefaults defaults_{container_.preferences() / "defaults.plist"};
    platform::ScopedInstall<platform::UserDefaults> installDefaults_{&defaults_};
    std::shared_ptr<LineRecorder> log_ = std::make_shared<LineRecorder>();
};

}  // namespace tqutils_test
