#include "sim/store/StoreCatalogue.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <functional>
#include <random>
#include <span>
#include <string_view>

#include "platform/archive/Zip.h"
#include "platform/foundation/XmlParser.h"

namespace kavostore {

namespace {

// 1 January 2024, midnight: packages are the same bytes at every start.
constexpr std::uint32_t kPackageDate = (44U << 25) | (1U << 21) | (1U << 16);
constexpr std::size_t kSpritesSize = 24 * 1024;

void putBigEndian(platform::Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

void chunk(platform::Bytes& out, std::string_view type, std::span<const std::uint8_t> data) {
    putBigEndian(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    const auto crc = crc32(0L, out.data() + start, static_cast<uInt>(out.size() - start));
    putBigEndian(out, static_cast<std::uint32_t>(crc));
}

std::string attribute(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '"': out += "&quot;"; break;
            default: out.push_back(c);
        }
    }
    return out;
}

platform::Result<void> addEntry(platform::archive::ZipWriter& zip, std::string_view name,
                                std::string_view data) {
    if (auto opened = zip.openEntry({.name = name, .dosDate = kPackageDate}); !opened.ok()) {
        return opened;
    }
    if (auto written = zip.write(std::span<const std::uint8_t>(
            reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
        !written.ok()) {
        return written;
    }
    return zip.closeEntry();
}

}  // namespace

std::string StoreApp::fileName() const {
    std::string name;
    for (const char c : productName) {
        if (c != '+' && c != ' ') {
            name.push_back(c);
        }
    }
    return name + ".wgt";
}

std::vector<StoreApp> defaultCatalogue() {
    return {
        {"000000101", "Stopwatch", "com.kavo.stopwatch", "1.2.0", "StopwatchApp", false,
         "com.kavo.host.stopwatch", 0xE0, 0x40, 0x30},
        {"000000102", "Step+Counter", "com.kavo.steps", "2.0.1", "StepsApp", false,
         "com.kavo.host.steps", 0x30, 0xA0, 0x50},
        {"000000103", "Tide+Tables", "com.kavo.tides", "0.9.4", "TidesApp", false, "",
         0x20, 0x60, 0xD0},
        {"000000201", "Night+Sky", "com.kavo.face.nightsky", "1.0.0", "NightSkyFace", true, "",
         0x10, 0x10, 0x40},
    };
}

platform::Bytes solidPng(std::uint32_t size, std::uint8_t red, std::uint8_t green,
                         std::uint8_t blue) {
    platform::Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    platform::Bytes header;
    putBigEndian(header, size);
    putBigEndian(header, size);
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, no interlace
    chunk(png, "IHDR", header);

    platform::Bytes raw;
    raw.reserve(static_cast<std::size_t>(size) * (1 + 3 * size));
    for (std::uint32_t y = 0; y < size; ++y) {
        raw.push_back(0);
        for (std::uint32_t x = 0; x < size; ++x) {
            raw.insert(raw.end(), {red, green, blue});
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    platform::Bytes packed(packedSize);
    compress(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()));
    packed.resize(packedSize);
    chunk(png, "IDAT", packed);
    chunk(png, "IEND", {});
    return png;
}

std::string configXml(const StoreApp& app) {
    std::string name;
    std::string title = app.productName;
    std::replace(title.begin(), title.end(), '+', ' ');
    platform::xml::appendEscapedText(name, title);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<widget xmlns=\"http://www.w3.org/ns/widgets\" xmlns:kavo=\"http://kavo.example/ns\""
           " id=\"http://kavo.example/" + attribute(app.packageName) + "\" version=\"" +
           attribute(app.version) + "\">\n"
           "  <kavo:application package=\"" + attribute(app.packageName) + "\" type=\"" +
           (app.isClock ? "clock" : "app") + "\" class=\"" + attribute(app.className) +
           "\"/>\n"
           "  <name>" + name + "</name>\n"
           "  <icon src=\"icon.png\"/>\n"
           "  <content src=\"index.html\"/>\n"
           "</widget>\n";
}

platform::Result<void> writePackage(const StoreApp& app, const std::filesystem::path& path) {
    auto zip = platform::archive::ZipWriter::create(path);
    if (!zip.ok()) {
        return zip.error();
    }
    const platform::Bytes icon = solidPng(app.iconSize, app.red, app.green, app.blue);
    const std::string page = "<!DOCTYPE html>\n<html><head><script src=\"js/main.js\"></script>"
                             "</head><body>" + app.className + "</body></html>\n";
    const std::string script = "document.title = \"" + app.packageName + "\";\n";
    const std::string config = configXml(app);
    // Pictures that do not compress, so that a package takes a few segments to send.
    std::string sprites(kSpritesSize, '\0');
    std::minstd_rand noise(static_cast<std::uint32_t>(std::hash<std::string>{}(app.packageName)));
    for (char& byte : sprites) {
        byte = static_cast<char>(noise() & 0xFF);
    }
    for (const auto& [name, data] : std::array<std::pair<std::string_view, std::string_view>, 5>{
             {{"config.xml", config},
              {"icon.png", std::string_view(reinterpret_cast<const char*>(icon.data()),
                                            icon.size())},
              {"index.html", page},
              {"js/main.js", script},
              {"res/sprites.bin", sprites}}}) {
        if (auto added = addEntry(zip.value(), name, data); !added.ok()) {
            return added;
        }
    }
    return zip.value().close();
}

}  // namespace kavostore
