#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Result.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"
#include "platform/image/Image.h"

// Helpers every layer of the application uses: preference groups, per-watch files, the
// carrier, watch names, percent coding, localised numbers and titles, the error banner and
// the local notifications raised while the application is not in front. No state of its own.
//
// Two libraries define it: kavo_utils the parts that need only the foundation, and
// kavo_utils_host (utils/host) those that need the application host or the phone's carrier,
// marked "host" below. The link links only kavo_utils.
class TQUtils {
public:
    TQUtils() = delete;

    static constexpr std::string_view kGroupKavoInfo = "groupKavoInfo";
    static constexpr std::string_view kGroupUserSettings = "groupUserSettings";
    static constexpr std::string_view kKavoModelNumber = "kavoModelNumber";
    static constexpr std::string_view kKavoSalesCode = "kavoSalesCode";
    // Folder of the dictionary files that belong to no watch.
    static constexpr std::string_view kCommonFolder = "common";

    static constexpr const char* kErrorDomain = "com.kavo.utils";
    enum ErrorCode : long { kUnsafeName = 1, kNotAFolder = 2 };

    // ---- preference groups: one dictionary each in the standard user defaults ----

    // Nothing when the group is absent or not a dictionary.
    [[nodiscard]] static std::optional<platform::Dictionary> getPreferenceByGroup(
        std::string_view group);
    // Replaces the whole group and writes the defaults; false when the dictionary holds
    // something the defaults cannot store (nothing changes then) or the write failed.
    static bool setPreferenceByGroup(std::string_view group,
                                     const platform::Dictionary& dictionary);

    // Writes the user defaults (the standard ones when none are given); a failure is logged
    // under owner's name (it costs the values a relaunch, nothing more).
    static void synchronizeDefaults(std::string_view owner);
    static void synchronizeDefaults(platform::UserDefaults& defaults, std::string_view owner);

    // ---- per-watch files under Documents/<model number>/ ----

    // Whether a name from the watch or a package (model number, package or file name) can be
    // a path component: one non-empty component without "/", "\" or NUL, not "." or "..".
    [[nodiscard]] static bool isSafePathComponent(std::string_view name);
    // A relative path from outside ("img/icon.png") as a path: components separated by "/",
    // each a safe path component, empty and "." components left out. Nothing for an absolute
    // path, for one that climbs ("..") or that names nothing.
    [[nodiscard]] static std::optional<std::filesystem::path> safeRelativePath(
        std::string_view path);
    // A name from outside as one line of printable text for a log line: control characters
    // become "?".
    [[nodiscard]] static std::string printableForLog(std::string_view name);

    // Writes xml atomically to Documents/<model number>/<file name>, creating the folder. A
    // missing model number (empty) or an unsafe name is refused and nothing is written.
    static platform::Result<void> saveXml(std::string_view xml, std::string_view modelNumber,
                                          std::string_view fileName);
    // The file's UTF-8 text; nothing when it is missing, unreadable or not UTF-8.
    [[nodiscard]] static std::optional<std::string> retrieveXml(std::string_view modelNumber,
                                                                std::string_view fileName);
    // As saveXml, as a property list; no model number means the folder "common".
    static platform::Result<void> saveDictionary(const platform::Dictionary& dictionary,
                                                 std::optional<std::string_view> modelNumber,
                                                 std::string_view fileName);
    // Nothing when the file is missing or does not hold a dictionary.
    [[nodiscard]] static std::optional<platform::Dictionary> retrieveDictionary(
        std::optional<std::string_view> modelNumber, std::string_view fileName);
    // As retrieveDictionary, but a file that is there and cannot be read at all (permissions,
    // I/O...) is an error rather than nothing: what it holds is not known, so it must not be
    // taken for absent and replaced.
    [[nodiscard]] static platform::Result<std::optional<platform::Dictionary>> readStoredDictionary(
        std::optional<std::string_view> modelNumber, std::string_view fileName);

    // ---- watch-application packages ----

    // Unpacks the package into Documents/<model number>/Extract/<file name>/ and finds its
    // icon: the "src" of the "icon" of a web application's "config.xml", else the "icon" of a
    // native package's "nuvra-manifest.xml" under "shared/res". The icon's path when that file
    // is an image inside the unpacked folder; nothing on every failure.
    [[nodiscard]] static std::optional<std::filesystem::path> getWgtIconFilePath(
        const std::filesystem::path& package, std::string_view modelNumber,
        std::string_view fileName);
    // The text of the manifest's last "icon" element; nothing when it has none, "" when the
    // manifest does not parse.
    [[nodiscard]] static std::optional<std::string> getIconName(std::string_view manifest);

    // ---- watch names: "<word> <word> <identifier>", the identifier maybe in parentheses ----

    // host: "Kavo R5 ABCD" and "Kavo R5 (ABCD)" both give "Kavo R5 (ABCD)", followed by a
    // left-to-right mark in a right-to-left layout. Nothing for fewer than three words.
    [[nodiscard]] static std::optional<std::string> addParenthesesToKavoNumber(
        std::string_view name);
    // The third word without its parentheses; nothing for fewer than three words.
    [[nodiscard]] static std::optional<std::string> getKavoNumber(std::string_view name);
    // The watch's address token, read as getKavoNumber reads the third word.
    [[nodiscard]] static std::optional<std::string> getDeviceMacFromName(std::string_view name);

    // ---- host: carrier, from the watch's sales code ----

    // 2 "ATT", 3 "TMB", 4 "VZW", 5 "SPR", 6 "SKC" or "SKO", 0 otherwise or when unknown.
    [[nodiscard]] static int getCarrierType();
    // The carriers of the United States: types 2 to 5.
    [[nodiscard]] static bool isCarrierTypeUSA();

    // ---- texts ----

    // A whole number in the user's locale, without grouping separators.
    [[nodiscard]] static std::string convertNumberToLocalize(std::int64_t number);
    // host: the store's title; its Japanese variant for a SIM of country code 440 or 441.
    [[nodiscard]] static std::string getQuorvelKavoAppsTitle();
    // Percent-encodes the UTF-8 bytes of text, leaving only letters, digits and -._~.
    [[nodiscard]] static std::string escapeString(std::string_view text);
    // Decodes every percent escape; nothing when an escape is malformed or the result is not
    // UTF-8.
    [[nodiscard]] static std::optional<std::string> unescapeString(std::string_view text);
    // text without white space and line ends (Unicode's, not only ASCII's) at both ends.
    [[nodiscard]] static std::string_view trimmedWhiteSpaceAndNewlines(std::string_view text);

    // ---- host: screens, through the application host ----

    // The application's error banner: orange, centred, two seconds, dismissed by a tap.
    static void showToast(std::string_view message);
    // Lead the user to the call-audio settings, the number-sync result and the store.
    static void createHFPNotification();
    static void createNumberSyncNotification(std::string_view result);
    static void createKavoAppsWebNotification(std::string_view link);

    // ---- images ----

    // The second image drawn over the first, at the origin, each in its own size, on a
    // transparent canvas of the first's size in points at the given scale (the screen's).
    // Nothing when no canvas of that size can be made.
    [[nodiscard]] static std::optional<platform::image::Image> imageByCombiningImage(
        const platform::image::Image& first, const platform::image::Image& second,
        double scale = 1.0);

private:
    static platform::Result<std::filesystem::path> perWatchFile(std::string_view folder,
                                                                std::string_view fileName);
};
