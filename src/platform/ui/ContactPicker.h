#pragma once

#include <deque>
#include <functional>
#include <optional>

#include "platform/contacts/AddressBook.h"
#include "platform/foundation/WeakPtr.h"
#include "platform/ui/Navigation.h"

namespace platform::ui {

// What a contact picker tells, once: the person picked (names, organisation, phone numbers
// with their labels, the picture as the book keeps it), or nothing when the user cancelled.
using ContactPicked = std::function<void(std::optional<contacts::Person>)>;

// Lets the user pick one person of the address book, over a page.
class ContactPicker {
public:
    virtual ~ContactPicker() = default;
    // Shows the picker over presenter. done is told on the main loop once the picker has gone
    // (it goes by itself), never when the presenter left first. False when the picker cannot
    // show: the presenter has left or already presents a page.
    virtual bool present(Page& presenter, ContactPicked done) = 0;
};

// The picker of the application: the address book's people on a page of their own
// (ContactPickerPage), read afresh each time it shows.
class AddressBookContactPicker final : public ContactPicker {
public:
    // Borrowed: the book outlives the picker.
    explicit AddressBookContactPicker(contacts::AddressBook& book) : book_(book) {}
    bool present(Page& presenter, ContactPicked done) override;

private:
    contacts::AddressBook& book_;
};

// The test double: shows nothing, and answers from a script on the main loop's next turn.
class ScriptedContactPicker final : public ContactPicker {
public:
    // What the next presentations answer, in turn: the person picked, or nothing for a cancel.
    // A presentation without a scripted answer waits for answer().
    void script(std::optional<contacts::Person> answer) { script_.push_back(std::move(answer)); }
    // Answers the presentation that waits; false when none does.
    bool answer(std::optional<contacts::Person> person);
    [[nodiscard]] int presentations() const { return presentations_; }
    // Whether a presentation waits for its answer.
    [[nodiscard]] bool isShowing() const { return static_cast<bool>(waiting_); }

    bool present(Page& presenter, ContactPicked done) override;

private:
    static void tell(WeakPtr<Page> presenter, ContactPicked done,
                     std::optional<contacts::Person> person);

    std::deque<std::optional<contacts::Person>> script_;
    ContactPicked waiting_;
    WeakPtr<Page> waitingPresenter_;
    int presentations_ = 0;
};

}  // namespace platform::ui
