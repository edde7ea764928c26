#include "db/TQDBManagerImpl.h"

#include <cctype>
#include <system_error>
#include <utility>

#include "db/TQDBObject.h"
#include "logging/LGLog.h"
#include "platform/foundation/Container.h"

using platform::Error;
using platform::Result;
using platform::sql::ColumnType;

namespace {

constexpr std::string_view kDomain = "TQDBManagerImpl";

TQDBCell cellOf(const platform::sql::Statement& statement, int column) {
    TQDBCell cell;
    switch (statement.columnType(column)) {
        case ColumnType::integer:
            cell.kind = TQDBCell::Kind::integer;
            cell.integer = statement.columnInt64(column);
            break;
        case ColumnType::real:
            cell.kind = TQDBCell::Kind::real;
            cell.real = statement.columnDouble(column);
            break;
        case ColumnType::text:
        case ColumnType::blob:
            cell.kind = TQDBCell::Kind::text;
            break;
        case ColumnType::null:
            return cell;
    }
    // Numbers too, for the text properties that read them.
    cell.text = statement.columnText(column);
    return cell;
}

// BEGIN, COMMIT and their kin: a transaction is transaction()'s, never a raw statement's.
bool isTransactionControl(std::string_view text) {
    const auto start = text.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) {
        return false;
    }
    std::string word;
    for (std::size_t i = start;
         i < text.size() && std::isalpha(static_cast<unsigned char>(text[i])); ++i) {
        word += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
    }
    return word == "BEGIN" || word == "COMMIT" || word == "END" || word == "ROLLBACK" ||
           word == "SAVEPOINT" || word == "RELEASE";
}

Error refused(std::string_view text) {
    LG_VERBOSE("TQDBManagerImpl: %@ refused: a batch runs in transaction()", text);
    return Error{std::string(kDomain), 5, "transaction statements run in transaction()"};
}

Error unopened() {
    return Error{std::string(kDomain), 2, "the database does not open"};
}

// Steps a statement that returns no row to its end.
Result<void> runToEnd(platform::sql::Statement& statement) {
    auto row = statement.step();
    if (!row) {
        return row.error();
    }
    if (*row) {
        return Error{std::string(kDomain), 3, "the statement returned rows"};
    }
    return {};
}

Result<void> eachRow(platform::sql::Statement& statement,
                     const std::function<void(const TQDBResultRow&)>& onRow) {
    const TQDBResultRow row(statement);
    for (;;) {
        auto stepped = statement.step();
        if (!stepped) {
            return stepped.error();
        }
        if (!*stepped) {
            return {};
        }
        onRow(row);
    }
}

using Bindings = std::vector<TQDBQueryBuilder::Binding>;

// The row's values but ID, in order, then the ID: the parameters of the builder's statements.
Bindings bindingsOf(const TQDBRow& values, std::optional<std::int64_t> id) {
    Bindings bindings;
    bindings.reserve(values.size() + 1);
    for (const auto& [name, value] : values) {
        if (name != "ID") {
            bindings.push_back(TQDBQueryBuilder::bindingOf(value));
        }
    }
    if (id) {
        bindings.push_back(TQDBQueryBuilder::bindingOf(TQDBValue(*id)));
    }
    return bindings;
}

// Texts are lent, not copied: the bindings must outlive the statement's run, up to its reset.
Result<void> bindAll(platform::sql::Statement& statement, const Bindings& bindings) {
    int parameter = 0;
    for (const auto& binding : bindings) {
        ++parameter;
        Result<void> bound;
        if (const auto* text = std::get_if<std::string>(&binding)) {
            bound = statement.bindBorrowedText(parameter, *text);
        } else {
            bound = statement.bindNull(parameter);
        }
        if (!bound) {
            return bound;
        }
    }
    return {};
}

bool canBeNone(TQDBType type) {
    return type == TQDBType::String || type == TQDBType::Number;
}

}  // namespace

void TQDBResultRow::fill(TQDBObject& record) const {
    const TQDBSchema& schema = record.schema();
    const int columns = statement_.columnCount();
    for (int column = 0; column < columns; ++column) {
        const std::string_view name = statement_.columnName(column);
        const TQDBCell cell = cellOf(statement_, column);
        if (name == "ID") {
            if (cell.kind != TQDBCell::Kind::null) {
                record.setID(static_cast<std::uint32_t>(cell.integer));
            }
            continue;
        }
        const TQDBProperty* property = schema.find(name);
        if (property == nullptr ||
            (cell.kind == TQDBCell::Kind::null && !canBeNone(property->type))) {
            continue;
        }
        property->set(record, cell);
    }
}

