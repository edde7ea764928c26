#include "platform/foundation/FolderWatch.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "platform/foundation/FolderEntries.h"
#include "platform/foundation/LogSink.h"

namespace platform {

namespace {

constexpr std::uint32_t kEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE |
                                  IN_CREATE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

}  // namespace

InotifyChangeSource::InotifyChangeSource(std::filesystem::path folder, RunLoop& loop,
                                         std::string name)
    : folder_(std::move(folder)), loop_(loop), name_(std::move(name)) {}

InotifyChangeSource::~InotifyChangeSource() {
    stop();
}

void InotifyChangeSource::watchTree(const std::filesystem::path& folder) {
    if (::inotify_add_watch(inotify_, folder.c_str(), kEvents | IN_ONLYDIR) < 0) {
        PLATFORM_LOG_WARN(name_, ": cannot watch ", folder.string(), ": ", std::strerror(errno));
        return;
    }
    std::error_code error;
    forEachEntry(folder, error, [&](const std::filesystem::directory_entry& entry) {
        std::error_code kind;
        if (entry.is_directory(kind) && !entry.path().filename().string().starts_with('.')) {
            ::inotify_add_watch(inotify_, entry.path().c_str(), kEvents | IN_ONLYDIR);
        }
    });
}

void InotifyChangeSource::start(std::function<void()> changed) {
    stop();
    if (!changed) {
        return;
    }
    std::error_code error;
    std::filesystem::create_directories(folder_, error);
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    wake_ = ::eventfd(0, EFD_CLOEXEC);
    if (inotify_ < 0 || wake_ < 0) {
        PLATFORM_LOG_WARN(name_, ": no inotify, ", folder_.string(),
                          " goes unwatched: ", std::strerror(errno));
        stop();
        return;
    }
    watchTree(folder_);
    link_ = std::make_shared<Link>();
    link_->changed = std::move(changed);
    reader_ = std::thread([this, link = link_] { read(link); });
}

void InotifyChangeSource::stop() {
    if (reader_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
        reader_.join();
    }
    if (link_) {
        // Posts still on the loop find nobody to tell.
        link_->changed = nullptr;
        link_.reset();
    }
    for (int* fd : {&inotify_, &wake_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

void InotifyChangeSource::read(std::shared_ptr<Link> link) {
    pthread_setname_np(pthread_self(), ("kavo." + name_).substr(0, 15).c_str());
    alignas(inotify_event) std::array<char, 16 * 1024> buffer{};
    for (;;) {
        std::array<pollfd, 2> fds{pollfd{inotify_, POLLIN, 0}, pollfd{wake_, POLLIN, 0}};
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            PLATFORM_LOG_ERROR(name_, ": poll failed: ", std::strerror(errno));
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return;
        }
        bool any = false;
        for (;;) {
            const ssize_t got = ::read(inotify_, buffer.data(), buffer.size());
            if (got <= 0) {
                break;
            }
            // Records are whole and lie within what was read.
            for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
                inotify_event header{};
                std::memcpy(&header, buffer.data() + at, sizeof header);
                const ssize_t next = at + static_cast<ssize_t>(sizeof header + header.len);
                if (next > got) {
                    break;
                }
                if ((header.mask & IN_ISDIR) != 0 &&
                    (header.mask & (IN_CREATE | IN_MOVED_TO)) != 0 && header.len > 0) {
                    const char* name = buffer.data() + at + sizeof header;
                    const std::string entry(name, ::strnlen(name, header.len));
                    if (!entry.starts_with('.')) {
                        ::inotify_add_watch(inotify_, (folder_ / entry).c_str(),
                                            kEvents | IN_ONLYDIR);
                    }
                }
                any = true;
                at = next;
            }
        }
        if (any && !link->pending.exchange(true)) {
            loop_.post([link] {
                link->pending = false;
                if (link->changed) {
                    link->changed();
                }
            });
        }
    }
}

}  // namespace platform
