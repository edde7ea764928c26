#include "platform/host/URLOpener.h"

#include <optional>
#include <thread>
#include <utility>

#include "platform/foundation/Process.h"
#include "platform/foundation/Text.h"
#include "platform/foundation/Utf8.h"

namespace platform {

namespace {

bool isAsciiLetter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isAsciiDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// C0 controls, space and DEL; C1 controls arrive as the UTF-8 pairs C2 80 to C2 9F.
bool hasSpaceOrControl(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c <= 0x20 || c == 0x7F) {
            return true;
        }
        if (c == 0xC2 && i + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next <= 0xA0) {  // A0 is the no-break space
                return true;
            }
        }
    }
    return false;
}

}  // namespace

std::string urlScheme(std::string_view text) {
    if (!looksLikeURL(text)) {
        return {};
    }
    return asciiLowercased(std::string(text.substr(0, text.find(':'))));
}

bool looksLikeURL(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 ||
        !isAsciiLetter(static_cast<unsigned char>(text[0]))) {
        return false;
    }
    for (const char ch : text.substr(1, colon - 1)) {
        const auto c = static_cast<unsigned char>(ch);
        if (!isAsciiLetter(c) && !isAsciiDigit(c) && c != '+' && c != '-' && c != '.') {
            return false;
        }
    }
    return isValidUtf8(text) && !hasSpaceOrControl(text);
}

SpawningURLOpener::SpawningURLOpener(std::string program, Spawn spawn)
    : program_(std::move(program)), spawn_(std::move(spawn)) {}

bool SpawningURLOpener::open(std::string_view url) const {
    if (!looksLikeURL(url)) {
        return false;
    }
    const std::string arguments[] = {program_, std::string(url)};
    return spawn_(arguments);
}

bool SpawningURLOpener::spawnDetached(std::span<const std::string> arguments) {
    const std::optional<int> child = startProgram(arguments);
    if (!child) {
        return false;
    }
    // Collected so that it does not linger as a zombie; nobody waits for the answer.
    std::thread([child = *child] { waitForExit(child); }).detach();
    return true;
}

}  // namespace platform
