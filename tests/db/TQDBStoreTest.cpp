#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "db/DBFixture.h"
#include "db/TQDBManager.h"
#include "db/TQDBRecords.h"

namespace db_test {
namespace {

std::string hex(const std::string& text) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

class TQDBStoreTest : public DBTest {
protected:
    TQDBStoreTest() {
        TQDBManager store = TQDBManager::getSharedInstance();
        EXPECT_TRUE(store.createModel(TQDBAllTypes::tableSchema()));
        EXPECT_TRUE(store.createModel(TQDBGeneralMessage::tableSchema()));
        EXPECT_TRUE(store.createModel(TQDBLog::tableSchema()));
    }

    static TQDBGeneralMessage text(std::int32_t id, std::string body, std::string model) {
        TQDBGeneralMessage message;
        message.templateId = id;
        message.checked = id;
        message.body = std::move(body);
        message.modelNumber = std::move(model);
        return message;
    }
};

TEST_F(TQDBStoreTest, EveryPropertyTypeReadsBackAtItsWidthAndValue) {
    struct Row {
        bool flag;
        char letter;
        double real;
        std::int32_t whole;
        std::uint32_t unsignedWhole;
        float single;
        std::int64_t wide;
        std::uint64_t unsignedWide;
        std::int16_t narrow;
        std::optional<std::string> text;
        std::optional<double> number;
    };
    const Row rows[] = {
        {true, 'A', 1700000000.123456, -7, 4294967295u, 0.1f,
         std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::uint64_t>::max(),
         -32768, "How's it going?\nLine 2 \"quoted\"", 0.1},
        {false, -5, -0.0, std::numeric_limits<std::int32_t>::max(), 0, -3.25e38f,
         std::numeric_limits<std::int64_t>::max(), 9007199254740993u, 32767,
         "Grüße, 你好 🙂 ' -- ;", std::nullopt},
        {false, 0, 1e-300, 0, 2147483648u, 0, 0, 0, 0, std::string(), 12.0},
        {true, 'z', 5.0, 1, 1, 1, 1, 1, 1, std::nullopt, -1e300},
    };
    std::vector<std::uint32_t> ids;
    for (const Row& row : rows) {
        TQDBAllTypes record;
        record.flag = row.flag;
        record.letter = row.letter;
        record.real = row.real;
        record.whole = row.whole;
        record.unsignedWhole = row.unsignedWhole;
        record.single = row.single;
        record.wide = row.wide;
        record.unsignedWide = row.unsignedWide;
        record.narrow = row.narrow;
        record.text = row.text;
        record.number = row.number;
        ASSERT_TRUE(record.save());
        ASSERT_NE(record.ID(), 0u);
        ids.push_back(record.ID());
    }
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const auto read = TQDBAllTypes::getById(ids[i]);
        ASSERT_TRUE(read.has_value()) << i;
        const Row& row = rows[i];
        EXPECT_EQ(read->ID(), ids[i]);
        EXPECT_EQ(read->flag, row.flag) << i;
        EXPECT_EQ(read->letter, row.letter) << i;
        EXPECT_EQ(read->real, row.real) << i;
        EXPECT_EQ(read->whole, row.whole) << i;
        EXPECT_EQ(read->unsignedWhole, row.unsignedWhole) << i;
        EXPECT_EQ(read->single, row.single) << i;
        EXPECT_EQ(read->wide, row.wide) << i;
        EXPECT_EQ(read->unsignedWide, row.unsignedWide) << i;
        EXPECT_EQ(read->narrow, row.narrow) << i;
        EXPECT_EQ(read->text, row.text) << i;
        EXPECT_EQ(read->number, row.number) << i;
    }
    // SQLite's own shell sees the same: numbers as numbers of their column's type, texts as
    // written, a missing text as NULL.
    EXPECT_EQ(shell("SELECT typeof(flag), typeof(letter), typeof(real), typeof(whole), "
                    "typeof(unsignedWhole), typeof(wide), typeof(text), typeof(number) FROM "
                    "TQDBAllTypes WHERE ID = " +
                    std::to_string(ids[0])),
              std::vector<std::string>{"integer|text|real|integer|integer|integer|text|real"});
    EXPECT_EQ(shell("SELECT unsignedWhole, wide, hex(text) FROM TQDBAllTypes WHERE ID = " +
                    std::to_string(ids[0])),
              std::vector<std::string>{"4294967295|-9223372036854775808|" + hex(*rows[0].text)});
    EXPECT_EQ(shell("SELECT hex(text) FROM TQDBAllTypes WHERE ID = " + std::to_string(ids[1])),
              std::vector<std::string>{hex(*rows[1].text)});
    EXPECT_EQ(shell("SELECT count(*) FROM TQDBAllTypes WHERE text IS NULL"),
              std::vector<std::string>{"1"});
}

TEST_F(TQDBStoreTest, ANoneTextIsLeftOutOfTheStatement) {
    TQDBGeneralMessage message = text(1, "first", "M");
    ASSERT_TRUE(message.save());
    message.body.reset();
    message.checked = 9;
    ASSERT_TRUE(message.save());
    // Out of the update too: the stored text stays.
    const auto read = TQDBGeneralMessage::getById(message.ID());
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->body, "first");
    EXPECT_EQ(read->checked, 9);
    EXPECT_EQ(log_->after("formUpdateQueryGivenId: ").back(),
              "UPDATE TQDBGeneralMessage SET _id = '1', checked = '9', model_number = 'M' WHERE "
              "ID='" +
                  std::to_string(message.ID()) + "' ");