TQDBManagerImpl::TQDBManagerImpl(std::filesystem::path databasePath)
    : databasePath_(std::move(databasePath)) {}

TQDBManagerImpl::~TQDBManagerImpl() = default;

TQDBManagerImpl& TQDBManagerImpl::getSharedInstance() {
    return installedOr([]() -> TQDBManagerImpl& {
        static TQDBManagerImpl fallback(platform::Container::current().documents() / kFileName);
        return fallback;
    });
}

platform::sql::Connection* TQDBManagerImpl::connectionLocked() {
    if (connection_) {
        return &*connection_;
    }
    std::error_code ignored;
    std::filesystem::create_directories(databasePath_.parent_path(), ignored);
    auto opened = platform::sql::Connection::open(databasePath_);
    if (!opened) {
        LG_VERBOSE("TQDBManagerImpl: cannot open %@: %@", databasePath_.string(),
                   opened.error().message);
        return nullptr;
    }
    connection_.emplace(std::move(opened).value());
    return &*connection_;
}

Result<void> TQDBManagerImpl::settleLocked(Result<void> outcome) {
    if (!outcome && transactionDepth_ > 0) {
        failedInTransaction_ = true;
    }
    const bool open = connection_->inTransaction();
    if (transactionDepth_ == 0 && open) {
        LG_VERBOSE("TQDBManagerImpl: rolled back the transaction a statement left open");
        (void)connection_->execute("ROLLBACK");
        return Error{std::string(kDomain), 1, "a transaction belongs in transaction()"};
    }
    if (transactionDepth_ > 0 && !open) {
        failedInTransaction_ = true;
        LG_VERBOSE("TQDBManagerImpl: a statement ended the transaction it ran in");
        return Error{std::string(kDomain), 1, "a transaction belongs in transaction()"};
    }
    return outcome;
}

Result<std::int64_t> TQDBManagerImpl::writeLocked(std::string_view text) {
    auto* connection = connectionLocked();
    if (connection == nullptr) {
        return unopened();
    }
    Result<void> outcome;
    std::int64_t changes = 0;
    if (isTransactionControl(text)) {
        outcome = refused(text);
    } else if (auto statement = connection->prepare(text); !statement) {
        outcome = statement.error();
    } else if (outcome = runToEnd(*statement); outcome) {
        changes = connection->changes();
    }
    if (auto settled = settleLocked(std::move(outcome)); !settled) {
        return settled.error();
    }
    return changes;
}

Result<std::int64_t> TQDBManagerImpl::writeKeptLocked(std::string_view text, const TQDBRow& values,
                                                      std::optional<std::int64_t> id) {
    auto* connection = connectionLocked();
    if (connection == nullptr) {
        return unopened();
    }
    Result<void> outcome;
    std::int64_t changes = 0;
    const Bindings bindings = bindingsOf(values, id);
    if (auto statement = statements_.take(*connection, text); !statement) {
        outcome = statement.error();
    } else {
        outcome = bindAll(**statement, bindings);
        if (outcome) {
            outcome = runToEnd(**statement);
        }
        if (outcome) {
            changes = connection->changes();
        } else {
            statement->failed();
        }
    }
    if (auto settled = settleLocked(std::move(outcome)); !settled) {
        return settled.error();
    }
    return changes;
}

Result<void> TQDBManagerImpl::readLocked(std::string_view text,
                                         const std::function<void(const TQDBResultRow&)>& onRow) {
    auto* connection = connectionLocked();
    if (connection == nullptr) {
        return unopened();
    }
    Result<void> outcome;
    if (isTransactionControl(text)) {
        outcome = refused(text);
    } else if (auto statement = connection->prepare(text); !statement) {
        outcome = statement.error();
    } else {
        outcome = eachRow(*statement, onRow);
    }
    return settleLocked(std::move(outcome));
}

