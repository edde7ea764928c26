#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "db/TQDBValue.h"
#include "platform/foundation/Result.h"

// The text of every statement the object store runs; no state. Values and where-clause
// arguments are written into the text as SQL literals: texts single-quoted with their quotes
// doubled, so no value can end its literal early or be read as a column name. Texts that
// could not be run as meant (a "?" without its argument, nothing to write) are errors, never
// statements. Each finished text is logged at verbose level, as the store sends it.
class TQDBQueryBuilder {
public:
    using Args = std::vector<TQDBValue>;

    TQDBQueryBuilder() = delete;

    // "ID INTEGER PRIMARY KEY" first; a column named ID among the others is left out.
    static std::string formCreateTableQuery(std::string_view table,
                                            std::span<const TQDBColumnDef> columns);
    // No columns: all of them.
    static platform::Result<std::string> formSelectQuery(std::string_view table,
                                                         std::span<const std::string> columns,
                                                         std::optional<std::string_view> selection,
                                                         const Args& selectionArgs,
                                                         std::optional<std::string_view> orderBy,
                                                         std::optional<std::string_view> limit);
    static std::string formSelectQueryGivenId(std::string_view table, std::int64_t id);
    // A column named ID is left out; nothing left to write is an error.
    static platform::Result<std::string> formInsertQuery(std::string_view table,
                                                         const TQDBRow& values);
    static platform::Result<std::string> formUpdateQueryGivenId(std::string_view table,
                                                                const TQDBRow& values,
                                                                std::int64_t id);
    static platform::Result<std::string> formUpdateQuery(std::string_view table,
                                                         const TQDBRow& values,
                                                         std::optional<std::string_view> where,
                                                         const Args& whereArgs);
    // No where clause: every row.
    static platform::Result<std::string> formDeleteQuery(std::string_view table,
                                                         std::optional<std::string_view> where,
                                                         const Args& whereArgs);
    static std::string formDeleteQueryGivenId(std::string_view table, std::int64_t id);
    // No column: COUNT(*), where the distinct flag means nothing. No alias: "countResult".
    static platform::Result<std::string> formCountQuery(std::string_view table,
                                                        std::optional<std::string_view> column,
                                                        std::optional<std::string_view> alias,
                                                        bool isDistinct,
                                                        std::optional<std::string_view> where,
                                                        const Args& whereArgs);

    // The record statements again with a "?" for each value, to be bound (bindingOf) in the
    // row's order, ID left out, and the ID last: one text for a table and the columns written,
    // so that its compiled statement serves every record. The insert and the update log the
    // text formInsertQuery and formUpdateQueryGivenId would give.
    static platform::Result<std::string> formInsertStatement(std::string_view table,
                                                             const TQDBRow& values);
    static platform::Result<std::string> formUpdateStatementGivenId(std::string_view table,
                                                                    const TQDBRow& values,
                                                                    std::int64_t id);
    static std::string formSelectStatementGivenId(std::string_view table);
    static std::string formDeleteStatementGivenId(std::string_view table);

    // The limit text of a select: "offset, limit" (offset 0 when none); nothing without a limit,
    // whatever the offset.
    static std::optional<std::string> limitText(std::optional<std::uint64_t> offset,
                                                std::optional<std::uint64_t> limit);

    // The clause with each "?" outside quotes replaced, from the left, by the next argument as
    // a literal, in one pass (inserted text is never scanned again). A count of "?" other than
    // the count of arguments is an error.
    static platform::Result<std::string> bindArguments(std::string_view clause, const Args& args);
    // The value as an SQL literal: NULL, a decimal number in quotes (a real with the fewest
    // digits that read back as the same double, an infinity '9e999' or '-9e999'), or a text in
    // single quotes, quotes doubled.
    static std::string literal(const TQDBValue& value);
    // What the literal stands for, as a parameter bound in its place: NULL or the text between
    // its quotes. SQLite then stores the same as from the literal, whatever the column's
    // affinity.
    using Binding = std::variant<std::nullptr_t, std::string>;
    static Binding bindingOf(const TQDBValue& value);
};
