#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/contacts/Person.h"

namespace platform::contacts {

// What the services use of an address book: every person in the book's order, a person by
// record identifier, a reload of the book's view and one observer of changes. people and
// personWithIdentifier may be called from any thread; changes are reported on the book's
// run loop.
class AddressBook {
public:
    virtual ~AddressBook() = default;

    // Brings the view up to the store's current content.
    virtual void revert() = 0;
    // Every person, in the book's order, as of the last revert (or the first read).
    [[nodiscard]] virtual std::vector<Person> people() = 0;
    [[nodiscard]] virtual std::optional<Person> personWithIdentifier(std::int32_t identifier) = 0;
    // observer hears every change from now on; null stops that.
    virtual void observeChanges(std::function<void()> observer) = 0;
};

// An address book in memory, the test double: the people set, in the order set.
class MemoryAddressBook final : public AddressBook {
public:
    void setPeople(std::vector<Person> people) {
        std::lock_guard lock(mutex_);
        people_ = std::move(people);
    }
    // Tells the observer, as a store does after a change.
    void notifyChanged() {
        if (observer_) {
            observer_();
        }
    }
    [[nodiscard]] int reverts() const { return reverts_; }

    void revert() override { ++reverts_; }
    std::vector<Person> people() override {
        std::lock_guard lock(mutex_);
        return people_;
    }
    std::optional<Person> personWithIdentifier(std::int32_t identifier) override {
        std::lock_guard lock(mutex_);
        for (const Person& person : people_) {
            if (person.identifier == identifier) {
                return person;
            }
        }
        return std::nullopt;
    }
    void observeChanges(std::function<void()> observer) override {
        observer_ = std::move(observer);
    }

private:
    std::mutex mutex_;
    std::vector<Person> people_;
    std::function<void()> observer_;
    int reverts_ = 0;
};

}  // namespace platform::contacts
