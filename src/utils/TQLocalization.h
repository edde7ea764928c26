#pragma once

#include <string>
#include <string_view>

// The application's user-visible texts, looked up by key ("WDS_..."). English only.
class TQLocalization {
public:
    TQLocalization() = delete;

    // The text of key, or key itself when the table has no text for it, so that a missing
    // text still shows something a developer can trace.
    [[nodiscard]] static std::string localizedString(std::string_view key);
};
