#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "listener/handlers/TQWatchAppIconHandler.h"
#include "platform/foundation/Value.h"

// Keeps the icons the watch sends of its applications, one PNG file per package in the
// folder "AppIcons" of the current watch. The icon at position i belongs to the package at
// position i; a package name that is no safe file name is refused (logged, skipped).
class TQWatchAppIcons final : public TQWatchAppIconHandler {
public:
    static constexpr const char* kFolder = "AppIcons";

    void saveAppIcon(const platform::Value& message) override;

    // Base64 with every character outside its alphabet left out; nothing when the rest does
    // not decode or decodes to nothing.
    [[nodiscard]] static std::optional<platform::Bytes> decodeBase64ToImageData(
        std::string_view text);
    // Documents/<model number>/AppIcons of the current watch; nothing while no model is known.
    [[nodiscard]] static std::optional<std::filesystem::path> folder();
};
