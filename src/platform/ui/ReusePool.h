#pragma once

#include <QWidget>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace platform::ui {

// Views made by registered factories and handed back for reuse, by identifier: what tables
// and collections keep of the cells they showed. The views belong to the parent they are
// made under.
template <typename T>
class ReusePool {
public:
    void registerFactory(std::string identifier, std::function<T*()> make) {
        factories_[std::move(identifier)] = std::move(make);
    }
    // A view handed back under the identifier, else a new one (a plain T when none is
    // registered), under the parent.
    T& take(std::string_view identifier, QWidget& parent) {
        auto kept = idle_.find(identifier);
        if (kept != idle_.end() && !kept->second.empty()) {
            T* view = kept->second.back();
            kept->second.pop_back();
            return *view;
        }
        const auto factory = factories_.find(identifier);
        T* view = factory != factories_.end() && factory->second ? factory->second() : new T;
        view->setParent(&parent);
        identifiers_[view] = std::string(identifier);
        return *view;
    }
    // A view given from elsewhere, under the parent: reused only for the empty identifier.
    void adopt(T& view, QWidget& parent) {
        if (view.parentWidget() != &parent) {
            view.setParent(&parent);
        }
        identifiers_.try_emplace(&view, std::string());
    }
    // Hidden until taken again.
    void giveBack(T& view) {
        view.hide();
        idle_[identifiers_[&view]].push_back(&view);
    }

private:
    std::map<std::string, std::function<T*()>, std::less<>> factories_;
    std::map<std::string, std::vector<T*>, std::less<>> idle_;
    std::map<const T*, std::string> identifiers_;
};

}  // namespace platform::ui
