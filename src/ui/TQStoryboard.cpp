#include "ui/TQStoryboard.h"

#include <algorithm>
#include <utility>

#include "logging/LGLog.h"
#include "platform/ui/Presentation.h"

namespace {

constexpr const char* kOriginKey = "storyboardOrigin";

// Where a page came from: the storyboard (while it lives) and the scene.
struct Origin {
    std::weak_ptr<const TQStoryboard*> storyboard;
    std::string scene;
};

const Origin* findOrigin(const platform::ui::Page& page) {
    for (QObject* child : page.children()) {
        if (child->objectName() == QLatin1String(kOriginKey)) {
            if (auto* state = dynamic_cast<platform::ui::AttachedState*>(child)) {
                return static_cast<const Origin*>(state->value.get());
            }
        }
    }
    return nullptr;
}

platform::ui::PresentationStyle styleOf(TQSegueKind kind) {
    switch (kind) {
        case TQSegueKind::modalCrossDissolve:
            return platform::ui::PresentationStyle::crossDissolve;
        case TQSegueKind::overCurrentContext:
            return platform::ui::PresentationStyle::overCurrentContext;
        default:
            return platform::ui::PresentationStyle::cover;
    }
}

// The page that presented the page at is on, or on whose navigation at is.
platform::ui::Page* presenterOf(platform::ui::Page& at) {
    for (QWidget* up = &at; up != nullptr; up = up->parentWidget()) {
        if (auto* page = dynamic_cast<platform::ui::Page*>(up)) {
            if (auto* presenter = platform::ui::presentingPage(*page)) {
                return presenter;
            }
        }
    }
    return nullptr;
}

}  // namespace

TQStoryboard::TQStoryboard(std::string name)
    : name_(std::move(name)), self_(std::make_shared<const TQStoryboard*>(this)) {}

TQStoryboard::~TQStoryboard() = default;

void TQStoryboard::registerScene(TQScene scene) {
    std::string identifier = scene.identifier;
    scenes_.insert_or_assign(std::move(identifier), std::move(scene));
}

void TQStoryboard::registerScene(std::string identifier, Factory factory) {
    std::string className = identifier;
    registerScene(TQScene{std::move(identifier), std::move(className), std::move(factory)});
}

void TQStoryboard::registerSegue(TQSegue segue) {
    std::string identifier = segue.identifier;
    segues_.insert_or_assign(std::move(identifier), std::move(segue));
}

const TQScene* TQStoryboard::scene(std::string_view identifier) const {
    const auto found = scenes_.find(identifier);
    return found == scenes_.end() ? nullptr : &found->second;
}

std::unique_ptr<platform::ui::Page> TQStoryboard::instantiate(std::string_view name) const {
    const TQScene* chosen = scene(name);
    if (chosen == nullptr) {
        // A class name: the one scene of that class (an interface file is named after it).
        for (const auto& [identifier, candidate] : scenes_) {
            if (candidate.className == name) {
                if (chosen != nullptr) {
                    LG_ERROR("[Storyboard]: %@ names more than one scene", name);
                    return nullptr;
                }
                chosen = &candidate;
            }
        }
    }
    if (chosen == nullptr || !chosen->factory) {
        return nullptr;
    }
    auto page = chosen->factory();
    if (page) {
        auto& origin = platform::ui::attached<Origin>(*page, kOriginKey);
        origin.storyboard = self_;
        origin.scene = chosen->identifier;
    }
    return page;
}

bool TQStoryboard::hasScene(std::string_view identifier) const {
    return scenes_.find(identifier) != scenes_.end();
}

const TQSegue* TQStoryboard::segue(std::string_view identifier) const {
    const auto found = segues_.find(identifier);
    return found == segues_.end() ? nullptr : &found->second;
}

std::vector<std::string> TQStoryboard::sceneIdentifiers() const {
    std::vector<std::string> identifiers;
    identifiers.reserve(scenes_.size());
    for (const auto& [identifier, scene] : scenes_) {
        identifiers.push_back(identifier);
    }
    return identifiers;
}

std::vector<const TQSegue*> TQStoryboard::segues() const {
    std::vector<const TQSegue*> all;
    all.reserve(segues_.size());
    for (const auto& [identifier, segue] : segues_) {
        all.push_back(&segue);
    }
    return all;
}

std::function<std::unique_ptr<platform::ui::Page>(std::string_view)> TQStoryboard::pageFactory()
    const {
    return [this](std::string_view name) { return instantiate(name); };
}

