#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/foundation/Result.h"

namespace platform {

class RunLoop;

// How a later start of the program hands what it was given (a URL on its command line) to
// the one already running on the same home, instead of running a second time.
class InstanceChannel {
public:
    using Received = std::function<void(std::string text)>;

    virtual ~InstanceChannel() = default;

    // Where the program running on home listens.
    [[nodiscard]] static std::filesystem::path pathFor(const std::filesystem::path& home);
    // Listens at path; each text received runs received on loop's thread. An error when the
    // channel cannot be opened (the program then runs without it).
    [[nodiscard]] static Result<std::unique_ptr<InstanceChannel>> listen(
        const std::filesystem::path& path, RunLoop& loop, Received received);
    // Hands text to the program listening at path; an error when none listens there.
    [[nodiscard]] static Result<void> send(const std::filesystem::path& path, std::string_view text);
};

}  // namespace platform
