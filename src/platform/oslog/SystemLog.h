#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace platform {

// One field of a system-log record: an upper-case name ("MESSAGE", "PRIORITY") and its value.
struct SystemLogField {
    std::string name;
    std::string value;

    friend bool operator==(const SystemLogField&, const SystemLogField&) = default;
};

// The machine's system log, where its diagnostic tools read what programs wrote.
class SystemLog {
public:
    virtual ~SystemLog() = default;
    // Sends one record; a record the log refuses is lost without a report.
    virtual void send(std::span<const SystemLogField> fields) = 0;
};

// The systemd journal, fields as given.
class JournalSystemLog final : public SystemLog {
public:
    void send(std::span<const SystemLogField> fields) override;
};

// syslog(3): the journal's fields reduced to what syslog carries, PRIORITY and MESSAGE.
class SyslogSystemLog final : public SystemLog {
public:
    explicit SyslogSystemLog(std::string identifier);
    ~SyslogSystemLog() override;
    void send(std::span<const SystemLogField> fields) override;

private:
    std::string identifier_;  // openlog keeps the pointer
};

// Keeps every record it is sent: the test double.
class RecordingSystemLog final : public SystemLog {
public:
    void send(std::span<const SystemLogField> fields) override;
    [[nodiscard]] std::vector<std::vector<SystemLogField>> records() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::vector<SystemLogField>> records_;
};

enum class SystemLogKind { journal, syslog, none };

// Where the system log can be reached on a machine: the journal's socket, else syslog's.
struct SystemLogSockets {
    std::filesystem::path journal = "/run/systemd/journal/socket";
    std::filesystem::path syslog = "/dev/log";
};

[[nodiscard]] SystemLogKind chooseSystemLog(bool journalSocketExists, bool syslogSocketExists);
[[nodiscard]] SystemLogKind probeSystemLog(const SystemLogSockets& sockets = {});
// The system log of this kind; none for SystemLogKind::none.
[[nodiscard]] std::unique_ptr<SystemLog> openSystemLog(SystemLogKind kind,
                                                       const std::string& identifier);

// The process's effective user id.
[[nodiscard]] unsigned effectiveUserId();

}  // namespace platform