const TQStoryboard* TQStoryboard::of(const platform::ui::Page& page) {
    const Origin* origin = findOrigin(page);
    if (origin == nullptr) {
        return nullptr;
    }
    const auto storyboard = origin->storyboard.lock();
    return storyboard ? *storyboard : nullptr;
}

std::string TQStoryboard::sceneOf(const platform::ui::Page& page) {
    const Origin* origin = findOrigin(page);
    return origin == nullptr ? std::string() : origin->scene;
}

bool TQStoryboard::perform(platform::ui::Page& source, std::string_view identifier) {
    const TQStoryboard* storyboard = of(source);
    if (storyboard == nullptr) {
        LG_ERROR("[Storyboard]: %@ was not made by a storyboard; no segue %@",
                 source.className(), identifier);
        return false;
    }
    return storyboard->performSegue(source, identifier);
}

bool TQStoryboard::isScene(const platform::ui::Page& page, std::string_view identifier) const {
    if (of(page) == this && sceneOf(page) == identifier) {
        return true;
    }
    const TQScene* named = scene(identifier);
    return named != nullptr && page.className() == named->className;
}

bool TQStoryboard::performSegue(platform::ui::Page& source, std::string_view identifier) const {
    const TQSegue* found = segue(identifier);
    if (found == nullptr) {
        LG_ERROR("[Storyboard]: %@ has no segue %@", name_, identifier);
        return false;
    }
    const TQSegue& chosen = *found;
    if (!chosen.sources.empty() &&
        std::none_of(chosen.sources.begin(), chosen.sources.end(),
                     [&](const std::string& scene) { return isScene(source, scene); })) {
        LG_ERROR("[Storyboard]: segue %@ does not start at %@", identifier, source.className());
        return false;
    }
    if (source.hasLeft()) {
        return false;
    }
    if (chosen.kind == TQSegueKind::unwind) {
        return unwind(source, chosen);
    }
    auto destination = instantiate(chosen.destination);
    if (!destination) {
        LG_ERROR("[Storyboard]: segue %@ leads to %@, which is no scene", identifier,
                 chosen.destination);
        return false;
    }
    source.prepareForSegue(identifier, *destination);
    switch (chosen.kind) {
        case TQSegueKind::push: {
            auto* navigation = platform::ui::navigationOf(source);
            if (navigation == nullptr) {
                LG_ERROR("[Storyboard]: segue %@ pushes, but %@ is on no navigation", identifier,
                         source.className());
                return false;
            }
            navigation->pushPage(std::move(destination), true);
            return true;
        }
        case TQSegueKind::modal:
        case TQSegueKind::modalCrossDissolve:
        case TQSegueKind::overCurrentContext:
            return platform::ui::presentPage(source, std::move(destination), styleOf(chosen.kind),
                                             true);
        case TQSegueKind::replaceRoot:
            if (!rootChanger_) {
                LG_ERROR("[Storyboard]: segue %@ replaces the root, which nobody changes",
                         identifier);
                return false;
            }
            rootChanger_(std::move(destination), source);
            return true;
        case TQSegueKind::unwind:
            break;
    }
    return false;
}

// Walks back from source, down its navigation and then through the pages that presented it,
// to the first page of the destination's scene; everything above that page goes.
bool TQStoryboard::unwind(platform::ui::Page& source, const TQSegue& segue) const {
    for (platform::ui::Page* at = &source; at != nullptr; at = presenterOf(*at)) {
        if (at != &source && isScene(*at, segue.destination)) {
            source.prepareForSegue(segue.identifier, *at);
            platform::ui::dismissPage(*at, true);
            return true;
        }
        auto* navigation = platform::ui::navigationOf(*at);
        if (navigation == nullptr) {
            continue;
        }
        const auto& pages = navigation->pages();
        const auto here = std::find(pages.begin(), pages.end(), at);
        for (auto below = here; below != pages.begin();) {
            --below;
            if (isScene(**below, segue.destination)) {
                platform::ui::Page& target = **below;
                source.prepareForSegue(segue.identifier, target);
                if (at != &source) {
                    platform::ui::dismissPage(*at, true);
                }
                navigation->popToPage(target, true);
                return true;
            }
        }
    }
    LG_ERROR("[Storyboard]: nothing below %@ to unwind to with %@", source.className(),
             segue.identifier);
    return false;
}