    TQDBGeneralMessage empty;
    ASSERT_TRUE(empty.save());
    const auto none = TQDBGeneralMessage::getById(empty.ID());
    ASSERT_TRUE(none.has_value());
    EXPECT_EQ(none->body, std::nullopt);
    EXPECT_EQ(none->modelNumber, std::nullopt);
}

TEST_F(TQDBStoreTest, TheStatementsRunAreTheOnesLogged) {
    TQDBLog log;
    log.encBodyStr = "it's";
    ASSERT_TRUE(log.save());
    EXPECT_EQ(TQDBLog::count(), 1);
    EXPECT_EQ(log_->after("formInsertQuery: "),
              std::vector<std::string>{"INSERT INTO TQDBLog (enc_body_str) VALUES ('it''s')"});
    EXPECT_EQ(log_->after("formCountQuery: "),
              std::vector<std::string>{"SELECT COUNT(*) AS countResult FROM TQDBLog"});
    EXPECT_TRUE(log_->logged("Table Created/Found: TQDBLog\n"));
    EXPECT_EQ(shell("SELECT ID, enc_body_str FROM TQDBLog"),
              std::vector<std::string>{std::to_string(log.ID()) + "|it's"});
}

TEST_F(TQDBStoreTest, SavingARecordWhoseRowWentFails) {
    TQDBGeneralMessage message = text(1, "a", "M");
    ASSERT_TRUE(message.save());
    const std::uint32_t id = message.ID();
    ASSERT_TRUE(TQDBGeneralMessage::removeByID(id));
    message.body = "b";
    EXPECT_FALSE(message.save());
    EXPECT_EQ(message.ID(), id);
    EXPECT_TRUE(
        log_->logged("TQDBManagerImpl: save failed:  no row with ID " + std::to_string(id)));
    EXPECT_FALSE(TQDBGeneralMessage::getAll().has_value());
}

TEST_F(TQDBStoreTest, KeptStatementsFollowATableMadeAgainWithItsColumnsMoved) {
    TQDBGeneralMessage first = text(1, "a", "M");
    ASSERT_TRUE(first.save());
    ASSERT_TRUE(TQDBGeneralMessage::getById(first.ID()).has_value());
    // The statements kept for the table hold no lock on it, so it can go at once.
    ASSERT_TRUE(engine_.rawDeleteQuery("DROP TABLE TQDBGeneralMessage"));
    ASSERT_TRUE(engine_.createTable(
        "CREATE TABLE TQDBGeneralMessage (model_number TEXT, extra TEXT DEFAULT 'x', body TEXT, "
        "checked INTEGER, _id INTEGER, ID INTEGER PRIMARY KEY)"));
    TQDBGeneralMessage second = text(2, "b", "N");
    ASSERT_TRUE(second.save());
    const auto read = TQDBGeneralMessage::getById(second.ID());
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->templateId, 2);
    EXPECT_EQ(read->body, "b");
    EXPECT_EQ(read->modelNumber, "N");
    EXPECT_EQ(shell("SELECT * FROM TQDBGeneralMessage"),
              std::vector<std::string>{"N|x|b|2|2|" + std::to_string(second.ID())});
    second.body = "c";
    ASSERT_TRUE(second.save());
    EXPECT_EQ(TQDBGeneralMessage::getById(second.ID())->body, "c");
    ASSERT_TRUE(second.remove());
    EXPECT_FALSE(TQDBGeneralMessage::getAll().has_value());
}

