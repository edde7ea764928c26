#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "platform/contacts/VCardFolderAddressBook.h"
#include "platform/foundation/FileSystem.h"
#include "support/RecordingLogSink.h"
#include "support/TempDir.h"

namespace contacts_test {
namespace {

using platform::ManualChangeSource;
using platform::contacts::Person;
using platform::contacts::VCardFolderAddressBook;

std::string card(std::string_view uid, std::string_view last, std::string_view extra = "") {
    std::string text = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
    if (!uid.empty()) {
        text += "UID:" + std::string(uid) + "\r\n";
    }
    return text + "N:" + std::string(last) + ";;;;\r\n" + std::string(extra) + "END:VCARD\r\n";
}

class VCardFolderAddressBookTest : public ::testing::Test {
protected:
    std::unique_ptr<VCardFolderAddressBook> open() {
        auto source = std::make_unique<ManualChangeSource>();
        changes = source.get();
        return std::make_unique<VCardFolderAddressBook>(folder.path(), std::move(source));
    }
    void write(const std::filesystem::path& relative, const std::string& text) {
        ASSERT_TRUE(platform::fs::writeFileAtomically(folder.path() / relative, text).ok());
    }
    static std::vector<std::string> names(const std::vector<Person>& people) {
        std::vector<std::string> out;
        for (const Person& person : people) {
            out.push_back(person.lastName.value_or("?"));
        }
        return out;
    }

    std::shared_ptr<testing_support::RecordingLogSink> sink =
        std::make_shared<testing_support::RecordingLogSink>();
    testing_support::ScopedLogSink installSink{sink};
    testing_support::TempDir folder;
    ManualChangeSource* changes = nullptr;
};

TEST_F(VCardFolderAddressBookTest, CardFilesOfTheFolderAndItsBooksInPathOrder) {
    write("b.vcf", card("u-b1", "B1") + card("u-b2", "B2"));
    write("a.VCF", card("u-a", "A"));
    write("work/c.vcf", card("u-c", "C"));
    write(".hidden/d.vcf", card("u-d", "D"));
    write("notes.txt", card("u-e", "E"));
    write("bad.vcf", "BEGIN:VCARD\r\nN:\xFF;;;;\r\nEND:VCARD\r\n" + card("u-f", "F"));
    auto book = open();
    EXPECT_EQ(names(book->people()), (std::vector<std::string>{"A", "B1", "B2", "F", "C"}));
    EXPECT_TRUE(sink->contains("card skipped: N: text that is not UTF-8"));
}

TEST_F(VCardFolderAddressBookTest, IdentifiersComeFromTheUidAndLastAcrossLaunches) {
    write("all.vcf", card("u-1", "One") + card("", "NoUid") + card("u-1", "SameUidAgain"));
    std::set<std::int32_t> first;
    for (const Person& person : open()->people()) {
        EXPECT_GT(person.identifier, 0);
        first.insert(person.identifier);
    }
    EXPECT_EQ(first.size(), 3u);
    EXPECT_TRUE(first.contains(VCardFolderAddressBook::identifierFor("uid:u-1")));
    std::set<std::int32_t> again;
    for (const Person& person : open()->people()) {
        again.insert(person.identifier);
    }
    EXPECT_EQ(first, again);
    // Nothing was written back into the file.
    EXPECT_EQ(platform::fs::readFile(folder.path() / "all.vcf").value(),
              card("u-1", "One") + card("", "NoUid") + card("u-1", "SameUidAgain"));
}

TEST_F(VCardFolderAddressBookTest, ModificationDateIsTheLaterOfFileTimeAndRevision) {
    write("a.vcf", card("u-a", "A", "REV:20300101T000000Z\r\n") + card("u-b", "B"));
    const timespec times[2] = {{1'800'000'000, 500'000'000}, {1'800'000'000, 500'000'000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (folder.path() / "a.vcf").c_str(), times, 0), 0);
    const auto people = open()->people();
    ASSERT_EQ(people.size(), 2u);
    EXPECT_EQ(people[0].modificationDate, 1893456000.0);
    EXPECT_EQ(people[1].modificationDate, 1800000000.5);
}

TEST_F(VCardFolderAddressBookTest, AChangeIsReadAtTheNextRevertAndOnlyChangedFilesAreParsed) {
    write("a.vcf", card("u-a", "A"));
    write("b.vcf", card("u-b", "B"));
    auto book = open();
    int told = 0;
    book->observeChanges([&] { ++told; });
    EXPECT_EQ(names(book->people()), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(book->parses(), 2);

    write("b.vcf", card("u-b", "B2"));
    std::filesystem::remove(folder.path() / "a.vcf");
    EXPECT_EQ(names(book->people()), (std::vector<std::string>{"A", "B"}));  // not reverted yet
    book->revert();
    EXPECT_EQ(names(book->people()), (std::vector<std::string>{"B2"}));
    EXPECT_EQ(book->parses(), 3);
    EXPECT_FALSE(book->personWithIdentifier(VCardFolderAddressBook::identifierFor("uid:u-a")));
    EXPECT_EQ(book->personWithIdentifier(VCardFolderAddressBook::identifierFor("uid:u-b"))
                  ->lastName,
              "B2");

    write("c.vcf", card("u-c", "C"));
    EXPECT_TRUE(changes->fire());
    EXPECT_EQ(told, 1);
    EXPECT_EQ(names(book->people()), (std::vector<std::string>{"B2", "C"}));
    book->observeChanges(nullptr);
    EXPECT_FALSE(changes->fire());
}

TEST_F(VCardFolderAddressBookTest, AMissingFolderIsAnEmptyBook) {
    auto book = std::make_unique<VCardFolderAddressBook>(folder.path() / "none", nullptr);
    EXPECT_TRUE(book->people().empty());
    EXPECT_FALSE(sink->contains("cannot read"));
}

}  // namespace
}  // namespace contacts_test
