#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "db/TQDBQueryBuilder.h"
#include "db/TQDBSchema.h"
#include "db/TQDBStatementCache.h"
#include "platform/foundation/Replaceable.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"
#include "platform/sql/SqlConnection.h"

class TQDBObject;

// One row of a result, read into a record by the names of its columns.
class TQDBResultRow {
public:
    explicit TQDBResultRow(const platform::sql::Statement& statement) : statement_(statement) {}
    // Sets the record's ID from the "ID" column and each stored property from the column of
    // its name; columns that name no property are passed over, and a NULL sets only the
    // properties that can be none.
    void fill(TQDBObject& record) const;
    [[nodiscard]] const platform::sql::Statement& statement() const { return statement_; }

private:
    const platform::sql::Statement& statement_;
};

// The object store's engine over the database file. It keeps one connection, opened at the
// first operation (and again after a failed open), and lets one operation at a time use it:
// operations may come from any thread. An operation runs its statement to the end before the
// next begins; outside transaction() each statement commits by itself, and a transaction a
// raw statement leaves open is rolled back at once.
class TQDBManagerImpl : public platform::Replaceable<TQDBManagerImpl> {
public:
    using Args = TQDBQueryBuilder::Args;

    static constexpr std::string_view kFileName = "TQA_DB.db";

    explicit TQDBManagerImpl(std::filesystem::path databasePath);
    ~TQDBManagerImpl();
    TQDBManagerImpl(const TQDBManagerImpl&) = delete;
    TQDBManagerImpl& operator=(const TQDBManagerImpl&) = delete;

    // The installed engine, else one over "TQA_DB.db" in the current container's Documents,
    // made once on first use.
    static TQDBManagerImpl& getSharedInstance();

    [[nodiscard]] const std::filesystem::path& databasePath() const { return databasePath_; }

    bool createTable(std::string_view text);
    // The record class's table, when it does not exist yet; an existing table is not altered.
    bool createModel(const TQDBSchema& schema);
    // Kind 0 and 1: nothing to make. Kind 2: the join table "<class1>_<class2>", once per pair
    // (in either order) in this run. Other kinds fail.
    bool createRelationship(int kind, std::string_view class1, std::string_view class2,
                            std::span<const TQDBColumnDef> extraColumns);
    [[nodiscard]] std::optional<std::string> getJoinTableName(std::string_view class1,
                                                              std::string_view class2) const;

    // A record never stored is inserted; a stored one updates its row, and fails (logged) when
    // that row is gone.
    bool save(TQDBObject& record);
    // Always a new row; the record's ID moves to it.
    bool saveAsNew(TQDBObject& record);
    // Deletes the record's row and sets its ID to 0.
    bool remove(TQDBObject& record);
    bool update(std::string_view table, const TQDBRow& values,
                std::optional<std::string_view> where, const Args& whereArgs);
    bool insert(std::string_view table, const TQDBRow& values);
    bool remove(std::string_view table, std::optional<std::string_view> where,
                const Args& whereArgs);
    // Of the connection's last insert; 0 before any.
    [[nodiscard]] std::int64_t getLastInsertId();

    // Reads the rows of text into records of Record: nothing when no row came or the statement
    // failed.
    template <typename Record>
    std::optional<std::vector<Record>> rawSelectQuery(std::string_view text) {
        std::vector<Record> records;
        const bool ran = readRows(text, [&](const TQDBResultRow& row) {
            Record record;
            row.fill(record);
            records.push_back(std::move(record));
        });
        if (!ran || records.empty()) {
            return std::nullopt;
        }
        return records;
    }
    template <typename Record>
    std::optional<Record> getById(std::int64_t id) {
        std::optional<Record> found;
        const bool ran =
            readRowsById(Record::tableSchema().table, id, [&](const TQDBResultRow& row) {
                if (!found) {
                    found.emplace();
                    row.fill(*found);
                }
            });
        if (!ran) {
            return std::nullopt;
        }
        return found;
    }
    // Each row as a dictionary of column name to text; a NULL column has no entry.
    std::optional<std::vector<platform::Dictionary>> rawSelectQuery(std::string_view text);
    // Runs any statement that returns no row.
    bool rawDeleteQuery(std::string_view text);
    // The first column of the first row as a whole number; 0 when there is none.
    std::uint32_t rawCountQuery(std::string_view text);

    // Each row of the statement, or of the table's row with the ID, given to onRow as it is
    // stepped; false when the statement failed. onRow may use the store again on this thread,
    // the same statement included.
    bool readRows(std::string_view text, const std::function<void(const TQDBResultRow&)>& onRow);
    bool readRowsById(std::string_view table, std::int64_t id,
                      const std::function<void(const TQDBResultRow&)>& onRow);

    // Runs body's operations as one transaction on this connection, while other threads wait:
    // committed when body returns true and every statement in it succeeded, else rolled back.
    // Nested calls join the outer transaction.
    bool transaction(const std::function<bool()>& body);

private:
    // Each is called with mutex_ held.
    platform::sql::Connection* connectionLocked();
    // A statement that returns no row; the rows it changed.
    platform::Result<std::int64_t> writeLocked(std::string_view text);
    platform::Result<void> readLocked(std::string_view text,
                                      const std::function<void(const TQDBResultRow&)>& onRow);
    // The same for a kept statement of the builder's, with the values of the row (ID left out)
    // and then the ID bound to its parameters.
    platform::Result<std::int64_t> writeKeptLocked(std::string_view text, const TQDBRow& values,
                                                   std::optional<std::int64_t> id);
    platform::Result<void> readKeptLocked(std::string_view text, std::int64_t id,
                                          const std::function<void(const TQDBResultRow&)>& onRow);
    // After each statement: outside transaction() no transaction may stay open, inside it the
    // transaction must still be open.
    platform::Result<void> settleLocked(platform::Result<void> outcome);

    const std::filesystem::path databasePath_;
    // Recursive: transaction() holds it while its body runs the store's own operations.
    mutable std::recursive_mutex mutex_;
    std::optional<platform::sql::Connection> connection_;
    // After the connection: its statements go first.
    TQDBStatementCache statements_;
    int transactionDepth_ = 0;
    bool failedInTransaction_ = false;
    std::map<std::string, std::string, std::less<>> relationships_;
};
