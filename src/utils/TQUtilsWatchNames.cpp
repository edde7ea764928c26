#include "utils/TQUtils.h"
#include "utils/WatchName.h"

namespace watch_name {

namespace {

std::string_view withoutParentheses(std::string_view word) {
    const auto begin = word.find_first_not_of("()");
    if (begin == std::string_view::npos) {
        return {};
    }
    return word.substr(begin, word.find_last_not_of("()") - begin + 1);
}

}  // namespace

std::optional<Words> split(std::string_view name) {
    const auto first = name.find(' ');
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    const auto second = name.find(' ', first + 1);
    if (second == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view third = name.substr(second + 1);
    third = third.substr(0, third.find(' '));
    return Words{name.substr(0, first), name.substr(first + 1, second - first - 1),
                 withoutParentheses(third)};
}

bool isWatch(std::string_view name) {
    return name.starts_with("Kavo R5");
}

}  // namespace watch_name

std::optional<std::string> TQUtils::getKavoNumber(std::string_view name) {
    const auto words = watch_name::split(name);
    if (!words) {
        return std::nullopt;
    }
    return std::string(words->number);
}

std::optional<std::string> TQUtils::getDeviceMacFromName(std::string_view name) {
    return getKavoNumber(name);
}