Result<void> TQDBManagerImpl::readKeptLocked(
    std::string_view text, std::int64_t id,
    const std::function<void(const TQDBResultRow&)>& onRow) {
    auto* connection = connectionLocked();
    if (connection == nullptr) {
        return unopened();
    }
    Result<void> outcome;
    const Bindings bindings = bindingsOf({}, id);
    if (auto statement = statements_.take(*connection, text); !statement) {
        outcome = statement.error();
    } else {
        outcome = bindAll(**statement, bindings);
        if (outcome) {
            outcome = eachRow(**statement, onRow);
        }
        if (!outcome) {
            statement->failed();
        }
    }
    return settleLocked(std::move(outcome));
}

bool TQDBManagerImpl::readRows(std::string_view text,
                               const std::function<void(const TQDBResultRow&)>& onRow) {
    std::lock_guard lock(mutex_);
    return readLocked(text, onRow).ok();
}

bool TQDBManagerImpl::readRowsById(std::string_view table, std::int64_t id,
                                   const std::function<void(const TQDBResultRow&)>& onRow) {
    const std::string text = TQDBQueryBuilder::formSelectStatementGivenId(table);
    std::lock_guard lock(mutex_);
    return readKeptLocked(text, id, onRow).ok();
}

bool TQDBManagerImpl::createTable(std::string_view text) {
    std::lock_guard lock(mutex_);
    return writeLocked(text).ok();
}

bool TQDBManagerImpl::createModel(const TQDBSchema& schema) {
    const auto columns = schema.columns();
    const bool created = createTable(TQDBQueryBuilder::formCreateTableQuery(schema.table, columns));
    if (created) {
        LG_VERBOSE("Table Created/Found: %@\n", schema.table);
    } else {
        LG_VERBOSE("Unable to create/find: %@\n", schema.table);
    }
    return created;
}

bool TQDBManagerImpl::createRelationship(int kind, std::string_view class1, std::string_view class2,
                                         std::span<const TQDBColumnDef> extraColumns) {
    if (kind < 2) {
        return true;
    }
    if (kind != 2) {
        return false;
    }
    const std::string name = std::string(class1) + "_" + std::string(class2);
    const std::string reverse = std::string(class2) + "_" + std::string(class1);
    std::lock_guard lock(mutex_);
    if (relationships_.contains(name) || relationships_.contains(reverse)) {
        return false;
    }
    auto lower = [](std::string_view text) {
        std::string out(text);
        for (char& c : out) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return out;
    };
    std::vector<TQDBColumnDef> columns{{lower(class1) + "ID", "INTEGER"},
                                       {lower(class2) + "ID", "INTEGER"}};
    columns.insert(columns.end(), extraColumns.begin(), extraColumns.end());
    if (!writeLocked(TQDBQueryBuilder::formCreateTableQuery(name, columns))) {
        return false;
    }
    relationships_[name] = name;
    relationships_[reverse] = name;
    return true;
}

std::optional<std::string> TQDBManagerImpl::getJoinTableName(std::string_view class1,
                                                             std::string_view class2) const {
    std::lock_guard lock(mutex_);
    const auto found = relationships_.find(std::string(class1) + "_" + std::string(class2));
    if (found == relationships_.end()) {
        return std::nullopt;
    }
    return found->second;
}

bool TQDBManagerImpl::save(TQDBObject& record) {
    if (record.ID() == 0) {
        return saveAsNew(record);
    }
    const TQDBSchema& schema = record.schema();
    const TQDBRow values = schema.values(record);
    auto text = TQDBQueryBuilder::formUpdateStatementGivenId(schema.table, values, record.ID());
    std::lock_guard lock(mutex_);
    Result<std::int64_t> changed =
        text ? writeKeptLocked(*text, values, record.ID()) : Result<std::int64_t>(text.error());
    if (changed && *changed == 0) {
        // The row went meanwhile: nothing was stored.
        changed = Error{std::string(kDomain), 4, "no row with ID " + std::to_string(record.ID())};
        if (transactionDepth_ > 0) {
            failedInTransaction_ = true;
        }
    }
    if (!changed) {
        LG_VERBOSE("TQDBManagerImpl: save failed:  %s", changed.error().message);
        return false;
    }
    return true;
}

bool TQDBManagerImpl::saveAsNew(TQDBObject& record) {
    const TQDBSchema& schema = record.schema();
    const TQDBRow values = schema.values(record);
    auto text = TQDBQueryBuilder::formInsertStatement(schema.table, values);
    std::lock_guard lock(mutex_);
    const Result<std::int64_t> inserted =
        text ? writeKeptLocked(*text, values, std::nullopt) : Result<std::int64_t>(text.error());
    if (!inserted) {
        LG_VERBOSE("TQDBManagerImpl: saveAsNew failed:  %s", inserted.error().message);
        return false;
    }
    record.setID(static_cast<std::uint32_t>(connection_->lastInsertRowId()));
    return true;
}