TEST_F(TQDBStoreTest, KeptStatementsOfATableThatWentFailUntilItIsBack) {
    TQDBGeneralMessage message = text(1, "a", "M");
    ASSERT_TRUE(message.save());
    const std::uint32_t id = message.ID();
    ASSERT_TRUE(engine_.rawDeleteQuery("DROP TABLE TQDBGeneralMessage"));
    EXPECT_FALSE(TQDBGeneralMessage::getById(id).has_value());
    EXPECT_FALSE(message.save());
    EXPECT_FALSE(text(2, "b", "M").save());
    ASSERT_TRUE(TQDBManager::getSharedInstance().createModel(TQDBGeneralMessage::tableSchema()));
    TQDBGeneralMessage again = text(3, "c", "M");
    ASSERT_TRUE(again.save());
    const auto read = TQDBGeneralMessage::getById(again.ID());
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->body, "c");
}

TEST_F(TQDBStoreTest, ARowCallbackMayUseTheStoreWhileItsKeptStatementRuns) {
    TQDBGeneralMessage first = text(1, "a", "M");
    TQDBGeneralMessage second = text(2, "b", "M");
    ASSERT_TRUE(first.save());
    ASSERT_TRUE(second.save());
    std::string wide = "CREATE TABLE Wide (ID INTEGER PRIMARY KEY";
    for (std::size_t i = 0; i <= TQDBStatementCache::kCapacity; ++i) {
        wide += ", c" + std::to_string(i);
    }
    ASSERT_TRUE(engine_.createTable(wide + ")"));
    struct Case {
        std::string what;
        std::function<void()> meanwhile;
    };
    const std::vector<Case> cases{
        {"reads another row with the same statement",
         [&] {
             const auto other = TQDBGeneralMessage::getById(second.ID());
             ASSERT_TRUE(other.has_value());
             EXPECT_EQ(other->body, "b");
         }},
        {"runs more other statements than the store keeps",
         [&] {
             for (std::size_t i = 0; i <= TQDBStatementCache::kCapacity; ++i) {
                 EXPECT_TRUE(engine_.insert(
                     "Wide", {{"c" + std::to_string(i), static_cast<std::int64_t>(i)}}));
             }
         }},
    };
    for (const auto& [what, meanwhile] : cases) {
        SCOPED_TRACE(what);
        int rows = 0;
        TQDBGeneralMessage read;
        EXPECT_TRUE(engine_.readRowsById(TQDBGeneralMessage::tableSchema().table, first.ID(),
                                         [&](const TQDBResultRow& row) {
                                             ++rows;
                                             meanwhile();
                                             row.fill(read);
                                         }));
        EXPECT_EQ(rows, 1);
        EXPECT_EQ(read.ID(), first.ID());
        EXPECT_EQ(read.body, "a");
    }
}

TEST_F(TQDBStoreTest, BoundValuesAreStoredAsTheirLiteralsWere) {
    // A column without a type keeps what it is given: a quoted number stays text.
    ASSERT_TRUE(engine_.createTable("CREATE TABLE Loose (ID INTEGER PRIMARY KEY, a, b, c, d)"));
    TQDBManager store = TQDBManager::getSharedInstance();
    ASSERT_TRUE(store.insert("Loose", {{"a", std::int64_t{7}},
                                       {"b", 2.5},
                                       {"c", std::numeric_limits<double>::infinity()},
                                       {"d", std::numeric_limits<double>::quiet_NaN()}}));
    ASSERT_TRUE(store.insert("Loose", {{"a", "it's"}, {"b", nullptr}}));
    EXPECT_EQ(shell("SELECT typeof(a), a, typeof(b), b, typeof(c), typeof(d) FROM Loose"),
              (std::vector<std::string>{"text|7|text|2.5|text|null", "text|it's|null||null|null"}));
}

