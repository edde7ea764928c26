#include <gtest/gtest.h>

#include <QTest>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/contacts/VCardFolderAddressBook.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/FileSystem.h"
#include "platform/image/Canvas.h"
#include "platform/ui/ContactPickerPage.h"
#include "platform/ui/Presentation.h"
#include "support/TempDir.h"
#include "ui/UiWorld.h"

namespace {

using namespace platform::ui;
using platform::contacts::LabeledValue;
using platform::contacts::LabelKind;
using platform::contacts::Person;
using ui_test::UiWorld;

Person named(std::optional<std::string> first, std::optional<std::string> middle,
             std::optional<std::string> last, std::optional<std::string> organization = {}) {
    Person person;
    person.firstName = std::move(first);
    person.middleName = std::move(middle);
    person.lastName = std::move(last);
    person.organization = std::move(organization);
    return person;
}

// Presenting, picking and cancelling over a root page in the main window, as a screen does.
class ContactPickerTest : public ::testing::Test {
protected:
    ContactPickerTest() {
        auto root = std::make_unique<Page>("Root");
        presenter = root.get();
        world.window->makeKeyAndVisible();
        replaceRootView(*world.window, new NavigationController(std::move(root)));
        settle();
    }
    void settle() {
        world.loop.runUntilIdle();
        world.loop.advance(1.0);
        UiWorld::flushDeletes();
    }
    void write(const std::string& name, const std::string& card) {
        ASSERT_TRUE(platform::fs::writeFileAtomically(folder.path() / name,
                                                      "BEGIN:VCARD\r\nVERSION:3.0\r\n" + card +
                                                          "END:VCARD\r\n")
                        .ok());
    }
    // The picker shown over the root page; null when none shows.
    ContactPickerPage* picker() {
        return dynamic_cast<ContactPickerPage*>(topMostPage(*world.window));
    }
    ContactPicked record() {
        return [this](std::optional<Person> person) { told.push_back(std::move(person)); };
    }

    UiWorld world;
    testing_support::TempDir folder;
    platform::contacts::VCardFolderAddressBook book{folder.path(),
                                                    std::make_unique<platform::ManualChangeSource>()};
    AddressBookContactPicker contacts{book};
    Page* presenter = nullptr;
    std::vector<std::optional<Person>> told;
};

TEST_F(ContactPickerTest, SearchNarrowsAndATouchGivesOnePersonWithPhonesLabelsAndPicture) {
    const auto png = platform::image::encodePNG(
        platform::image::Bitmap::filled({120, 80}, 0xffcc8800, false));
    ASSERT_TRUE(png.ok());
    write("ann.vcf", "UID:ann\r\nN:Lee;Ann;;;\r\nTEL;TYPE=CELL:+1 555 0100\r\n"
                     "TEL;TYPE=HOME,FAX:555 0199\r\nitem1.TEL:555 0177\r\n"
                     "item1.X-ABLabel:Cottage\r\nPHOTO;ENCODING=b;TYPE=PNG:" +
                         platform::base64::encode(png.value()) + "\r\n");
    write("bob.vcf", "UID:bob\r\nN:Marsh;Bob;;;\r\nTEL;TYPE=WORK:555-0200\r\n");
    write("acme.vcf", "UID:acme\r\nN:;;;;\r\nORG:Acme Corp\r\nTEL:555 0300\r\n");
    write("zed.vcf", "UID:zed\r\nN:Annersley;Zed;;;\r\n");
    write("mail.vcf", "UID:mail\r\nN:;;;;\r\nEMAIL:x@example.org\r\n");

    ASSERT_TRUE(contacts.present(*presenter, record()));
    settle();
    ContactPickerPage* page = picker();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->shownNames(), (std::vector<std::string>{"Acme Corp", "Ann Lee", "Bob Marsh",
                                                            "x@example.org", "Zed Annersley"}));

    auto* field = page->findChild<TextField*>("contactPickerSearch");
    ASSERT_NE(field, nullptr);
    field->setFocus();
    QTest::keyClicks(field, "ANN");
    EXPECT_EQ(page->shownNames(), (std::vector<std::string>{"Ann Lee", "Zed Annersley"}));
    const struct {
        const char* query;
        std::vector<std::string> names;
    } searches[] = {
        {"ann  lee", {"Ann Lee"}},
        {"5550200", {"Bob Marsh"}},  // a number without its punctuation
        {"corp", {"Acme Corp"}},
        {"example", {"x@example.org"}},
        {"nobody", {}},
    };
    for (const auto& s : searches) {
        page->search(s.query);
        EXPECT_EQ(page->shownNames(), s.names) << s.query;
    }
    field->clear();
    QTest::keyClicks(field, "lee");
    auto* table = page->findChild<DataTableView*>("contactPickerTable");
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(table->numberOfRows(0), 1u);
    EXPECT_EQ(table->cell({0, 0})->textLabel().text(), "Ann Lee");

