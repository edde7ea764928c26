#pragma once

#include <span>
#include <string>
#include <string_view>

#include "logging/LGFormat.h"

// The application's user-visible texts, looked up by key ("WDS_..."). English only.
class TQLocalization {
public:
    TQLocalization() = delete;

    // The text of key, or key itself when the table has no text for it, so that a missing
    // text still shows something a developer can trace.
    [[nodiscard]] static std::string localizedString(std::string_view key);

    // A text used as a format (a localised text that takes values), never handed to printf:
    // the conversions of lg::format, also in positional form ("%1$@", "%2$d"); a conversion
    // whose argument is missing gives empty text, and extra arguments are ignored.
    template <typename... Args>
    [[nodiscard]] static std::string format(std::string_view text, const Args&... args) {
        if constexpr (sizeof...(Args) == 0) {
            return formatArgs(text, {});
        } else {
            const lg::FormatArg list[] = {lg::FormatArg(args)...};
            return formatArgs(text, list);
        }
    }
    // The text of key used as a format.
    template <typename... Args>
    [[nodiscard]] static std::string localizedFormat(std::string_view key, const Args&... args) {
        return format(localizedString(key), args...);
    }
    [[nodiscard]] static std::string formatArgs(std::string_view text,
                                                std::span<const lg::FormatArg> args);
};
