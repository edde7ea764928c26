#include "platform/ui/ContactPicker.h"

#include <memory>
#include <utility>

#include "platform/foundation/RunLoop.h"
#include "platform/ui/ContactPickerPage.h"
#include "platform/ui/Presentation.h"

namespace platform::ui {

bool AddressBookContactPicker::present(Page& presenter, ContactPicked done) {
    if (presenter.hasLeft() || presentedPage(presenter) != nullptr) {
        return false;
    }
    // The book as it is now: cards may have come or gone since it was last read.
    book_.revert();
    auto page = std::make_unique<ContactPickerPage>(book_.people(), std::move(done));
    return presentPage(presenter, std::move(page), PresentationStyle::cover, true);
}

bool ScriptedContactPicker::present(Page& presenter, ContactPicked done) {
    if (presenter.hasLeft() || isShowing()) {
        return false;
    }
    ++presentations_;
    if (script_.empty()) {
        waiting_ = std::move(done);
        waitingPresenter_ = presenter.weakPage();
        return true;
    }
    auto answer = std::move(script_.front());
    script_.pop_front();
    tell(presenter.weakPage(), std::move(done), std::move(answer));
    return true;
}

bool ScriptedContactPicker::answer(std::optional<contacts::Person> person) {
    if (!isShowing()) {
        return false;
    }
    tell(std::exchange(waitingPresenter_, {}), std::exchange(waiting_, nullptr), std::move(person));
    return true;
}

void ScriptedContactPicker::tell(WeakPtr<Page> presenter, ContactPicked done,
                                 std::optional<contacts::Person> person) {
    RunLoop::main().post([presenter = std::move(presenter), done = std::move(done),
                          person = std::move(person)]() mutable {
        if (presenter && done) {
            done(std::move(person));
        }
    });
}

}  // namespace platform::ui
