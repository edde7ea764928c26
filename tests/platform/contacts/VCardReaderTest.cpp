#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/contacts/VCardReader.h"

namespace contacts_test {
namespace {

using platform::contacts::LabeledValue;
using platform::contacts::LabelKind;
using platform::contacts::readVCards;
using platform::contacts::VCardFile;

// CRLF line ends, as the format asks.
std::string crlf(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += "\r\n";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

struct Snippet {
    const char* what;
    std::string text;
    std::optional<std::string> first, middle, last, organization, uid;
    std::vector<LabeledValue> phones;
    std::vector<LabeledValue> emails;
    std::size_t photoBytes = 0;  // 0: no photo
};

TEST(VCardReaderTest, ReadsWhatAddressBooksAndPhonesExport) {
    const std::vector<Snippet> snippets = {
        {"3.0 from a desktop address book",
         crlf("BEGIN:VCARD\nVERSION:3.0\nPRODID:-//some program//EN\nUID:a-1\n"
              "N:Lee;Ann;Marie;Dr.;\nFN:Dr. Ann Marie Lee\nORG:Acme;Sales\n"
              "TEL;TYPE=CELL,VOICE:+1 555 0100\nTEL;TYPE=WORK,FAX:+1 555 0199\n"
              "EMAIL;TYPE=INTERNET,WORK:ann@acme.example\nEND:VCARD\n"),
         "Ann", "Marie", "Lee", "Acme", "a-1",
         {{LabelKind::mobile, "mobile", "+1 555 0100"}, {LabelKind::workFax, "work fax", "+1 555 0199"}},
         {{LabelKind::work, "work", "ann@acme.example"}}},
        {"4.0 with LF ends, quoted parameters and a tel URI",
         "BEGIN:VCARD\nVERSION:4.0\nUID:urn:uuid:4fbe8971\nFN:Bo\nN:;Bo;;;\n"
         "TEL;VALUE=uri;TYPE=\"home,voice\":tel:+44-20-7946-0000\n"
         "EMAIL;TYPE=home:bo@example.org\nEND:VCARD\n",
         "Bo", std::nullopt, std::nullopt, std::nullopt, "urn:uuid:4fbe8971",
         {{LabelKind::home, "home", "+44-20-7946-0000"}}, {{LabelKind::home, "home", "bo@example.org"}}},
        {"folded lines, space and tab",
         crlf("BEGIN:VCARD\nVERSION:3.0\nN:Long;Gwen\n dolyn;;;\nORG:Very Long Company\n\t Name\n"
              "END:VCARD\n"),
         "Gwendolyn", std::nullopt, "Long", "Very Long Company Name", std::nullopt, {}, {}},
        {"escaped commas, semicolons and a new line",
         crlf("BEGIN:VCARD\nVERSION:3.0\nN:Smith\\, Jr.;John\\;Paul;;;\nORG:Smith\\, Sons & Co.\\nLtd\n"
              "END:VCARD\n"),
         "John;Paul", std::nullopt, "Smith, Jr.", "Smith, Sons & Co.\nLtd", std::nullopt, {}, {}},
        {"2.1 quoted-printable in UTF-8 with a soft break, bare types",
         crlf("BEGIN:VCARD\nVERSION:2.1\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=\n"
              "=B6rg;;;\nTEL;CELL;PREF:0171 2345\nTEL;HOME;FAX:030 1234\nEND:VCARD\n"),
         "J\xC3\xB6rg", std::nullopt, "M\xC3\xBCller", std::nullopt, std::nullopt,
         {{LabelKind::mobile, "mobile", "0171 2345"}, {LabelKind::homeFax, "home fax", "030 1234"}}, {}},
        {"2.1 quoted-printable in ISO-8859-1",
         crlf("BEGIN:VCARD\nVERSION:2.1\nN;CHARSET=ISO-8859-1;QUOTED-PRINTABLE:Ni=F1o;Jos=E9\nEND:VCARD\n"),
         "Jos\xC3\xA9", std::nullopt, "Ni\xC3\xB1o", std::nullopt, std::nullopt, {}, {}},
        {"3.0 base64 photo, folded",
         crlf("BEGIN:VCARD\nVERSION:3.0\nFN:P\nN:P;;;;\nPHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQ\n SkZJRg==\n"
              "END:VCARD\n"),
         std::nullopt, std::nullopt, "P", std::nullopt, std::nullopt, {}, {}, 10},
        {"2.1 base64 photo ended by an empty line",
         crlf("BEGIN:VCARD\nVERSION:2.1\nN:Q;;;;\nPHOTO;ENCODING=BASE64;TYPE=PNG:\n iVBORw0KGgo=\n\n"
              "END:VCARD\n"),
         std::nullopt, std::nullopt, "Q", std::nullopt, std::nullopt, {}, {}, 8},
        {"4.0 data URI photo",
         "BEGIN:VCARD\nVERSION:4.0\nFN:R\nPHOTO:data:image/png;base64,iVBORw0KGgo=\nEND:VCARD\n",
         "R", std::nullopt, std::nullopt, std::nullopt, std::nullopt, {}, {}, 8},
        {"a linked photo is left out",
         "BEGIN:VCARD\nVERSION:4.0\nFN:S\nPHOTO:https://example.org/s.jpg\nEND:VCARD\n",
         "S", std::nullopt, std::nullopt, std::nullopt, std::nullopt, {}, {}, 0},
        {"grouped properties with their own labels",
         crlf("BEGIN:VCARD\nVERSION:3.0\nN:G;;;;\nitem1.TEL:555 1\nitem1.X-ABLabel:Boat\n"
              "ITEM2.EMAIL;type=INTERNET:g@example.org\nitem2.X-ABLabel:Club\nTEL;TYPE=MAIN:555 2\n"
              "END:VCARD\n"),
         std::nullopt, std::nullopt, "G", std::nullopt, std::nullopt,
         {{LabelKind::custom, "Boat", "555 1"}, {LabelKind::main, "main", "555 2"}},
         {{LabelKind::custom, "Club", "g@example.org"}}},
        {"a company card names nobody",
         crlf("BEGIN:VCARD\nVERSION:3.0\nN:;;;;\nFN:Acme\nORG:Acme;\nEND:VCARD\n"), std::nullopt,
         std::nullopt, std::nullopt, "Acme", std::nullopt, {}, {}},
        {"a byte-order mark and lower-case keywords",
         "\xEF\xBB\xBF" "begin:vcard\nversion:3.0\nn:Low;Case;;;\nend:vcard\n", "Case", std::nullopt,
         "Low", std::nullopt, std::nullopt, {}, {}},
    };
    for (const Snippet& snippet : snippets) {
        SCOPED_TRACE(snippet.what);
        const VCardFile file = readVCards(snippet.text);
        ASSERT_EQ(file.cards.size(), 1u);
        const auto& person = file.cards[0].person;
        EXPECT_EQ(person.firstName, snippet.first);
        EXPECT_EQ(person.middleName, snippet.middle);
        EXPECT_EQ(person.lastName, snippet.last);
        EXPECT_EQ(person.organization, snippet.organization);
        EXPECT_EQ(file.cards[0].uid, snippet.uid);
        EXPECT_EQ(person.phones, snippet.phones);
        EXPECT_EQ(person.emails, snippet.emails);
        EXPECT_EQ(person.imageData ? person.imageData->size() : 0, snippet.photoBytes);
        for (const auto& issue : file.issues) {
            EXPECT_FALSE(issue.cardRejected) << issue.message;
        }
    }
}

TEST(VCardReaderTest, RevisionsInBasicAndExtendedForms) {
    const std::vector<std::pair<std::string, std::optional<std::int64_t>>> cases = {
        {"20261210T120000Z", 1796904000},
        {"2026-12-10T12:00:00Z", 1796904000},
        {"2026-12-10T13:00:00+01:00", 1796904000},
        {"20261210", 1796860800},
        {"2026-13-10T00:00:00Z", std::nullopt},
        {"yesterday", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        const auto file = readVCards("BEGIN:VCARD\nN:A;;;;\nREV:" + text + "\nEND:VCARD\n");
        ASSERT_EQ(file.cards.size(), 1u) << text;
        EXPECT_EQ(file.cards[0].revision, expected) << text;
    }
}

// Each hostile card sits between two sound ones, which must survive it.
TEST(VCardReaderTest, AHostileCardIsRejectedAloneAndTheOthersAreRead) {
    const std::string before = "BEGIN:VCARD\nVERSION:3.0\nN:Before;;;;\nEND:VCARD\n";
    const std::string after = "BEGIN:VCARD\nVERSION:3.0\nN:After;;;;\nEND:VCARD\n";
    const std::vector<std::pair<const char*, std::string>> hostile = {
        {"a 50 MB line", "BEGIN:VCARD\nVERSION:3.0\nN:Big;;;;\nNOTE:" +
                             std::string(50u << 20, 'x') + "\nEND:VCARD\n"},
        {"broken folding", "BEGIN:VCARD\nVERSION:3.0\nN:Broken;Fold\ning;;;\nEND:VCARD\n"},
        {"invalid UTF-8", "BEGIN:VCARD\nVERSION:3.0\nN:Bad\xC3\x28;;;;\nEND:VCARD\n"},
        {"invalid UTF-8 in a property not read", "BEGIN:VCARD\nN:X;;;;\nNOTE:\xFF\nEND:VCARD\n"},
        {"invalid UTF-8 behind quoted-printable",
         "BEGIN:VCARD\nVERSION:2.1\nN;ENCODING=QUOTED-PRINTABLE:=FF=FE;;;;\nEND:VCARD\n"},
        {"a broken quoted-printable escape",
         "BEGIN:VCARD\nVERSION:2.1\nN;ENCODING=QUOTED-PRINTABLE:A=G1;;;;\nEND:VCARD\n"},
        {"an unknown charset", "BEGIN:VCARD\nVERSION:2.1\nN;CHARSET=KOI8-R:A;;;;\nEND:VCARD\n"},
        {"an unknown version", "BEGIN:VCARD\nVERSION:5.0\nN:A;;;;\nEND:VCARD\n"},
        {"an unclosed parameter quote", "BEGIN:VCARD\nTEL;TYPE=\"cell:1\nEND:VCARD\n"},
        {"a card inside a card",
         "BEGIN:VCARD\nVERSION:2.1\nN:Outer;;;;\nAGENT:\nBEGIN:VCARD\nN:Inner;;;;\nEND:VCARD\n"},
    };
    for (const auto& [what, card] : hostile) {
        SCOPED_TRACE(what);
        const VCardFile file = readVCards(before + card + after);
        std::vector<std::string> read;
        for (const auto& one : file.cards) {
            read.push_back(one.person.lastName.value_or("?"));
        }
        EXPECT_EQ(read, (std::vector<std::string>{"Before", "After"}));
        ASSERT_FALSE(file.issues.empty());
        EXPECT_TRUE(file.issues[0].cardRejected);
    }
}

TEST(VCardReaderTest, APhotoThatIsNotAnImageIsLeftOutOfAKeptCard) {
    const auto file = readVCards(
        "BEGIN:VCARD\nVERSION:3.0\nN:Kept;;;;\nPHOTO;ENCODING=b;TYPE=JPEG:SGVsbG8gd29ybGQ=\n"
        "END:VCARD\nBEGIN:VCARD\nVERSION:3.0\nN:Also;;;;\nPHOTO;ENCODING=b:!!!\nEND:VCARD\n");
    ASSERT_EQ(file.cards.size(), 2u);
    EXPECT_FALSE(file.cards[0].person.imageData);
    EXPECT_FALSE(file.cards[1].person.imageData);
    ASSERT_EQ(file.issues.size(), 2u);
    EXPECT_FALSE(file.issues[0].cardRejected);
    EXPECT_EQ(file.issues[0].message, "PHOTO left out: not an image");
    EXPECT_EQ(file.issues[1].message, "PHOTO left out: base64 that does not decode");
}

TEST(VCardReaderTest, ACardCutShortOrTextAroundCardsIsReported) {
    const auto file = readVCards("junk\nBEGIN:VCARD\nN:A;;;;\nEND:VCARD\nBEGIN:VCARD\nN:B;;;;\n");
    ASSERT_EQ(file.cards.size(), 1u);
    ASSERT_EQ(file.issues.size(), 2u);
    EXPECT_EQ(file.issues[0].message, "text outside a card");
    EXPECT_EQ(file.issues[1].message, "a card without its END");
    EXPECT_EQ(file.issues[1].line, 5u);
}

}  // namespace
}  // namespace contacts_test
