#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Result.h"
#include "platform/oslog/SystemLog.h"

namespace platform {

// One record read back from the system log.
struct SystemLogEntry {
    std::vector<SystemLogField> fields;
    // When it was written, in microseconds since 1970; none when the log does not say.
    std::optional<std::uint64_t> realtimeMicros;

    [[nodiscard]] const std::string* field(std::string_view name) const;
};

// Reads what this process writes to the system log from the moment it is opened.
class SystemLogReader {
public:
    virtual ~SystemLogReader() = default;
    // The records written since the last read, oldest first.
    virtual std::vector<SystemLogEntry> readNew() = 0;
    // Waits until new records may be there or `seconds` pass; false once interrupted.
    virtual bool wait(double seconds) = 0;
    // Ends a wait in progress, and every later one, at once. Safe from any thread.
    virtual void interrupt() = 0;
};

// The systemd journal's records of this process; an error where no journal runs.
[[nodiscard]] Result<std::unique_ptr<SystemLogReader>> openJournalReader(
    const SystemLogSockets& sockets = {});

// Hands out the records a test gives it: the test double.
class ScriptedSystemLogReader final : public SystemLogReader {
public:
    void add(SystemLogEntry entry);
    std::vector<SystemLogEntry> readNew() override;
    // Returns at once when records wait, else when one is added or on interrupt.
    bool wait(double seconds) override;
    void interrupt() override;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<SystemLogEntry> pending_;
    bool interrupted_ = false;
};

}  // namespace platform
