#include "screens/TQMainStoryboard.h"

#include <string>
#include <utility>

#include "screens/TQPlaceholderPage.h"

namespace {

void placeholder(TQStoryboard& storyboard, std::string scene, std::string className) {
    storyboard.registerScene(scene, [scene, className] {
        return std::make_unique<TQPlaceholderPage>(className, scene);
    });
}

}  // namespace

std::unique_ptr<TQStoryboard> TQMainStoryboard::make(const TQScreenServices& /*services*/) {
    auto storyboard = std::make_unique<TQStoryboard>(kName);
    // Until their screens are built.
    placeholder(*storyboard, kHomeScene, "TQViewController");
    placeholder(*storyboard, kSetupScene, "TQSetupViewController");
    placeholder(*storyboard, "TQKavoAppsWebViewController", "TQKavoAppsWebViewController");
    placeholder(*storyboard, "TQBuddyListTableViewController", "TQBuddyListTableViewController");
    placeholder(*storyboard, "TQWeatherViewController", "TQWeatherViewController");
    return storyboard;
}
