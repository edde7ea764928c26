#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "db/TQDBManagerImpl.h"
#include "db/TQDBObject.h"
#include "logging/LGLog.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/UserDefaults.h"
#include "support/TempDir.h"

namespace db_test {

// Keeps the text of every log line.
class LogLines : public LGAbstractLogger {
public:
    LogLines() : LGAbstractLogger("test.db") {}
    void logMessage(const LGLogMessage& message) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(message.message());
    }
    // Every line so far, once the ones on their way have arrived.
    std::vector<std::string> lines() {
        LGLog::flushLog();
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // The lines that begin with prefix, without it.
    std::vector<std::string> after(const std::string& prefix) {
        std::vector<std::string> out;
        for (const auto& line : lines()) {
            if (line.starts_with(prefix)) {
                out.push_back(line.substr(prefix.size()));
            }
        }
        return out;
    }
    bool logged(const std::string& line) {
        const auto all = lines();
        return std::find(all.begin(), all.end(), line) != all.end();
    }
    void clear() {
        LGLog::flushLog();
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// A record of every kind of stored property.
class TQDBAllTypes final : public TQDBRecord<TQDBAllTypes> {
public:
    bool flag = false;
    char letter = 0;
    double real = 0;
    std::int32_t whole = 0;
    std::uint32_t unsignedWhole = 0;
    float single = 0;
    std::int64_t wide = 0;
    std::uint64_t unsignedWide = 0;
    std::int16_t narrow = 0;
    std::optional<std::string> text;
    std::optional<double> number;

    static const TQDBSchema& tableSchema() {
        using T = TQDBAllTypes;
        static const TQDBSchema schema{
            "TQDBAllTypes",
            {column("flag", &T::flag), column("letter", &T::letter), column("real", &T::real),
             column("whole", &T::whole), column("unsignedWhole", &T::unsignedWhole),
             column("single", &T::single), column("wide", &T::wide),
             column("unsignedWide", &T::unsignedWide), column("narrow", &T::narrow),
             column("text", &T::text), column("number", &T::number)}};
        return schema;
    }
};

// Each test has its own container, defaults and database file, installed as the shared ones,
// and a logger of every line.
class DBTest : public ::testing::Test {
protected:
    DBTest() { LGLog::addLogger(log_); }
    ~DBTest() override {
        LGLog::removeAllLoggers();
        LGLog::flushLog();
    }

    void setModel(const std::string& model) {
        defaults_.set("groupKavoInfo", platform::Value{{"kavoModelNumber", model}});
    }

    // What SQLite's own shell prints for sql on the file: one line per row, columns by "|".
    std::vector<std::string> shell(const std::string& sql) const {
        const std::string command = std::string(KAVO_SQLITE3_PROGRAM) + " -batch -noheader '" +
                                    engine_.databasePath().string() + "' \"" + sql + "\"";
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
        std::string output;
        char buffer[4096];
        std::size_t read = 0;
        while (pipe && output.size() < (1u << 20) &&
               (read = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) {
            output.append(buffer, read);
        }
        std::vector<std::string> lines;
        std::size_t start = 0;
        for (std::size_t end; (end = output.find('\n', start)) != std::string::npos;
             start = end + 1) {
            lines.push_back(output.substr(start, end - start));
        }
        return lines;
    }

    testing_support::TempDir dir_;
    platform::Container container_{dir_.path() / "home"};
    platform::ScopedInstall<const platform::Container> installContainer_{&container_};
    platform::UserDefaults defaults_{container_.preferences() / "defaults.plist"};
    platform::ScopedInstall<platform::UserDefaults> installDefaults_{&defaults_};
    TQDBManagerImpl engine_{container_.documents() / TQDBManagerImpl::kFileName};
    platform::ScopedInstall<TQDBManagerImpl> installEngine_{&engine_};
    std::shared_ptr<LogLines> log_ = std::make_shared<LogLines>();
};

}  // namespace db_test
