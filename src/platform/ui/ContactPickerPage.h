#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/contacts/Person.h"
#include "platform/ui/ContactPicker.h"
#include "platform/ui/Controls.h"
#include "platform/ui/DataTable.h"
#include "platform/ui/Navigation.h"

namespace platform::ui {

// The name a picker shows for a person: the given, middle and family names, else the
// organisation, else the first phone number or e-mail address; empty when the card holds
// none of them.
[[nodiscard]] std::string contactDisplayName(const contacts::Person& person);

// Whether every word of the query is found, case ignored, in the person's names,
// organisation, e-mail addresses or phone numbers (these also without their spaces and
// punctuation). An empty query finds everyone.
[[nodiscard]] bool contactMatches(const contacts::Person& person, std::string_view query);

// The contact picker's page: a bar with its title and a cancel button, a search field, and the
// people in the order of their names. Touching a person picks them; the page then goes away
// by itself (when it was presented) and tells the pick, or the cancel, once.
class ContactPickerPage final : public Page, private TableModel {
public:
    static constexpr const char* kClassName = "ContactPickerPage";
    static constexpr double kSearchHeight = 44;

    ContactPickerPage(std::vector<contacts::Person> people, ContactPicked done);

    void viewDidLoad() override;
    void layoutSubviews() override;

    // Shows only the people the query finds, as typing in the search field does.
    void search(std::string_view query);
    // The names of the rows shown, in order.
    [[nodiscard]] std::vector<std::string> shownNames() const;
    // Picks the person of a row shown; false for a row that is not there.
    bool pickRow(std::size_t row);
    void cancel();

private:
    std::size_t numberOfRows(DataTableView& table, std::size_t section) override;
    TableCell& cellForRow(DataTableView& table, IndexPath path) override;
    void didSelectRow(DataTableView& table, IndexPath path) override;
    // Leaves, then tells; only the first call counts.
    void finish(std::optional<contacts::Person> person);

    struct Entry {
        contacts::Person person;
        std::string name;
        // What a search looks in, case-folded.
        std::string haystack;
    };
    std::vector<Entry> entries_;
    std::vector<std::size_t> shown_;
    ContactPicked done_;
    bool finished_ = false;
    NavigationBar* bar_ = nullptr;
    TextField* search_ = nullptr;
    DataTableView* table_ = nullptr;
};

}  // namespace platform::ui
