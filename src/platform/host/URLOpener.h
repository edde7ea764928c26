#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace platform {

// Whether text can be handed on as a link: a scheme (a letter, then letters, digits, "+", "-"
// or ".") and ":", then anything but white space and control characters, all of it UTF-8.
// What passes can never be read as an option or split into several arguments.
[[nodiscard]] bool looksLikeURL(std::string_view text);
// The scheme of a text that looks like a URL, in lower case (schemes are ASCII, so the user's
// locale has no say); empty for any other text.
[[nodiscard]] std::string urlScheme(std::string_view text);

// Hands links to the desktop's opener program. The program is started with an argument
// vector, never through a shell, and is not waited for: its exit is collected on a thread of
// its own.
class SpawningURLOpener {
public:
    // Starts the program with the arguments (the program's name first); whether it started.
    using Spawn = std::function<bool(std::span<const std::string> arguments)>;

    explicit SpawningURLOpener(std::string program = "xdg-open", Spawn spawn = spawnDetached);

    // False, without starting anything, for text that does not look like a link.
    bool open(std::string_view url) const;

    // posix_spawnp with the process's environment.
    static bool spawnDetached(std::span<const std::string> arguments);

private:
    std::string program_;
    Spawn spawn_;
};

}  // namespace platform
