#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/foundation/Result.h"

namespace platform {

class RunLoop;

// How a later start of the program hands what it was given (a URL on its command line) to
// the one already running on the same home, instead of running a second time: a Unix stream
// socket that only the same user may reach. The first start listens; a later one connects,
// writes its text, and waits for the listener's acknowledgement.
class InstanceChannel {
public:
    using Received = std::function<void(std::string text)>;

    // The longest text handed over; a link is far shorter.
    static constexpr std::size_t kMaxText = 8 * 1024;
    // How long a send waits for the listener, and a listener for a peer's text.
    static constexpr double kTimeout = 2.0;

    virtual ~InstanceChannel() = default;

    // Where the program running on home listens: a socket named from a hash of home's path in a
    // folder of the program's own (mode 0700) under $XDG_RUNTIME_DIR, else in home itself. Empty
    // when neither fits a socket address (108 bytes); listen and send then say so.
    [[nodiscard]] static std::filesystem::path pathFor(const std::filesystem::path& home);
    // Listens at path, replacing the socket a program that died left there; an error when
    // another program listens there already or the channel cannot be opened (the program then
    // runs without it). Peers are served on a thread of the channel's own; each text received
    // runs received on loop's thread, until the channel goes.
    [[nodiscard]] static Result<std::unique_ptr<InstanceChannel>> listen(
        const std::filesystem::path& path, RunLoop& loop, Received received);
    // Hands text to the program listening at path, waiting at most kTimeout for it to take it;
    // an error when none listens there, it refused the text (too long, a NUL byte) or it did
    // not answer in time.
    [[nodiscard]] static Result<void> send(const std::filesystem::path& path, std::string_view text);
};

}  // namespace platform
