#include "platform/oslog/SystemLogReader.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace platform {

const std::string* SystemLogEntry::field(std::string_view name) const {
    for (const auto& entry : fields) {
        if (entry.name == name) {
            return &entry.value;
        }
    }
    return nullptr;
}

namespace {

class JournalReader final : public SystemLogReader {
public:
    JournalReader(sd_journal* journal, int wakeFd) : journal_(journal), wakeFd_(wakeFd) {}
    ~JournalReader() override {
        sd_journal_close(journal_);
        ::close(wakeFd_);
    }

    std::vector<SystemLogEntry> readNew() override {
        std::vector<SystemLogEntry> entries;
        while (sd_journal_next(journal_) > 0) {
            entries.push_back(current());
        }
        return entries;
    }

    bool wait(double seconds) override {
        const int journalFd = sd_journal_get_fd(journal_);
        pollfd fds[2] = {{journalFd, static_cast<short>(sd_journal_get_events(journal_)), 0},
                         {wakeFd_, POLLIN, 0}};
        // poll skips a negative descriptor; the wake-up stays readable once written.
        ::poll(fds, 2, static_cast<int>(seconds * 1000));
        if ((fds[1].revents & POLLIN) != 0) {
            return false;
        }
        sd_journal_process(journal_);
        return true;
    }

    void interrupt() override {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
    }

private:
    SystemLogEntry current() {
        SystemLogEntry entry;
        const void* data = nullptr;
        std::size_t length = 0;
        SD_JOURNAL_FOREACH_DATA(journal_, data, length) {
            const std::string_view text(static_cast<const char*>(data), length);
            const auto equals = text.find('=');
            if (equals != std::string_view::npos) {
                entry.fields.push_back(
                    {std::string(text.substr(0, equals)), std::string(text.substr(equals + 1))});
            }
        }
        std::uint64_t micros = 0;
        if (sd_journal_get_realtime_usec(journal_, &micros) >= 0) {
            entry.realtimeMicros = micros;
        }
        return entry;
    }

    sd_journal* journal_;
    int wakeFd_;
};

}  // namespace

Result<std::unique_ptr<SystemLogReader>> openJournalReader(const SystemLogSockets& sockets) {
    std::error_code missing;
    if (!std::filesystem::exists(sockets.journal, missing)) {
        return Error{"platform.systemlog", ENOENT,
                     "no journal runs on this machine (" + sockets.journal.string() + ")"};
    }
    sd_journal* journal = nullptr;
    if (const int result = sd_journal_open(&journal, SD_JOURNAL_LOCAL_ONLY); result < 0) {
        return Error{"platform.systemlog", -result,
                     std::string("cannot open the journal: ") + std::strerror(-result)};
    }
    const std::string match = "_PID=" + std::to_string(::getpid());
    sd_journal_add_match(journal, match.data(), match.size());
    // Only what is written from now on.
    sd_journal_seek_tail(journal);
    sd_journal_previous(journal);
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        sd_journal_close(journal);
        return Error{"platform.systemlog", errno, std::strerror(errno)};
    }
    return std::unique_ptr<SystemLogReader>(std::make_unique<JournalReader>(journal, wakeFd));
}

void ScriptedSystemLogReader::add(SystemLogEntry entry) {
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(entry));
    }
    changed_.notify_all();
}

std::vector<SystemLogEntry> ScriptedSystemLogReader::readNew() {
    std::lock_guard lock(mutex_);
    std::vector<SystemLogEntry> entries(std::make_move_iterator(pending_.begin()),
                                        std::make_move_iterator(pending_.end()));
    pending_.clear();
    return entries;
}

bool ScriptedSystemLogReader::wait(double /*seconds*/) {
    // No clock here: a test decides when records come, and ends the wait by interrupting.
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return interrupted_ || !pending_.empty(); });
    return !interrupted_;
}

void ScriptedSystemLogReader::interrupt() {
    {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
    }
    changed_.notify_all();
}

}  // namespace platform
