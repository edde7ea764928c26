#include "ui/TQStoryboard.h"

#include <utility>

void TQStoryboard::registerScene(std::string identifier, Factory factory) {
    scenes_.insert_or_assign(std::move(identifier), std::move(factory));
}

void TQStoryboard::registerSegue(TQSegue segue) {
    std::string identifier = segue.identifier;
    segues_.insert_or_assign(std::move(identifier), std::move(segue));
}

std::unique_ptr<platform::ui::Page> TQStoryboard::instantiate(std::string_view identifier) const {
    const auto found = scenes_.find(identifier);
    if (found == scenes_.end() || !found->second) {
        return nullptr;
    }
    return found->second();
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
    for (const auto& [identifier, factory] : scenes_) {
        identifiers.push_back(identifier);
    }
    return identifiers;
}
