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

// One segue: from which scene (empty: any) to which scene, and how.
struct TQSegue {
    std::string identifier;
    std::string source;
    std::string destination;
    TQSegueKind kind = TQSegueKind::push;
};

// The storyboard: every scene identifier and interface-file name the screens use, each with
// the factory that makes its page, and every segue by identifier. Screens are made only
// through it. Main thread only.
class TQStoryboard {
public:
    using Factory = std::function<std::unique_ptr<platform::ui::Page>()>;

    explicit TQStoryboard(std::string name) : name_(std::move(name)) {}
    [[nodiscard]] const std::string& name() const { return name_; }

    // Each identifier once; a second registration of one replaces the first.
    void registerScene(std::string identifier, Factory factory);
    void registerSegue(TQSegue segue);

    // A new page of the scene; null for an identifier the storyboard does not know.
    [[nodiscard]] std::unique_ptr<platform::ui::Page> instantiate(std::string_view identifier) const;
    [[nodiscard]] bool hasScene(std::string_view identifier) const;
    // The segue under identifier; null when there is none.
    [[nodiscard]] const TQSegue* segue(std::string_view identifier) const;
    // Every scene identifier, sorted.
    [[nodiscard]] std::vector<std::string> sceneIdentifiers() const;

private:
    std::string name_;
    std::map<std::string, Factory, std::less<>> scenes_;
    std::map<std::string, TQSegue, std::less<>> segues_;
};
