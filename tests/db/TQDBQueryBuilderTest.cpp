#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "db/TQDBQueryBuilder.h"
#include "db/TQDBRecords.h"

namespace {

using B = TQDBQueryBuilder;
using platform::Result;

struct Case {
    const char* what;
    std::function<Result<std::string>()> build;
    const char* text;
};

Result<std::string> text(std::string value) {
    return value;
}

// Every statement the application's records and services issue, with values that would break
// a statement whose literals were not quoted.
const std::vector<Case>& applicationStatements() {
    static const std::vector<Case> cases{
        {"log table",
         [] { return text(B::formCreateTableQuery("TQDBLog", TQDBLog::tableSchema().columns())); },
         "CREATE TABLE IF NOT EXISTS TQDBLog (ID INTEGER PRIMARY KEY,`enc_body_str` TEXT)"},
        {"general message table",
         [] {
             return text(B::formCreateTableQuery("TQDBGeneralMessage",
                                                 TQDBGeneralMessage::tableSchema().columns()));
         },
         "CREATE TABLE IF NOT EXISTS TQDBGeneralMessage (ID INTEGER PRIMARY KEY,`_id` "
         "INTEGER,`checked` INTEGER,`body` TEXT,`model_number` TEXT)"},
        {"buddy table",
         [] {
             return text(B::formCreateTableQuery("TQDBBuddy", TQDBBuddy::tableSchema().columns()));
         },
         "CREATE TABLE IF NOT EXISTS TQDBBuddy (ID INTEGER PRIMARY KEY,`contact_id` "
         "INTEGER,`display_name` TEXT,`first_name` TEXT,`last_name` TEXT,`middle_name` "
         "TEXT,`sort_order` INTEGER,`modification_date` REAL,`company` TEXT,`photo_data` "
         "TEXT,`isFavorite` INTEGER,`hasPhoto` INTEGER,`model_number` TEXT)"},
        {"buddy number table",
         [] {
             return text(B::formCreateTableQuery("TQDBuddyNumber",
                                                 TQDBuddyNumber::tableSchema().columns()));
         },
         "CREATE TABLE IF NOT EXISTS TQDBuddyNumber (ID INTEGER PRIMARY KEY,`contact_id` "
         "INTEGER,`number` TEXT,`type` INTEGER,`model_number` TEXT)"},
        {"templates of a model",
         [] {
             return B::formSelectQuery("TQDBGeneralMessage", {}, "model_number = ?", {"M'1"},
                                       "checked ASC", std::nullopt);
         },
         "SELECT * FROM TQDBGeneralMessage WHERE model_number = 'M''1' ORDER BY checked ASC"},
        {"buddies in order",
         [] {
             return B::formSelectQuery("TQDBBuddy", {}, "model_number = ?", {"SM-R5"},
                                       "sort_order ASC", std::nullopt);
         },
         "SELECT * FROM TQDBBuddy WHERE model_number = 'SM-R5' ORDER BY sort_order ASC"},
        {"numbers of a contact",
         [] {
             return B::formSelectQuery("TQDBuddyNumber", {}, "model_number = ? and contact_id = ?",
                                       {"SM-R5", "12"}, std::nullopt, std::nullopt);
         },
         "SELECT * FROM TQDBuddyNumber WHERE model_number = 'SM-R5' and contact_id = '12'"},
        {"all, with columns and a page",
         [] {
             return B::formSelectQuery("T", std::vector<std::string>{"a", "b"}, std::nullopt, {},
                                       std::nullopt, B::limitText(std::nullopt, 5));
         },
         "SELECT a, b FROM T LIMIT 0, 5"},
        {"all", [] { return B::formSelectQuery("TQDBLog", {}, {}, {}, {}, {}); },
         "SELECT * FROM TQDBLog"},
        {"by ID", [] { return text(B::formSelectQueryGivenId("TQDBLog", 7)); },
         "SELECT * FROM TQDBLog WHERE ID='7'"},
        {"new log",
         [] {
             return B::formInsertQuery("TQDBLog", {{"enc_body_str", "0a1b"}});
         },
         "INSERT INTO TQDBLog (enc_body_str) VALUES ('0a1b')"},
        {"new template, the last name bare",
         [] {
             return B::formInsertQuery("TQDBGeneralMessage", {{"_id", std::int64_t{0}},
                                                              {"checked", std::int64_t{0}},
                                                              {"body", "How's it going?"},
                                                              {"model_number", "body"}});
         },
         "INSERT INTO TQDBGeneralMessage (`_id`, `checked`, `body`, model_number) VALUES ('0', "
         "'0', 'How''s it going?', 'body')"},
        {"a real at round-trip precision",
         [] {
             return B::formInsertQuery("TQDBBuddy", {{"modification_date", 1700000000.123456},
                                                     {"sort_order", std::int64_t{-3}}});
         },
         "INSERT INTO TQDBBuddy (`modification_date`, sort_order) VALUES ('1700000000.123456', "
         "'-3')"},
        {"saved again",
         [] {
             return B::formUpdateQueryGivenId("TQDBGeneralMessage",
                                              {{"_id", std::int64_t{3}}, {"body", "\"; DROP"}}, 7);
         },
         "UPDATE TQDBGeneralMessage SET _id = '3', body = '\"; DROP' WHERE ID='7' "},
        {"template edit, the caller's order",
         [] {
             return B::formUpdateQuery(
                 "TQDBGeneralMessage",
                 {{"_id", std::int64_t{3}}, {"checked", std::int64_t{1}}, {"body", "Hello"}},
                 "_id = ? and model_number = ?", {std::int64_t{3}, "SM-R5"});
         },
         "UPDATE TQDBGeneralMessage SET _id = '3', checked = '1', body = 'Hello'  WHERE _id = "
         "'3' and model_number = 'SM-R5'"},
        {"a model's rows",
         [] { return B::formDeleteQuery("TQDBBuddy", "model_number = ?", {"model_number"}); },
         "DELETE FROM TQDBBuddy  WHERE model_number = 'model_number'"},
        {"a contact's numbers",
         [] {
             return B::formDeleteQuery("TQDBuddyNumber", "contact_id = ? and model_number = ?",
                                       {"12", "SM-R5"});
         },
         "DELETE FROM TQDBuddyNumber  WHERE contact_id = '12' and model_number = 'SM-R5'"},
        {"an application file",
         [] { return B::formDeleteQuery("TQDBKavoApp", "appPath = ?", {"/Documents/it's?.wapp"}); },
         "DELETE FROM TQDBKavoApp  WHERE appPath = '/Documents/it''s?.wapp'"},
        {"every row", [] { return B::formDeleteQuery("TQDBLog", std::nullopt, {}); },
         "DELETE FROM TQDBLog "},
        {"by ID, removed", [] { return text(B::formDeleteQueryGivenId("TQDBLog", 7)); },
         "DELETE FROM TQDBLog WHERE ID='7'"},
        {"queued logs",
         [] { return B::formCountQuery("TQDBLog", std::nullopt, std::nullopt, true, {}, {}); },
         "SELECT COUNT(*) AS countResult FROM TQDBLog"},
        {"distinct column", [] { return B::formCountQuery("T", "c", "n", true, "c > ?", {1.5}); },
         "SELECT COUNT(DISTINCT c) AS n FROM T WHERE c > '1.5'"},
        {"join table",
         [] {
             return text(B::formCreateTableQuery(
                 "TQDBBuddy_TQDBuddyNumber",
                 std::vector<TQDBColumnDef>{{"tqdbbuddyID", "INTEGER"}, {"ID", "TEXT"}}));
         },
         "CREATE TABLE IF NOT EXISTS TQDBBuddy_TQDBuddyNumber (ID INTEGER PRIMARY "
         "KEY,`tqdbbuddyID` INTEGER)"},
    };
    return cases;
}

TEST(TQDBQueryBuilderTest, TheApplicationsStatementsQuoteEveryValue) {
    for (const auto& c : applicationStatements()) {
        const auto built = c.build();
        ASSERT_TRUE(built.ok()) << c.what << ": " << built.error().message;
        EXPECT_EQ(*built, c.text) << c.what;
    }
}

TEST(TQDBQueryBuilderTest, ArgumentsAreBoundInOnePassFromTheLeft) {
    struct Bind {
        const char* clause;
        TQDBQueryBuilder::Args args;
        const char* text;  // nullptr: an error
    };
    const Bind binds[] = {
        // Inserted text holding "?" is never scanned again.
        {"a = ? and b = ?", {"?", "x"}, "a = '?' and b = 'x'"},
        {"a = ? or a = ?", {"it's", std::int64_t{-1}}, "a = 'it''s' or a = '-1'"},
        // A "?" in the clause's own literal or quoted name is not a place.
        {"a = '?' and \"b?\" = ?", {"x"}, "a = '?' and \"b?\" = 'x'"},
        {"a IS ?", {nullptr}, "a IS NULL"},
        {"a = 1", {}, "a = 1"},
        {"a = ? and b = ?", {"x"}, nullptr},
        {"a = ?", {"x", "y"}, nullptr},
        {"a = 1", {"x"}, nullptr},
    };
    for (const auto& b : binds) {
        const auto bound = TQDBQueryBuilder::bindArguments(b.clause, b.args);
        if (b.text == nullptr) {
            EXPECT_FALSE(bound.ok()) << b.clause;
        } else {
            ASSERT_TRUE(bound.ok()) << b.clause;
            EXPECT_EQ(*bound, b.text);
        }
    }
    EXPECT_FALSE(TQDBQueryBuilder::formDeleteQuery("T", "a = ?", {}).ok());
    EXPECT_FALSE(TQDBQueryBuilder::formDeleteQuery("T", std::nullopt, {"x"}).ok());
}

TEST(TQDBQueryBuilderTest, NothingToWriteIsAnError) {
    EXPECT_FALSE(TQDBQueryBuilder::formInsertQuery("T", {}).ok());
    EXPECT_FALSE(TQDBQueryBuilder::formInsertQuery("T", {{"ID", std::int64_t{3}}}).ok());
    EXPECT_FALSE(TQDBQueryBuilder::formUpdateQueryGivenId("T", {{"ID", std::int64_t{3}}}, 3).ok());
    EXPECT_FALSE(TQDBQueryBuilder::formUpdateQuery("T", {}, "a = ?", {"x"}).ok());
}

TEST(TQDBQueryBuilderTest, RealsReadBackAsTheSameDouble) {
    for (const double value : {0.1, 1.0 / 3.0, 1e300, -2.5e-310, 1700000000.123456789}) {
        const std::string literal = TQDBQueryBuilder::literal(value);
        ASSERT_GE(literal.size(), 2u);
        EXPECT_EQ(std::strtod(literal.substr(1, literal.size() - 2).c_str(), nullptr), value)
            << literal;
    }
    EXPECT_EQ(TQDBQueryBuilder::literal(std::numeric_limits<double>::quiet_NaN()), "NULL");
    // Quoted like any number, so SQLite reads the overflow only where the affinity is numeric.
    EXPECT_EQ(TQDBQueryBuilder::literal(std::numeric_limits<double>::infinity()), "'9e999'");
    EXPECT_EQ(TQDBQueryBuilder::literal(-std::numeric_limits<double>::infinity()), "'-9e999'");
}

}  // namespace
