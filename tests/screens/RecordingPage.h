#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/Navigation.h"
#include "screens/support/ScreenDriver.h"

namespace screens_test {

// What the recording pages went through, in order: "<class> <event>".
using Journal = std::vector<std::string>;

// A page that writes its life into a journal and runs what a test hands it.
class RecordingPage : public platform::ui::Page {
public:
    RecordingPage(std::string className, std::shared_ptr<Journal> journal)
        : Page(std::move(className)), journal_(std::move(journal)) {}
    ~RecordingPage() override { note("gone"); }

    void viewDidLoad() override { note("load"); }
    void viewWillAppear(bool /*animated*/) override {
        note("willAppear");
        if (onWillAppear) {
            onWillAppear(*this);
        }
    }
    void viewDidAppear(bool /*animated*/) override { note("didAppear"); }
    void viewWillDisappear(bool /*animated*/) override { note("willDisappear"); }
    void viewDidDisappear(bool /*animated*/) override { note("didDisappear"); }
    void prepareForSegue(std::string_view identifier, Page& destination) override {
        note("prepare " + std::string(identifier) + " -> " + destination.className());
    }

    void note(const std::string& event) { journal_->push_back(className() + " " + event); }

    std::function<void(RecordingPage&)> onWillAppear;

private:
    std::shared_ptr<Journal> journal_;
};

// Registers a recording scene under identifier, of class className.
inline void addRecordingScene(ScreenDriver& driver, const std::string& identifier,
                              const std::string& className,
                              const std::shared_ptr<Journal>& journal) {
    driver.storyboard->registerScene(TQScene{identifier, className, [className, journal] {
                                                 return std::make_unique<RecordingPage>(className,
                                                                                        journal);
                                             }});
}

}  // namespace screens_test
