// Renders every scene of the storyboard as a person first sees it, one PNG each, then the
// states past the first look that sceneStates() lists ("<scene>.<state>.png"), and an index
// page that shows them side by side under their names.
//   render_scenes OUTPUT_FOLDER

#include <QApplication>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <vector>
#include <iostream>
#include <string>
#include <vector>

#include "platform/ui/Presentation.h"
#include "screens/pairing/TQConnectingKavoViewController.h"
#include "screens/support/PairingAir.h"
#include "screens/pairing/TQKavoUpdateViewController.h"
#include "screens/support/ScreenDriver.h"

namespace {

using screens_test::ScreenDriver;

// A scene in a state past its first look: what is done to it once it is shown.
struct SceneState {
    std::string name;  // the picture's name: "<scene>.<state>"
    std::string scene;
    std::function<void(ScreenDriver&, platform::ui::Page&)> reach;
};

void present(ScreenDriver& driver, platform::ui::Page& over, const char* scene) {
    platform::ui::presentPage(over, driver.storyboard->instantiate(scene),
                              platform::ui::PresentationStyle::cover, true);
    driver.settle();
}

const std::vector<SceneState>& sceneStates() {
    static const std::vector<SceneState> states = {
        {"TQScanScreenViewController.list", "TQScanScreenViewController",
         [](ScreenDriver& driver, platform::ui::Page&) {
             platform::Array found;
             for (const char* name : {"Kavo R5 (1A2B)", "Kavo R5 (3C4D)", ""}) {
                 found.push_back(platform::Value{{"identifier", name}, {"name", name}});
             }
             driver.linkEvent("onDiscoverDevicesNotification", found);
             driver.settle();
         }},
        {"TQKavoUpdateViewController.presented", "TQScanScreenViewController",
         [](ScreenDriver& driver, platform::ui::Page& page) {
             TQKavoUpdateViewController::presentOver(page);
             driver.settle();
         }},
        {"TQHiddenConditionPageViewController.presented", "TQKavoInfoViewController",
         [](ScreenDriver& driver, platform::ui::Page& page) {
             present(driver, page, "TQHiddenConditionPageViewController");
         }},
        {"TQHiddenConditionPageViewController.ok", "TQKavoInfoViewController",
         [](ScreenDriver& driver, platform::ui::Page& page) {
             present(driver, page, "TQHiddenConditionPageViewController");
             driver.tap("okButton");
         }},
    };
    return states;
}

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

// A state of a page beyond its first look, reached on the pairing air: the name of its
// picture and the steps that lead there.
struct PairingState {
    const char* name;
    const char* caption;
    std::function<bool(screens_test::ScreenDriver&, screens_test::PairingAir&)> reach;
};

std::vector<PairingState> pairingStates() {
    using screens_test::PairingAir;
    using screens_test::ScreenDriver;
    const auto offer = [](ScreenDriver& driver, PairingAir& air) {
        air.powerOnAll();
        return driver.show("setupView") != nullptr && driver.tap("connectToKavoOutlet");
    };
    return {
        {"setupView.searching", "welcome: the 3-second scan",
         [offer](ScreenDriver& driver, PairingAir& air) { return offer(driver, air); }},
        {"setupView.offer", "welcome: the nearest watch offered",
         [offer](ScreenDriver& driver, PairingAir& air) {
             if (!offer(driver, air)) {
                 return false;
             }
             driver.advance(3);
             return driver.alert() != nullptr;
         }},
        {"setupView.connecting", "welcome: the connecting pop-up",
         [offer](ScreenDriver& driver, PairingAir& air) {
             air.second.answer("mgr_watch_info_req",
                               [](const kavowatch::ReceivedMessage&)
                                   -> std::optional<platform::Value> { return std::nullopt; });
             if (!offer(driver, air)) {
                 return false;
             }
             driver.advance(3);
             return driver.answerAlert("Connect");
         }},
        {"setupView.bluetoothOff", "welcome: Bluetooth is off",
         [](ScreenDriver& driver, PairingAir& air) {
             air.setPhoneBluetooth(false);
             return driver.show("setupView") != nullptr && driver.tap("connectToKavoOutlet");
         }},
        {"deviceTablePageid.list", "scan list: two watches listed",
         [](ScreenDriver& driver, PairingAir& air) {
             air.powerOnAll();
             if (driver.show("deviceTablePageid") == nullptr) {
                 return false;
             }
             driver.advance(3);
             return true;
         }},
        {"TQConnectingKavoViewController.retry", "connecting page: the link dropped",
         [](ScreenDriver& driver, PairingAir& air) {
             air.first.answer("mgr_watch_info_req",
                              [](const kavowatch::ReceivedMessage&)
                                  -> std::optional<platform::Value> { return std::nullopt; });
             air.powerOn(air.first);
             if (driver.show("deviceTablePageid") == nullptr) {
                 return false;
             }
             driver.advance(3);
             auto page = driver.storyboard->instantiate("TQConnectingKavoViewController");
             platform::ui::navigationOf(*driver.top())->pushPage(std::move(page), true);
             driver.settle();
             if (!air.runUntil([&] { return air.first.isPaired(); }, 10)) {
                 return false;
             }
             air.first.vanish();
             return air.runUntil([&] { return driver.alert() != nullptr; }, 30);
         }},
    };
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

    ScreenDriver driver;
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
    const auto render = [&](const std::string& name, const std::string& scene,
                            const std::function<void(ScreenDriver&, platform::ui::Page&)>& reach) {
        auto* page = driver.show(scene);
        if (page != nullptr && reach) {
            reach(driver, *page);
        }
        const std::string file = name + ".png";
        if (page == nullptr || !driver.saveScreenshot(folder / file)) {
            std::cerr << "render_scenes: " << name << " could not be rendered\n";
            ++failed;
            return;
        }
        ++rendered;
        const platform::ui::Page* shown = driver.top();
        index << "<figure><img src=\"" << escaped(file) << "\" alt=\"" << escaped(name)
              << "\"><figcaption><b>" << escaped(name) << "</b><br>"
              << escaped(shown != nullptr ? shown->className() : page->className())
              << "</figcaption></figure>\n";
    };
    for (const auto& scene : driver.storyboard->sceneIdentifiers()) {
        render(scene, scene, nullptr);
    }
    for (const auto& state : sceneStates()) {
        render(state.name, state.scene, state.reach);
    }
    // The pairing pages in their other states, each on a fresh air.
    for (const auto& state : pairingStates()) {
        screens_test::ScreenDriver stateDriver;
        screens_test::PairingAir air{stateDriver};
        air.settleLink();
        const std::string file = std::string(state.name) + ".png";
        if (!state.reach(stateDriver, air) || !stateDriver.saveScreenshot(folder / file)) {
            std::cerr << "render_scenes: " << state.name << " could not be rendered\n";
            ++failed;
            continue;
        }
        ++rendered;
        index << "<figure><img src=\"" << escaped(file) << "\" alt=\"" << escaped(state.name)
              << "\"><figcaption><b>" << escaped(state.name) << "</b><br>"
              << escaped(state.caption) << "</figcaption></figure>\n";
    }
    index.close();
    std::cout << rendered << " scenes rendered into " << folder.string() << "\n";
    return failed == 0 && index ? 0 : 1;
}