TEST_F(TQDBStoreTest, AnInfinityIsStoredTheSameBoundAsFromItsLiteral) {
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    struct Case {
        std::string type;
        double value;
        std::string stored;
    };
    const std::vector<Case> cases{
        {"", kInfinity, "text|'9e999'"},     {"", -kInfinity, "text|'-9e999'"},
        {"TEXT", kInfinity, "text|'9e999'"}, {"TEXT", -kInfinity, "text|'-9e999'"},
        {"REAL", kInfinity, "real|Inf"},     {"REAL", -kInfinity, "real|-Inf"},
    };
    TQDBManager store = TQDBManager::getSharedInstance();
    for (const auto& [type, value, stored] : cases) {
        SCOPED_TRACE(type + " " + std::to_string(value));
        ASSERT_TRUE(engine_.rawDeleteQuery("DROP TABLE IF EXISTS Typed"));
        ASSERT_TRUE(
            engine_.createTable("CREATE TABLE Typed (ID INTEGER PRIMARY KEY, v " + type + ")"));
        const TQDBRow row{{"v", value}};
        const auto literal = TQDBQueryBuilder::formInsertQuery("Typed", row);
        ASSERT_TRUE(literal);
        ASSERT_TRUE(engine_.rawDeleteQuery(*literal));
        ASSERT_TRUE(store.insert("Typed", row));
        EXPECT_EQ(shell("SELECT typeof(v) || '|' || quote(v) FROM Typed ORDER BY ID"),
                  (std::vector<std::string>{stored, stored}));
    }
}

TEST_F(TQDBStoreTest, SaveAsNewMovesTheRecordToANewRowAndRemoveClearsItsID) {
    TQDBGeneralMessage message = text(1, "a", "M");
    ASSERT_TRUE(message.save());
    const std::uint32_t first = message.ID();
    ASSERT_TRUE(message.saveAsNew());
    EXPECT_NE(message.ID(), first);
    EXPECT_EQ(TQDBGeneralMessage::count(std::nullopt, {}, false), 2u);
    ASSERT_TRUE(message.remove());
    EXPECT_EQ(message.ID(), 0u);
    EXPECT_EQ(TQDBGeneralMessage::count(std::nullopt, {}, false), 1u);
}

TEST_F(TQDBStoreTest, RemovingSeveralSucceedsOnlyWhenEveryRemoveDid) {
    std::vector<TQDBGeneralMessage> messages{text(1, "a", "M"), text(2, "b", "M")};
    for (auto& message : messages) {
        ASSERT_TRUE(message.save());
    }
    EXPECT_TRUE(TQDBGeneralMessage::removeEntities(messages));
    EXPECT_FALSE(TQDBGeneralMessage::getAll().has_value());

    // A record of a class whose table does not exist cannot be removed.
    std::vector<TQDBKavoApp> apps(2);
    apps[1].setID(4);
    EXPECT_FALSE(TQDBKavoApp::removeEntities(apps));
    EXPECT_FALSE(TQDBKavoApp::remove("appPath = ?", {"x.wapp"}));
}

TEST_F(TQDBStoreTest, AValueEqualToAColumnNameIsText) {
    setModel("body");
    ASSERT_TRUE(text(1, "body", "body").save());
    setModel("M");
    ASSERT_TRUE(text(2, "other", "M").save());
    // Unquoted or double-quoted, 'body' would name the column and match every row.
    setModel("body");
    ASSERT_TRUE(TQDBGeneralMessage::deleteForThisModelNumber());
    setModel("M");
    const auto left = TQDBGeneralMessage::getAllForThisModelNumber();
    ASSERT_TRUE(left.has_value());
    ASSERT_EQ(left->size(), 1u);
    EXPECT_EQ(left->front().body, "other");
}

TEST_F(TQDBStoreTest, ATransactionCommitsTogetherOrNotAtAll) {
    const bool committed =
        engine_.transaction([] { return text(1, "a", "M").save() && text(2, "b", "M").save(); });
    EXPECT_TRUE(committed);
    EXPECT_EQ(shell("SELECT count(*) FROM TQDBGeneralMessage"), std::vector<std::string>{"2"});

    // A failing statement inside rolls back the rows saved before it.
    const bool failed = engine_.transaction([] {
        TQDBGeneralMessage gone = text(3, "c", "M");
        gone.setID(999);
        text(4, "d", "M").save();
        gone.save();
        return true;
    });
    EXPECT_FALSE(failed);
    // The caller's own no rolls back too.
    EXPECT_FALSE(engine_.transaction([] { return text(5, "e", "M").save() && false; }));
    EXPECT_EQ(shell("SELECT count(*) FROM TQDBGeneralMessage"), std::vector<std::string>{"2"});
}

