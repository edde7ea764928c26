#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/Json.h"
#include "services/contacts/TQContactFile.h"

namespace contacts_test {
namespace {

using platform::Value;
using platform::contacts::LabelKind;
using platform::contacts::Person;
using TQContactFile::NameParts;

std::string json(const Value& value) {
    return platform::json::write(value).value();
}

TEST(TQContactFileTest, NameDataAndDisplayNameFollowThePresentParts) {
    const std::optional<std::string> none;
    struct Row {
        NameParts parts;
        std::string data;
        std::string type;
        std::optional<std::string> display;
    };
    const std::vector<Row> rows = {
        {{"A", "B", "C", "Co"}, R"({"first":"A","middle":"B","last":"C"})", "name", "A B C"},
        {{"A", "B", none, none}, R"({"first":"A","middle":"B"})", "name", "A B"},
        {{"A", none, "C", "Co"}, R"({"first":"A","last":"C"})", "name", "A C"},
        {{"A", none, none, none}, R"({"first":"A"})", "name", "A"},
        {{none, "B", "C", none}, R"({"middle":"B","last":"C"})", "name", "B C"},
        {{none, "B", none, "Co"}, R"({"middle":"B"})", "name", "B"},
        {{none, none, "C", none}, R"({"last":"C"})", "name", "C"},
        {{none, none, none, "Co"}, R"({"company":"Co"})", "organization", "Co"},
        {{none, none, none, none}, "{}", "name", none},
        // Empty counts as present.
        {{"", none, "C", none}, R"({"first":"","last":"C"})", "name", " C"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.data);
        EXPECT_EQ(json(Value(TQContactFile::getNameData(row.parts))), row.data);
        EXPECT_EQ(TQContactFile::nameEntryType(row.parts), row.type);
        EXPECT_EQ(TQContactFile::generateName(row.parts), row.display);
    }
}

TEST(TQContactFileTest, TypeCodesAndNumberCleaning) {
    const std::vector<std::pair<LabelKind, std::pair<int, int>>> codes = {
        {LabelKind::home, {1, 1}},    {LabelKind::mobile, {2, 0}},  {LabelKind::work, {3, 3}},
        {LabelKind::workFax, {4, 0}}, {LabelKind::homeFax, {5, 0}}, {LabelKind::other, {7, 4}},
        {LabelKind::main, {12, 0}},   {LabelKind::custom, {0, 0}},  {LabelKind::none, {0, 0}},
    };
    for (const auto& [kind, expected] : codes) {
        EXPECT_EQ(TQContactFile::phoneType(kind), expected.first);
        EXPECT_EQ(TQContactFile::emailType(kind), expected.second);
    }
    EXPECT_EQ(TQContactFile::cleanNumber("+49\xC2\xA0" "30\xC2\xA0" "1234"), "+49301234");
    EXPECT_EQ(TQContactFile::cleanNumber("+49 (30) 12-34"), "+49 (30) 12-34");
}

TEST(TQContactFileTest, TheRecordOfACopyInItsOrder) {
    Person person;
    person.identifier = 42;
    person.firstName = "Ann";
    person.lastName = "Lee";
    person.phones = {{LabelKind::custom, "Boat", "1\xC2\xA0" "2"}, {LabelKind::mobile, "mobile", "3"}};
    person.emails = {{LabelKind::work, "work", "a@b.example"}};
    EXPECT_EQ(
        json(*TQContactFile::rawContact(person)),
        R"({"raw_contact":{"id":42,"contact_id":42,"image_raw_contact_id":42,)"
        R"("display_name":"Ann Lee","is_favorite":false,"is_emergency":false,"has_photo":false},)"
        R"("data_list":[)"
        R"({"raw_contact_id":42,"type":"number","is_default":false,"data":{"number":"12","type":0}},)"
        R"({"raw_contact_id":42,"type":"number","is_default":false,"data":{"number":"3","type":2}},)"
        R"({"raw_contact_id":42,"type":"email","is_default":false,"data":{"email":"a@b.example","type":3}},)"
        R"({"raw_contact_id":42,"type":"name","is_default":false,"data":{"first":"Ann","last":"Lee"}}]})");
    EXPECT_EQ(json(Value(TQContactFile::getPhoneNumbers(person))),
              R"([{"phone_label":"Boat","phone_type":0,"phone_number":"12"},)"
              R"({"phone_label":"mobile","phone_type":2,"phone_number":"3"}])");
    EXPECT_EQ(json(Value(TQContactFile::getEmails(person))),
              R"([{"email_label":"work","email_type":3,"email":"a@b.example"}])");

    Person company;
    company.identifier = 7;
    company.organization = "Acme";
    const auto record = TQContactFile::rawContact(company);
    ASSERT_TRUE(record);
    EXPECT_EQ((*record)["raw_contact"]["display_name"], Value("Acme"));
    EXPECT_EQ(json((*record)["data_list"]),
              R"([{"raw_contact_id":7,"type":"organization","is_default":false,)"
              R"("data":{"company":"Acme"}}])");
    Person nameless;
    nameless.identifier = 8;
    EXPECT_FALSE(TQContactFile::rawContact(nameless));
}

TEST(TQContactFileTest, InsertAndDeleteDocuments) {
    EXPECT_EQ(json(TQContactFile::insertDocument({Value(1), Value(2)})),
              R"({"insert":{"number_of_raw_contacts":2,"raw_contact_list":[1,2]}})");
    const std::int32_t removed[] = {5, -6};
    EXPECT_EQ(json(TQContactFile::deleteDocument(removed)),
              R"({"delete":{"number_of_raw_contacts":2,"raw_contact_list":[)"
              R"({"raw_contact":{"id":5}},{"raw_contact":{"id":-6}}]},)"
              R"("meta_data":{"file_index":"1:1","total_number_of_contacts":0}})");
}

TEST(TQContactFileTest, ABuddyWithoutTextsStillFitsTheRecord) {
    TQContactFile::Buddy buddy{9, std::nullopt, {}, true, {{std::nullopt, 2}, {"555", 3}}};
    EXPECT_EQ(json(TQContactFile::buddyRecord(buddy)),
              R"({"raw_contact":{"id":9,"contact_id":9,"image_raw_contact_id":9,)"
              R"("display_name":"","has_photo":true},"data_list":[)"
              R"({"raw_contact_id":9,"type":"number","is_default":false,)"
              R"("data":{"number":"555","normalized_number":"555","type":3}},)"
              R"({"raw_contact_id":9,"type":"name","is_default":false,"data":{}}]})");
}

TEST(TQContactFileTest, FileNamesAreNeverReusedEvenWithinOneMillisecond) {
    TQContactFile::FileNames names;
    EXPECT_EQ(names.next(1000), "QAContactJSONFile1000.dat");
    EXPECT_EQ(names.next(1000), "QAContactJSONFile1001.dat");
    EXPECT_EQ(names.next(999), "QAContactJSONFile1002.dat");
    EXPECT_EQ(names.next(5000), "QAContactJSONFile5000.dat");
}

}  // namespace
}  // namespace contacts_test
