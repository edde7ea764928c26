#include "platform/oslog/SystemLog.h"

#include <sys/uio.h>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <charconv>

namespace platform {

void JournalSystemLog::send(std::span<const SystemLogField> fields) {
    // Each field goes as "NAME=value"; values may hold any bytes, new lines included.
    std::vector<std::string> joined;
    joined.reserve(fields.size());
    std::vector<iovec> vectors;
    vectors.reserve(fields.size());
    for (const auto& field : fields) {
        joined.push_back(field.name + "=" + field.value);
        vectors.push_back({joined.back().data(), joined.back().size()});
    }
    sd_journal_sendv(vectors.data(), static_cast<int>(vectors.size()));
}

SyslogSystemLog::SyslogSystemLog(std::string identifier) : identifier_(std::move(identifier)) {
    ::openlog(identifier_.c_str(), LOG_PID, LOG_USER);
}

SyslogSystemLog::~SyslogSystemLog() {
    ::closelog();
}

void SyslogSystemLog::send(std::span<const SystemLogField> fields) {
    int priority = LOG_NOTICE;
    const std::string* message = nullptr;
    for (const auto& field : fields) {
        if (field.name == "PRIORITY") {
            const auto& value = field.value;
            std::from_chars(value.data(), value.data() + value.size(), priority);
        } else if (field.name == "MESSAGE") {
            message = &field.value;
        }
    }
    if (message != nullptr) {
        ::syslog(priority, "%s", message->c_str());
    }
}

void RecordingSystemLog::send(std::span<const SystemLogField> fields) {
    std::lock_guard lock(mutex_);
    records_.emplace_back(fields.begin(), fields.end());
}

std::vector<std::vector<SystemLogField>> RecordingSystemLog::records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

SystemLogKind chooseSystemLog(bool journalSocketExists, bool syslogSocketExists) {
    if (journalSocketExists) {
        return SystemLogKind::journal;
    }
    return syslogSocketExists ? SystemLogKind::syslog : SystemLogKind::none;
}

SystemLogKind probeSystemLog(const SystemLogSockets& sockets) {
    std::error_code error;
    const bool journal = std::filesystem::exists(sockets.journal, error);
    const bool syslog = std::filesystem::exists(sockets.syslog, error);
    return chooseSystemLog(journal, syslog);
}

std::unique_ptr<SystemLog> openSystemLog(SystemLogKind kind, const std::string& identifier) {
    switch (kind) {
        case SystemLogKind::journal:
            return std::make_unique<JournalSystemLog>();
        case SystemLogKind::syslog:
            return std::make_unique<SyslogSystemLog>(identifier);
        case SystemLogKind::none:
            break;
    }
    return nullptr;
}

unsigned effectiveUserId() {
    return static_cast<unsigned>(::geteuid());
}

}  // namespace platform