bool TQDBManagerImpl::remove(TQDBObject& record) {
    const auto text = TQDBQueryBuilder::formDeleteStatementGivenId(record.schema().table);
    std::lock_guard lock(mutex_);
    if (!writeKeptLocked(text, {}, record.ID())) {
        return false;
    }
    record.setID(0);
    return true;
}

bool TQDBManagerImpl::update(std::string_view table, const TQDBRow& values,
                             std::optional<std::string_view> where, const Args& whereArgs) {
    auto text = TQDBQueryBuilder::formUpdateQuery(table, values, where, whereArgs);
    if (!text) {
        LG_VERBOSE("TQDBManagerImpl: update failed:  %s", text.error().message);
        return false;
    }
    std::lock_guard lock(mutex_);
    return writeLocked(*text).ok();
}

bool TQDBManagerImpl::insert(std::string_view table, const TQDBRow& values) {
    auto text = TQDBQueryBuilder::formInsertStatement(table, values);
    if (!text) {
        LG_VERBOSE("TQDBManagerImpl: insert failed:  %s", text.error().message);
        return false;
    }
    std::lock_guard lock(mutex_);
    return writeKeptLocked(*text, values, std::nullopt).ok();
}

bool TQDBManagerImpl::remove(std::string_view table, std::optional<std::string_view> where,
                             const Args& whereArgs) {
    auto text = TQDBQueryBuilder::formDeleteQuery(table, where, whereArgs);
    return text && rawDeleteQuery(*text);
}

std::int64_t TQDBManagerImpl::getLastInsertId() {
    std::lock_guard lock(mutex_);
    return connection_ ? connection_->lastInsertRowId() : 0;
}

std::optional<std::vector<platform::Dictionary>> TQDBManagerImpl::rawSelectQuery(
    std::string_view text) {
    std::vector<platform::Dictionary> rows;
    const bool ran = readRows(text, [&](const TQDBResultRow& row) {
        const auto& statement = row.statement();
        platform::Dictionary columns;
        for (int column = 0; column < statement.columnCount(); ++column) {
            if (statement.columnType(column) != ColumnType::null) {
                columns.set(std::string(statement.columnName(column)),
                            std::string(statement.columnText(column)));
            }
        }
        rows.push_back(std::move(columns));
    });
    if (!ran || rows.empty()) {
        return std::nullopt;
    }
    return rows;
}

bool TQDBManagerImpl::rawDeleteQuery(std::string_view text) {
    std::lock_guard lock(mutex_);
    return writeLocked(text).ok();
}

std::uint32_t TQDBManagerImpl::rawCountQuery(std::string_view text) {
    std::optional<std::int64_t> count;
    const bool ran = readRows(text, [&](const TQDBResultRow& row) {
        if (!count && row.statement().columnCount() > 0) {
            count = row.statement().columnInt64(0);
        }
    });
    return ran ? static_cast<std::uint32_t>(count.value_or(0)) : 0;
}

bool TQDBManagerImpl::transaction(const std::function<bool()>& body) {
    std::lock_guard lock(mutex_);
    if (transactionDepth_ > 0) {
        const bool ok = body();
        failedInTransaction_ = failedInTransaction_ || !ok;
        return ok;
    }
    auto* connection = connectionLocked();
    if (connection == nullptr) {
        return false;
    }
    if (auto begun = connection->execute("BEGIN"); !begun) {
        LG_VERBOSE("TQDBManagerImpl: transaction failed:  %s", begun.error().message);
        return false;
    }
    transactionDepth_ = 1;
    failedInTransaction_ = false;
    const bool ok = body();
    transactionDepth_ = 0;
    if (ok && !failedInTransaction_ && connection->inTransaction()) {
        if (auto committed = connection->execute("COMMIT"); committed) {
            return true;
        } else {
            LG_VERBOSE("TQDBManagerImpl: transaction failed:  %s", committed.error().message);
        }
    }
    if (connection->inTransaction()) {
        (void)connection->execute("ROLLBACK");
    }
    return false;
}
