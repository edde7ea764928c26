#pragma once

#include <filesystem>
#include <string>

// The store's debug configuration: "configFile.txt" in Documents, one JSON object of strings
// that the store view reads instead of the phone's, the watch's and the account's values
// while "WEB_APP_STORE_DEBUG_MODE" is set.
class TQKavoAppsUtil {
public:
    TQKavoAppsUtil() = delete;

    static constexpr const char* kFileName = "configFile.txt";

    // Writes the template unless a file is there already (edited or not).
    static void generateDummyConfigData();

    [[nodiscard]] static std::filesystem::path configFilePath();
    // The template: "{", each pair on a line of its own, "}" without a line feed after it.
    [[nodiscard]] static std::string dummyConfigData();
};
