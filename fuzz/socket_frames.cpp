// The local-socket air's frame reader, as an accepted connection reads a peer: the input is
// what the peer writes before it hangs up. The link reports the end exactly once, and only
// after it opened does it hand PDUs over.

#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "FuzzSupport.h"
#include "platform/bluetooth/socket/SocketLink.h"

namespace {

using namespace platform::bluetooth;

class Outcome {
public:
    void opened() {
        std::lock_guard lock(mutex_);
        if (open_ || ended_ != 0) {
            std::abort();
        }
        open_ = true;
    }
    void received(std::size_t count) {
        std::lock_guard lock(mutex_);
        if (!open_ || ended_ != 0 || count == 0) {
            std::abort();
        }
    }
    void ended() {
        {
            std::lock_guard lock(mutex_);
            ++ended_;
        }
        changed_.notify_all();
    }
    void waitForEnd() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return ended_ != 0; });
    }
    int ends() {
        std::lock_guard lock(mutex_);
        return ended_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    int ended_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
        std::abort();
    }
    // The whole input is in the socket before the link reads; a peer that writes more than the
    // socket holds is not what this target is about.
    std::size_t written = 0;
    while (written < size) {
        const ssize_t count = ::send(ends[0], data + written, size - written, MSG_NOSIGNAL);
        if (count <= 0) {
            break;
        }
        written += static_cast<std::size_t>(count);
    }
    ::shutdown(ends[0], SHUT_WR);

    Outcome outcome;
    SocketLink::Callbacks callbacks;
    callbacks.opened = [&outcome](const Uuid&) { outcome.opened(); };
    callbacks.failed = [&outcome](const platform::Error&) { outcome.ended(); };
    callbacks.closed = [&outcome](const platform::Error&) { outcome.ended(); };
    callbacks.received = [&outcome](const platform::Bytes& /*pdu*/) { outcome.received(1); };
    callbacks.ready = [] {};
    SocketLink::Options options;
    options.self = Uuid::fromShort(0x1234);
    GreetingGate gate(1);
    {
        auto ticket = gate.enter();
        const auto link = SocketLink::accept(ends[1], std::move(*ticket), options, callbacks);
        if (!link) {
            // Out of threads or descriptors: the machine's limit, not the input's fault.
            ::close(ends[0]);
            return 0;
        }
        outcome.waitForEnd();
    }
    ::close(ends[0]);
    if (outcome.ends() != 1) {
        std::abort();
    }
    return 0;
}
