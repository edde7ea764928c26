#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/Navigation.h"

// How a segue brings its destination on screen.
enum class TQSegueKind {
    push,                // onto the source's navigation
    modal,               // presented over the source, covering it
    modalCrossDissolve,  // presented, fading in
    overCurrentContext,  // presented over the source, which stays visible below
    unwind,              // back down the stack to the screen named as destination
    replaceRoot,         // the destination becomes the window's root
};

// One segue: from which scenes (none: any) to which scene, and how.
struct TQSegue {
    std::string identifier;
    std::vector<std::string> sources;
    std::string destination;
    TQSegueKind kind = TQSegueKind::push;
};

// One scene: its identifier (a storyboard identifier, or the interface file's name, which is
// the class name), the class of the page it makes, and the factory.
struct TQScene {
    using Factory = std::function<std::unique_ptr<platform::ui::Page>()>;
    std::string identifier;
    std::string className;
    Factory factory;
};

// The storyboard: every scene identifier and interface-file name the screens use, each with
// the factory that makes its page, and every segue by identifier. Screens are made only
// through it, and a page it made performs segues through it. Main thread only.
class TQStoryboard {
public:
    using Factory = TQScene::Factory;
    // Makes newRoot the root of the window in place of the stack that from is on.
    using RootChanger =
        std::function<void(std::unique_ptr<platform::ui::Page> newRoot, platform::ui::Page& from)>;

    explicit TQStoryboard(std::string name);
    ~TQStoryboard();
    TQStoryboard(const TQStoryboard&) = delete;
    TQStoryboard& operator=(const TQStoryboard&) = delete;

    [[nodiscard]] const std::string& name() const { return name_; }

    // Each identifier once; a second registration of one replaces the first.
    void registerScene(TQScene scene);
    // A scene whose identifier is its class name (an interface file).
    void registerScene(std::string identifier, Factory factory);
    void registerSegue(TQSegue segue);

    // A new page of the scene named by identifier, else of the one scene whose class is name;
    // null for a name the storyboard does not know. The page knows the storyboard and scene.
    [[nodiscard]] std::unique_ptr<platform::ui::Page> instantiate(std::string_view name) const;
    [[nodiscard]] bool hasScene(std::string_view identifier) const;
    [[nodiscard]] const TQScene* scene(std::string_view identifier) const;
    // The segue under identifier; null when there is none.
    [[nodiscard]] const TQSegue* segue(std::string_view identifier) const;
    // Every scene identifier, sorted.
    [[nodiscard]] std::vector<std::string> sceneIdentifiers() const;
    // Every segue, by identifier.
    [[nodiscard]] std::vector<const TQSegue*> segues() const;
    // Makes pages by name for the window's navigator; valid while the storyboard lives.
    [[nodiscard]] std::function<std::unique_ptr<platform::ui::Page>(std::string_view)>
    pageFactory() const;

    // What a replace-root segue calls: the application's root change.
    void setRootChanger(RootChanger changer) { rootChanger_ = std::move(changer); }

    // Performs the segue from source: makes the destination, lets source prepare it
    // (prepareForSegue) and shows it as the segue's kind says; an unwind prepares and goes
    // back to the page already there. False (logged) for an unknown identifier, a segue that
    // does not start at source's scene, or nowhere to show the destination.
    bool performSegue(platform::ui::Page& source, std::string_view identifier) const;

    // The segue through the storyboard that made source; false (logged) when none did.
    static bool perform(platform::ui::Page& source, std::string_view identifier);

    // The storyboard that made page and the scene it made it from; null and empty for a page
    // made otherwise, or when that storyboard is gone.
    [[nodiscard]] static const TQStoryboard* of(const platform::ui::Page& page);
    [[nodiscard]] static std::string sceneOf(const platform::ui::Page& page);

private:
    bool unwind(platform::ui::Page& source, const TQSegue& segue) const;
    [[nodiscard]] bool isScene(const platform::ui::Page& page, std::string_view identifier) const;

    std::string name_;
    std::map<std::string, TQScene, std::less<>> scenes_;
    std::map<std::string, TQSegue, std::less<>> segues_;
    RootChanger rootChanger_;
    // Pages hold it weakly, to find the storyboard while it lives.
    std::shared_ptr<const TQStoryboard*> self_;
};
