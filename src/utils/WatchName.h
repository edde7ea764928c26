#pragma once

#include <optional>
#include <string_view>

namespace watch_name {

// A watch name is "<word> <word> <number>", the number maybe in parentheses; more words may
// follow. Blanks are single separators, so "a  b" holds an empty second word.
struct Words {
    std::string_view first;
    std::string_view second;
    // The third word without its parentheses.
    std::string_view number;
};

// Nothing for fewer than three words.
[[nodiscard]] std::optional<Words> split(std::string_view name);

// Whether a discovered device is one of our watches: its name begins with "Kavo R5" (case
// counts). The one test the link and every pairing page apply, so that no page offers a
// device that another would not list.
[[nodiscard]] bool isWatch(std::string_view name);

}  // namespace watch_name
