#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "logging/LGClock.h"
#include "logging/LGLogger.h"
#include "platform/oslog/Console.h"

// A colour by its red, green and blue bytes.
struct LGColor {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend bool operator==(const LGColor&, const LGColor&) = default;
};

// How lines are coloured, fixed when the console logger is made: ANSI SGR colours from the
// nearest entry of a 16- or 256-colour palette on a terminal that shows colour, nothing at all
// anywhere else (a pipe, a file, a plain terminal).
enum class LGColorMode { plain, palette16, palette256 };

// standardErrorIsTerminal and $TERM; colourSwitch is the launch's switch for colours, which
// lets a terminal whose type does not say "color" have them too.
[[nodiscard]] LGColorMode lgChooseColorMode(bool isTerminal, std::string_view terminalType,
                                            bool colourSwitch);

// The escape codes of one profile, formed once.
struct LGTTYColorProfile {
    static constexpr std::int64_t kEveryContext = 2147483647;

    std::uint64_t mask = 0;
    std::int64_t context = 0;
    std::optional<LGColor> foreground;
    std::optional<LGColor> background;
    std::string fgCode;
    std::string bgCode;
    std::string resetCode;

    [[nodiscard]] static LGTTYColorProfile make(LGColorMode mode, std::optional<LGColor> fg,
                                                std::optional<LGColor> bg, std::uint64_t mask,
                                                std::int64_t context);
};

// The palette index nearest to colour (first of equals wins), and its SGR parameter text
// ("31m", "1;34m", "38;5;21m"; "41m", "48;5;21m" for backgrounds).
struct LGPaletteEntry {
    std::size_t index;
    std::string foreground;
    std::string background;
};
[[nodiscard]] LGPaletteEntry lgNearestPaletteEntry(LGColorMode mode, LGColor colour);

// Writes each record to standard error as
//   "yyyy-MM-dd HH:mm:ss:SSS <process>[<pid>:<thread, 8 characters>] <text>\n"
// in local time, coloured by the first matching profile (by tag, else by flag and context) when
// colours are enabled, in one gathered write.
class LGTTYLogger : public LGAbstractLogger {
public:
    struct Identity {
        std::string processName;  // "<UnnamedApp>" when empty
        int processID = 0;
    };
    // This process's name and id.
    [[nodiscard]] static Identity processIdentity();

    // The console must outlive the logger.
    LGTTYLogger(platform::Console& console, Identity identity = processIdentity(),
                bool colourSwitch = false, std::optional<long> secondsFromGMT = std::nullopt);

    [[nodiscard]] LGColorMode colorMode() const { return mode_; }

    // These are applied in order with the records (at once on this logger's queue).
    [[nodiscard]] bool colorsEnabled();
    void setColorsEnabled(bool enabled);
    void setForegroundColor(std::optional<LGColor> fg, std::optional<LGColor> bg,
                            std::uint64_t flag,
                            std::int64_t context = LGTTYColorProfile::kEveryContext);
    void setForegroundColorForTag(std::optional<LGColor> fg, std::optional<LGColor> bg,
                                  const std::string& tag);
    void clearColorsForFlag(std::uint64_t flag, std::int64_t context = 0);
    void clearColorsForTag(const std::string& tag);
    void clearColorsForAllFlags();
    void clearColorsForAllTags();
    void clearAllColors();
    void setAutomaticallyAppendNewlineForCustomFormatters(bool append);

    void logMessage(const LGLogMessage& message) override;

private:
    void loadDefaultColorProfiles();
    [[nodiscard]] const LGTTYColorProfile* profileFor(const LGLogMessage& message) const;

    platform::Console& console_;
    const std::string processName_;
    const std::string processID_;
    const LGColorMode mode_;
    const std::optional<long> secondsFromGMT_;
    // Touched only on the logger's queue.
    bool colorsEnabled_ = false;
    bool automaticallyAppendNewline_ = true;
    std::vector<LGTTYColorProfile> flagProfiles_;
    std::map<std::string, LGTTYColorProfile> tagProfiles_;
};
