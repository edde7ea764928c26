#include "logging/LGTTYLogger.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "logging/LGTime.h"

namespace {

bool containsIgnoringCase(std::string_view text, std::string_view part) {
    return std::search(text.begin(), text.end(), part.begin(), part.end(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           }) != text.end();
}

constexpr LGColor kPalette16[16] = {
    {0, 0, 0},       {194, 54, 33},  {37, 188, 36},  {173, 173, 39},
    {73, 46, 225},   {211, 56, 211}, {51, 187, 200}, {203, 204, 205},
    {129, 131, 131}, {252, 57, 31},  {49, 231, 34},  {234, 236, 35},
    {88, 51, 255},   {249, 53, 248}, {20, 240, 240}, {233, 235, 235},
};

// Colours 16 to 255: the 6x6x6 cube and 24 greys as terminals commonly draw them, with the
// measured rows that the console's profiles were matched against.
std::array<LGColor, 240> makePalette256() {
    std::array<LGColor, 240> colours{};
    constexpr std::uint8_t kLevels[6] = {0, 95, 135, 175, 215, 255};
    for (int r = 0; r < 6; ++r) {
        for (int g = 0; g < 6; ++g) {
            for (int b = 0; b < 6; ++b) {
                colours[static_cast<std::size_t>(36 * r + 6 * g + b)] = {kLevels[r], kLevels[g],
                                                                         kLevels[b]};
            }
        }
    }
    for (int i = 0; i < 24; ++i) {
        const auto grey = static_cast<std::uint8_t>(8 + 10 * i);
        colours[static_cast<std::size_t>(216 + i)] = {grey, grey, grey};
    }
    const std::pair<int, LGColor> measured[] = {
        {16, {47, 49, 49}},     {17, {60, 42, 144}}, {21, {88, 51, 255}},    {22, {42, 128, 37}},
        {231, {254, 255, 255}}, {232, {52, 53, 53}}, {255, {240, 242, 242}},
    };
    for (const auto& [number, colour] : measured) {
        colours[static_cast<std::size_t>(number - 16)] = colour;
    }
    return colours;
}

const std::array<LGColor, 240>& palette256() {
    static const std::array<LGColor, 240> colours = makePalette256();
    return colours;
}

int distanceSquared(LGColor a, LGColor b) {
    const int dr = a.red - b.red;
    const int dg = a.green - b.green;
    const int db = a.blue - b.blue;
    return dr * dr + dg * dg + db * db;
}

std::string processNameOf() {
    std::ifstream comm("/proc/self/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

}  // namespace

LGColorMode lgChooseColorMode(bool isTerminal, std::string_view terminalType, bool colourSwitch) {
    if (!isTerminal || (!containsIgnoringCase(terminalType, "color") && !colourSwitch)) {
        return LGColorMode::plain;
    }
    return containsIgnoringCase(terminalType, "256") ? LGColorMode::palette256
                                                     : LGColorMode::palette16;
}

LGPaletteEntry lgNearestPaletteEntry(LGColorMode mode, LGColor colour) {
    const std::span<const LGColor> palette = mode == LGColorMode::palette256
                                                 ? std::span<const LGColor>(palette256())
                                                 : std::span<const LGColor>(kPalette16);
    std::size_t best = 0;
    for (std::size_t i = 1; i < palette.size(); ++i) {
        if (distanceSquared(palette[i], colour) < distanceSquared(palette[best], colour)) {
            best = i;
        }
    }
    if (mode == LGColorMode::palette256) {
        const std::string number = std::to_string(best + 16);
        return {best, "38;5;" + number + "m", "48;5;" + number + "m"};
    }
    const std::string bold = best < 8 ? "" : "1;";
    const std::string digit = std::to_string(best % 8);
    return {best, bold + "3" + digit + "m", bold + "4" + digit + "m"};
}

LGTTYColorProfile LGTTYColorProfile::make(LGColorMode mode, std::optional<LGColor> fg,
                                          std::optional<LGColor> bg, std::uint64_t mask,
                                          std::int64_t context) {
    LGTTYColorProfile profile{mask, context, fg, bg, {}, {}, {}};
    if (mode == LGColorMode::plain) {
        return profile;
    }
    if (fg) {
        profile.fgCode = "\x1b[" + lgNearestPaletteEntry(mode, *fg).foreground;
    }
    if (bg) {
        profile.bgCode = "\x1b[" + lgNearestPaletteEntry(mode, *bg).background;
    }
    profile.resetCode = "\x1b[0m";
    return profile;
}

LGTTYLogger::Identity LGTTYLogger::processIdentity() {
    return {processNameOf(), static_cast<int>(::getpid())};
}

LGTTYLogger::LGTTYLogger(platform::Console& console, Identity identity, bool colourSwitch,
                         std::optional<long> secondsFromGMT)
    : LGAbstractLogger("kavo.logging.ttyLogger"),
      console_(console),
      processName_(identity.processName.empty() ? "<UnnamedApp>" : identity.processName),
      processID_(std::to_string(identity.processID)),
      mode_(lgChooseColorMode(console.isTerminal(), console.terminalType(), colourSwitch)),
      secondsFromGMT_(secondsFromGMT) {}

bool LGTTYLogger::colorsEnabled() {
    return readField(colorsEnabled_);
}

void LGTTYLogger::setColorsEnabled(bool enabled) {
    runInOrder([this, enabled] {
        colorsEnabled_ = enabled;
        if (flagProfiles_.empty()) {
            loadDefaultColorProfiles();
        }
    });
}

void LGTTYLogger::loadDefaultColorProfiles() {
    flagProfiles_.push_back(LGTTYColorProfile::make(mode_, LGColor{214, 57, 30}, std::nullopt,
                                                    LGLogFlagError,
                                                    LGTTYColorProfile::kEveryContext));
    flagProfiles_.push_back(LGTTYColorProfile::make(mode_, LGColor{204, 121, 32}, std::nullopt,
                                                    LGLogFlagWarning,
                                                    LGTTYColorProfile::kEveryContext));
}

void LGTTYLogger::setForegroundColor(std::optional<LGColor> fg, std::optional<LGColor> bg,
                                     std::uint64_t flag, std::int64_t context) {
    runInOrder([this, fg, bg, flag, context] {
        auto profile = LGTTYColorProfile::make(mode_, fg, bg, flag, context);
        const auto same =
            std::find_if(flagProfiles_.begin(), flagProfiles_.end(), [&](const auto& existing) {
                return existing.mask == flag && existing.context == context;
            });
        if (same != flagProfiles_.end()) {
            *same = std::move(profile);
        } else {
            flagProfiles_.push_back(std::move(profile));
        }
    });
}

void LGTTYLogger::setForegroundColorForTag(std::optional<LGColor> fg, std::optional<LGColor> bg,
                                           const std::string& tag) {
    runInOrder([this, fg, bg, tag] {
        tagProfiles_.insert_or_assign(tag, LGTTYColorProfile::make(mode_, fg, bg, 0, 0));
    });
}

void LGTTYLogger::clearColorsForFlag(std::uint64_t flag, std::int64_t context) {
    runInOrder([this, flag, context] {
        const auto same =
            std::find_if(flagProfiles_.begin(), flagProfiles_.end(), [&](const auto& existing) {
                return existing.mask == flag && existing.context == context;
            });
        if (same != flagProfiles_.end()) {
            flagProfiles_.erase(same);
        }
    });
}

void LGTTYLogger::clearColorsForTag(const std::string& tag) {
    runInOrder([this, tag] { tagProfiles_.erase(tag); });
}

void LGTTYLogger::clearColorsForAllFlags() {
    runInOrder([this] { flagProfiles_.clear(); });
}

void LGTTYLogger::clearColorsForAllTags() {
    runInOrder([this] { tagProfiles_.clear(); });
}

void LGTTYLogger::clearAllColors() {
    runInOrder([this] {
        flagProfiles_.clear();
        tagProfiles_.clear();
    });
}

void LGTTYLogger::setAutomaticallyAppendNewlineForCustomFormatters(bool append) {
    runInOrder([this, append] { automaticallyAppendNewline_ = append; });
}

const LGTTYColorProfile* LGTTYLogger::profileFor(const LGLogMessage& message) const {
    if (!colorsEnabled_) {
        return nullptr;
    }
    if (const std::string* tag = message.tag().stringIf()) {
        if (const auto found = tagProfiles_.find(*tag); found != tagProfiles_.end()) {
            return &found->second;
        }
    }
    const LGTTYColorProfile* everyContext = nullptr;
    for (const auto& profile : flagProfiles_) {
        if ((profile.mask & message.flag()) == 0) {
            continue;
        }
        if (profile.context == message.context()) {
            return &profile;
        }
        if (profile.context == LGTTYColorProfile::kEveryContext) {
            everyContext = &profile;
        }
    }
    return everyContext;
}

void LGTTYLogger::logMessage(const LGLogMessage& message) {
    std::optional<std::string> formattedText;
    if (formatter_) {
        formattedText = formatter_->formatLogMessage(message);
        if (!formattedText) {
            return;
        }
    }
    const std::string& text = formattedText ? *formattedText : message.message();
    // A formatter that hands the text back unchanged did not format it.
    const bool formatted = formattedText && *formattedText != message.message();
    const LGTTYColorProfile* profile = profileFor(message);
    const std::string_view fg = profile ? std::string_view(profile->fgCode) : std::string_view();
    const std::string_view bg = profile ? std::string_view(profile->bgCode) : std::string_view();
    const std::string_view reset =
        profile ? std::string_view(profile->resetCode) : std::string_view();
    const bool endsWithNewline = text.ends_with('\n');
    const std::string_view newline =
        endsWithNewline || (formatted && !automaticallyAppendNewline_) ? "" : "\n";

    if (formatted) {
        const std::string_view pieces[] = {fg, bg, text, newline, reset};
        console_.write(pieces);
        return;
    }
    char buffer[32];
    const std::string_view stamp =
        lgTimeStamp(buffer, message.timestamp().secondsSince1970, secondsFromGMT_, '-');
    const std::string_view thread = std::string_view(message.threadID()).substr(0, 8);
    const std::string_view pieces[] = {fg,  bg,     stamp, " ",  processName_, "[",  processID_,
                                       ":", thread, "] ",  text, newline,      reset};
    console_.write(pieces);
}
