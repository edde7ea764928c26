#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"

// The simulated store's catalogue: a few watch applications and faces, and the .wgt packages
// it builds for them (zip archives with a config.xml, an icon and a few files).
namespace kavostore {

struct StoreApp {
    std::string productId;    // the store's product identifier
    std::string productName;  // display name; may hold "+" for spaces, as store titles do
    std::string packageName;  // the watch's package name
    std::string version;
    std::string className;
    bool isClock = false;
    std::string hostAppId;
    // The icon's colour, so that each package has an icon of its own.
    std::uint8_t red = 0, green = 0, blue = 0;
    // The icon's side in pixels; a test may make it larger than a phone keeps.
    std::uint32_t iconSize = 48;

    // The name packages are served under: the title without "+" and spaces, then ".wgt".
    [[nodiscard]] std::string fileName() const;
};

[[nodiscard]] std::vector<StoreApp> defaultCatalogue();

// An RGB image of size x size pixels in one colour as PNG bytes.
[[nodiscard]] platform::Bytes solidPng(std::uint32_t size, std::uint8_t red, std::uint8_t green,
                                       std::uint8_t blue);

// The package's config.xml: the widget with its name, icon, content and the watch's
// application element (package, type "app" or "clock", class).
[[nodiscard]] std::string configXml(const StoreApp& app);

// Writes the app's package to path: config.xml, icon.png, index.html, js/main.js and
// res/sprites.bin (24 KiB that do not compress).
platform::Result<void> writePackage(const StoreApp& app, const std::filesystem::path& path);

}  // namespace kavostore
