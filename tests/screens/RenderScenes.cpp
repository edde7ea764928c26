// Renders every scene of the storyboard as a person first sees it, one PNG each, and an index
// page that shows them side by side under their names.
//   render_scenes OUTPUT_FOLDER

#include <QApplication>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "screens/support/ScreenDriver.h"

namespace {

std::string escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: render_scenes OUTPUT_FOLDER\n";
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::cerr << "render_scenes: " << folder << ": " << error.message() << "\n";
        return 1;
    }

    screens_test::ScreenDriver driver;
    std::ofstream index(folder / "index.html");
    index << "<!doctype html>\n<meta charset=\"utf-8\">\n<title>Scenes of "
          << escaped(driver.storyboard->name()) << "</title>\n"
          << "<style>body{font-family:sans-serif;background:#ddd}"
             "figure{display:inline-block;margin:12px;vertical-align:top}"
             "img{width:276px;border:1px solid #888;background:#fff}"
             "figcaption{width:276px;font-size:13px;word-wrap:break-word}</style>\n"
          << "<h1>" << escaped(driver.storyboard->name()) << "</h1>\n";
    int failed = 0;
    int rendered = 0;
    for (const auto& scene : driver.storyboard->sceneIdentifiers()) {
        const auto* page = driver.show(scene);
        const std::string file = scene + ".png";
        if (page == nullptr || !driver.saveScreenshot(folder / file)) {
            std::cerr << "render_scenes: " << scene << " could not be rendered\n";
            ++failed;
            continue;
        }
        ++rendered;
        index << "<figure><img src=\"" << escaped(file) << "\" alt=\"" << escaped(scene)
              << "\"><figcaption><b>" << escaped(scene) << "</b><br>"
              << escaped(page->className()) << "</figcaption></figure>\n";
    }
    index.close();
    std::cout << rendered << " scenes rendered into " << folder.string() << "\n";
    return failed == 0 && index ? 0 : 1;
}