    QTest::mouseClick(table->cell({0, 0}), Qt::LeftButton);
    EXPECT_TRUE(told.empty()) << "told once the picker has gone";
    settle();
    EXPECT_EQ(picker(), nullptr);
    EXPECT_EQ(topMostPage(*world.window), presenter);
    ASSERT_EQ(told.size(), 1u);
    ASSERT_TRUE(told[0].has_value());
    const Person& ann = *told[0];
    EXPECT_EQ(ann.firstName, "Ann");
    EXPECT_EQ(ann.lastName, "Lee");
    EXPECT_EQ(ann.phones,
              (std::vector<LabeledValue>{{LabelKind::mobile, "mobile", "+1 555 0100"},
                                         {LabelKind::homeFax, "home fax", "555 0199"},
                                         {LabelKind::custom, "Cottage", "555 0177"}}));
    EXPECT_EQ(ann.imageData, png.value());
}

TEST_F(ContactPickerTest, CancelTellsNothingOnceAndOnePickerAtATime) {
    write("ann.vcf", "UID:ann\r\nN:Lee;Ann;;;\r\nTEL:1\r\n");
    ASSERT_TRUE(contacts.present(*presenter, record()));
    EXPECT_FALSE(contacts.present(*presenter, record())) << "one presentation at a time";
    settle();
    ContactPickerPage* page = picker();
    ASSERT_NE(page, nullptr);
    auto* cancel = page->findChild<Button*>("contactPickerCancel");
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(cancel->title(), "Cancel");
    cancel->click();
    page->pickRow(0);  // a late touch while it goes counts for nothing
    settle();
    EXPECT_EQ(picker(), nullptr);
    EXPECT_EQ(told, (std::vector<std::optional<Person>>{std::nullopt}));

    leavePage(*presenter);
    EXPECT_FALSE(contacts.present(*presenter, record()));
}

TEST_F(ContactPickerTest, TheScriptedPickerAnswersPicksAndCancelsOnTheLoop) {
    ScriptedContactPicker scripted;
    Person ann = named("Ann", {}, {});
    ann.identifier = 7;
    ann.phones = {{LabelKind::home, "home", "1"}};
    scripted.script(ann);
    scripted.script(std::nullopt);
    ASSERT_TRUE(scripted.present(*presenter, record()));
    EXPECT_TRUE(told.empty()) << "never before present returns";
    world.loop.runUntilIdle();
    ASSERT_TRUE(scripted.present(*presenter, record()));
    world.loop.runUntilIdle();
    EXPECT_EQ(told, (std::vector<std::optional<Person>>{ann, std::nullopt}));

    // Unscripted, a presentation waits for its answer.
    told.clear();
    ASSERT_TRUE(scripted.present(*presenter, record()));
    EXPECT_TRUE(scripted.isShowing());
    EXPECT_FALSE(scripted.present(*presenter, record()));
    EXPECT_TRUE(scripted.answer(ann));
    EXPECT_FALSE(scripted.answer(ann));
    world.loop.runUntilIdle();
    EXPECT_EQ(told, (std::vector<std::optional<Person>>{ann}));
    EXPECT_EQ(scripted.presentations(), 3);

    // A presenter that left hears nothing.
    told.clear();
    ASSERT_TRUE(scripted.present(*presenter, record()));
    leavePage(*presenter);
    EXPECT_TRUE(scripted.answer(std::nullopt));
    world.loop.runUntilIdle();
    EXPECT_TRUE(told.empty());
}

TEST(ContactNamesTest, ShownNamesAndSearches) {
    Person phoned;
    phoned.phones = {{LabelKind::mobile, "mobile", "(555) 01-00"}};
    Person mailed;
    mailed.emails = {{LabelKind::work, "work", "a@b.org"}};
    const struct {
        Person person;
        std::string name;
        const char* query;
        bool found;
    } cases[] = {
        {named("Ann", "B", "Lee"), "Ann B Lee", "b lee", true},
        {named("", {}, "Lee", "Acme"), "Lee", "acme", true},
        {named({}, {}, {}, "Acme"), "Acme", "ACME", true},
        {phoned, "(555) 01-00", "5550100", true},
        {mailed, "a@b.org", "b.org", true},
        {named("Élodie", {}, {}), "Élodie", "ÉLO", true},
        {named("Ann", {}, "Lee"), "Ann Lee", "nl", false},  // not across parts
        {Person(), "", "", true},
        {Person(), "", "x", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(contactDisplayName(c.person), c.name);
        EXPECT_EQ(contactMatches(c.person, c.query), c.found) << c.name << " / " << c.query;
    }
}

}  // namespace