TEST_F(TQDBStoreTest, ARawBeginNeverLeavesATransactionOpen) {
    EXPECT_FALSE(TQDBGeneralMessage::rawQuery("BEGIN").has_value());
    ASSERT_TRUE(text(1, "a", "M").save());
    // Had BEGIN stayed open, the row would not be in the file for another connection.
    EXPECT_EQ(shell("SELECT count(*) FROM TQDBGeneralMessage"), std::vector<std::string>{"1"});
    EXPECT_FALSE(TQDBGeneralMessage::rawQuery("COMMIT").has_value());
    // Nor can a raw COMMIT end the transaction it runs in.
    EXPECT_FALSE(engine_.transaction([] {
        const bool saved = text(2, "b", "M").save();
        TQDBGeneralMessage::rawQuery("COMMIT");
        return saved;
    }));
    EXPECT_EQ(shell("SELECT count(*) FROM TQDBGeneralMessage"), std::vector<std::string>{"1"});
}

TEST_F(TQDBStoreTest, NothingToWriteFailsRatherThanRunningBrokenText) {
    TQDBManager store = TQDBManager::getSharedInstance();
    EXPECT_FALSE(store.insert("TQDBLog", {}));
    EXPECT_FALSE(store.update("TQDBLog", {}, "ID = ?", {std::int64_t{1}}));
    TQDBLog none;  // its only property is a none text
    EXPECT_FALSE(none.save());
    EXPECT_EQ(none.ID(), 0u);
    EXPECT_TRUE(log_->logged("TQDBManagerImpl: saveAsNew failed:  nothing to insert into TQDBLog"));
}

TEST_F(TQDBStoreTest, TheLogQueueIsFirstInFirstOut) {
    EXPECT_FALSE(TQDBLog::getFirstLog().has_value());
    EXPECT_TRUE(TQDBLog::deleteFirstLog());
    for (const char* body : {"A", "B", "C"}) {
        TQDBLog log;
        log.encBodyStr = body;
        ASSERT_TRUE(log.save());
    }
    EXPECT_EQ(TQDBLog::getFirstLog()->encBodyStr, "A");
    EXPECT_TRUE(TQDBLog::deleteLastLog());
    EXPECT_EQ(TQDBLog::count(), 2);
    EXPECT_TRUE(TQDBLog::deleteFirstLog());
    EXPECT_EQ(TQDBLog::getFirstLog()->encBodyStr, "B");
}

TEST_F(TQDBStoreTest, PerModelOperationsTouchOnlyTheCurrentModel) {
    // No model known: empty lists, nothing deleted.
    const auto unknown = TQDBGeneralMessage::getAllForThisModelNumber();
    ASSERT_TRUE(unknown.has_value());
    EXPECT_TRUE(unknown->empty());
    setModel("A");
    EXPECT_FALSE(TQDBGeneralMessage::getAllForThisModelNumber().has_value());
    for (auto message : {text(3, "a3", "A"), text(1, "a1", "A"), text(3, "b3", "B")}) {
        ASSERT_TRUE(message.save());
    }
    const auto mine = TQDBGeneralMessage::getAllForThisModelNumber();
    ASSERT_TRUE(mine.has_value());
    ASSERT_EQ(mine->size(), 2u);
    EXPECT_EQ((*mine)[0].body, "a1");

    ASSERT_TRUE(TQDBGeneralMessage::updateForThisModelNumber(
        {{"_id", std::int64_t{3}}, {"checked", std::int64_t{0}}, {"body", "Hello"}}));
    EXPECT_EQ(log_->after("formUpdateQuery: ").back(),
              "UPDATE TQDBGeneralMessage SET _id = '3', checked = '0', body = 'Hello'  WHERE _id "
              "= '3' and model_number = 'A'");
    EXPECT_EQ(shell("SELECT model_number, body FROM TQDBGeneralMessage WHERE _id = 3 ORDER BY "
                    "model_number"),
              (std::vector<std::string>{"A|Hello", "B|b3"}));
    EXPECT_FALSE(TQDBGeneralMessage::updateForThisModelNumber({{"body", "no id"}}));

    ASSERT_TRUE(TQDBGeneralMessage::deleteForThisModelNumber());
    EXPECT_EQ(shell("SELECT model_number FROM TQDBGeneralMessage"), std::vector<std::string>{"B"});
}

TEST_F(TQDBStoreTest, BuddyNumbersOfAContact) {
    TQDBManager::getSharedInstance().createModel(TQDBuddyNumber::tableSchema());
    setModel("A");
    for (const auto& [contact, number, model] :
         {std::tuple{12, "+1 555", "A"}, {12, "+1 556", "B"}, {13, "+1 557", "A"}}) {
        TQDBuddyNumber record;
        record.contactId = contact;
        record.number = number;
        record.modelNumber = model;
        ASSERT_TRUE(record.save());
    }
    const auto numbers = TQDBuddyNumber::getAllForThisModelNumberWithContactId(12);
    ASSERT_TRUE(numbers.has_value());
    ASSERT_EQ(numbers->size(), 1u);
    EXPECT_EQ(numbers->front().number, "+1 555");
    EXPECT_EQ(log_->after("formSelectQuery: ").back(),
              "SELECT * FROM TQDBuddyNumber WHERE model_number = 'A' and contact_id = '12'");
    ASSERT_TRUE(TQDBuddyNumber::deleteForThisModelNumberByContactId(12));
    EXPECT_EQ(shell("SELECT contact_id, model_number FROM TQDBuddyNumber ORDER BY ID"),
              (std::vector<std::string>{"12|B", "13|A"}));
}

TEST_F(TQDBStoreTest, ReadsGiveNothingRatherThanAnEmptyList) {
    EXPECT_FALSE(
        TQDBGeneralMessage::query({}, "body = ?", {"none"}, std::nullopt, 0, 10).has_value());
    EXPECT_EQ(TQDBManager::getSharedInstance().rawSelectQuery("SELECT * FROM TQDBLog"),
              std::nullopt);
    // A table that does not exist counts 0.
    EXPECT_EQ(TQDBKavoApp::count(std::nullopt, {}, false), 0u);
    // Columns that name no property are passed over.
    ASSERT_TRUE(text(1, "a", "M").save());
    const auto extra = TQDBGeneralMessage::rawQuery(
        "SELECT *, 'x' AS unknown, NULL AS checked FROM TQDBGeneralMessage");
    ASSERT_TRUE(extra.has_value());
    EXPECT_EQ(extra->front().body, "a");
    EXPECT_EQ(extra->front().checked, 1);
}

TEST_F(TQDBStoreTest, TheFacadeReadsDictionariesAndPages) {
    for (int i = 1; i <= 4; ++i) {
        ASSERT_TRUE(text(i, "t" + std::to_string(i), "M").save());
    }
    TQDBManager store = TQDBManager::getSharedInstance();
    const auto page = store.query("TQDBGeneralMessage", std::vector<std::string>{"body"},
                                  std::nullopt, {}, "checked DESC", 1, 2);
    ASSERT_TRUE(page.has_value());
    ASSERT_EQ(page->size(), 2u);
    EXPECT_EQ((*page)[0], (platform::Dictionary{{"body", "t3"}}));
    EXPECT_EQ((*page)[1], (platform::Dictionary{{"body", "t2"}}));
    EXPECT_TRUE(store.insert("TQDBLog", {{"enc_body_str", "x"}}));
    EXPECT_EQ(store.getLastInsertId(), 1);
}

TEST_F(TQDBStoreTest, AJoinTableIsMadeOncePerPair) {
    TQDBManager store = TQDBManager::getSharedInstance();
    EXPECT_TRUE(store.createRelationship(1, "TQDBBuddy", "TQDBuddyNumber", {}));
    EXPECT_EQ(store.getJoinTableName("TQDBBuddy", "TQDBuddyNumber"), std::nullopt);
    const TQDBColumnDef extra[] = {{"note", "TEXT"}};
    EXPECT_TRUE(store.createRelationship(2, "TQDBBuddy", "TQDBuddyNumber", extra));
    EXPECT_FALSE(store.createRelationship(2, "TQDBBuddy", "TQDBuddyNumber", extra));
    EXPECT_FALSE(store.createRelationship(2, "TQDBuddyNumber", "TQDBBuddy", {}));
    EXPECT_EQ(store.getJoinTableName("TQDBuddyNumber", "TQDBBuddy"), "TQDBBuddy_TQDBuddyNumber");
    EXPECT_FALSE(store.createRelationship(3, "A", "B", {}));
    EXPECT_EQ(shell("SELECT sql FROM sqlite_master WHERE name = 'TQDBBuddy_TQDBuddyNumber'"),
              std::vector<std::string>{"CREATE TABLE TQDBBuddy_TQDBuddyNumber (ID INTEGER "
                                       "PRIMARY KEY,`tqdbbuddyID` INTEGER,`tqdbuddynumberID` "
                                       "INTEGER,`note` TEXT)"});
}

}  // namespace
}  // namespace db_test
