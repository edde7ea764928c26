#include "db/TQDBQueryBuilder.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

#include "logging/LGLog.h"

namespace {

using platform::Error;
using platform::Result;

constexpr std::string_view kDomain = "TQDBQueryBuilder";

Error builderError(long code, std::string message) {
    return Error{std::string(kDomain), code, std::move(message)};
}

enum ErrorCode : long { kArgumentCount = 1, kNothingToWrite = 2 };

std::string quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '\'';
    for (const char c : text) {
        out += c;
        if (c == '\'') {
            out += '\'';
        }
    }
    out += '\'';
    return out;
}

std::string realText(double value) {
    // SQLite has no NaN and reads an overflowing literal as infinity.
    if (std::isinf(value)) {
        return value > 0 ? "9e999" : "-9e999";
    }
    char buffer[32];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, written.ptr);
}

// " WHERE " and the clause with its arguments; nothing without a clause.
Result<std::string> whereText(std::optional<std::string_view> where,
                              const TQDBQueryBuilder::Args& args) {
    if (!where) {
        if (!args.empty()) {
            return builderError(kArgumentCount, "arguments without a where clause");
        }
        return std::string();
    }
    auto bound = TQDBQueryBuilder::bindArguments(*where, args);
    if (!bound) {
        return bound.error();
    }
    return " WHERE " + *bound;
}

std::string literalOf(const TQDBValue& value) {
    return TQDBQueryBuilder::literal(value);
}

std::string placeholderOf(const TQDBValue&) {
    return "?";
}

bool isID(const std::pair<std::string, TQDBValue>& pair) {
    return pair.first == "ID";
}

// "name = value, ..." with a separator after all but the last pair; pairs that skip says are
// left out.
template <typename ValueText>
std::string assignments(const TQDBRow& values, ValueText valueText,
                        bool (*skip)(const std::pair<std::string, TQDBValue>&) = nullptr) {
    std::string out;
    for (const auto& pair : values) {
        if (skip != nullptr && skip(pair)) {
            continue;
        }
        if (!out.empty()) {
            out += ", ";
        }
        out += pair.first;
        out += " = ";
        out += valueText(pair.second);
    }
    return out;
}

// The last name stands bare, the others in backticks; a column named ID is left out.
template <typename ValueText>
Result<std::string> insertText(std::string_view table, const TQDBRow& values, ValueText valueText) {
    const auto count = static_cast<std::size_t>(
        std::count_if(values.begin(), values.end(), [](const auto& pair) { return !isID(pair); }));
    if (count == 0) {
        return builderError(kNothingToWrite, "nothing to insert into " + std::string(table));
    }
    std::string text = "INSERT INTO ";
    text.reserve(64 + table.size() + count * 24);
    text += table;
    text += " (";
    std::size_t written = 0;
    for (const auto& pair : values) {
        if (isID(pair)) {
            continue;
        }
        if (++written == count) {
            text += pair.first;
            text += ") ";
        } else {
            text += '`';
            text += pair.first;
            text += "`, ";
        }
    }
    text += "VALUES (";
    written = 0;
    for (const auto& pair : values) {
        if (isID(pair)) {
            continue;
        }
        text += valueText(pair.second);
        text += ++written == count ? ")" : ", ";
    }
    return text;
}

template <typename ValueText>
Result<std::string> updateTextGivenId(std::string_view table, const TQDBRow& values,
                                      std::string_view id, ValueText valueText) {
    std::string set = assignments(values, valueText, isID);
    if (set.empty()) {
        return builderError(kNothingToWrite, "nothing to update in " + std::string(table));
    }
    return "UPDATE " + std::string(table) + " SET " + set + " WHERE ID=" + std::string(id) + " ";
}

Result<std::string> logged(const char* format, Result<std::string> text) {
    if (text) {
        LG_VERBOSE(format, *text);
    }
    return text;
}

}  // namespace

TQDBQueryBuilder::Binding TQDBQueryBuilder::bindingOf(const TQDBValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) {
        return *text;
    }
    if (const auto* number = std::get_if<std::int64_t>(&value)) {
        return std::to_string(*number);
    }
    if (const auto* real = std::get_if<double>(&value)) {
        // An infinity too is the text of its quoted literal, "9e999", so that the column's
        // affinity decides what is stored, as it does for the literal.
        return std::isnan(*real) ? Binding(nullptr) : Binding(realText(*real));
    }
    return nullptr;
}

std::string TQDBQueryBuilder::literal(const TQDBValue& value) {
    const Binding binding = bindingOf(value);
    if (const auto* text = std::get_if<std::string>(&binding)) {
        return quoted(*text);
    }
    return "NULL";
}

std::optional<std::string> TQDBQueryBuilder::limitText(std::optional<std::uint64_t> offset,
                                                       std::optional<std::uint64_t> limit) {
    if (!limit) {
        return std::nullopt;
    }
    return std::to_string(offset.value_or(0)) + ", " + std::to_string(*limit);
}

Result<std::string> TQDBQueryBuilder::bindArguments(std::string_view clause, const Args& args) {
    std::string out;
    out.reserve(clause.size() + args.size() * 8);
    std::size_t next = 0;
    char quote = 0;
    for (const char c : clause) {
        if (quote != 0) {
            // Inside a literal or a quoted name a "?" is the text's own.
            quote = c == quote ? 0 : quote;
            out += c;
        } else if (c == '\'' || c == '"' || c == '`') {
            quote = c;
            out += c;
        } else if (c == '?') {
            if (next == args.size()) {
                return builderError(kArgumentCount,
                                    "more \"?\" than arguments in: " + std::string(clause));
            }
            out += literal(args[next++]);
        } else {
            out += c;
        }
    }
    if (next != args.size()) {
        return builderError(kArgumentCount, "more arguments than \"?\" in: " + std::string(clause));
    }
    return out;
}

std::string TQDBQueryBuilder::formCreateTableQuery(std::string_view table,
                                                   std::span<const TQDBColumnDef> columns) {
    std::string text = "CREATE TABLE IF NOT EXISTS ";
    text += table;
    text += " (ID INTEGER PRIMARY KEY";
    for (const auto& column : columns) {
        if (column.name != "ID") {
            text += ",`" + column.name + "` " + column.type;
        }
    }
    text += ")";
    LG_VERBOSE("formCreateTableQuery: %@", text);
    return text;
}

Result<std::string> TQDBQueryBuilder::formSelectQuery(std::string_view table,
                                                      std::span<const std::string> columns,
                                                      std::optional<std::string_view> selection,
                                                      const Args& selectionArgs,
                                                      std::optional<std::string_view> orderBy,
                                                      std::optional<std::string_view> limit) {
    std::string text = "SELECT ";
    if (columns.empty()) {
        text += "*";
    }
    for (std::size_t i = 0; i < columns.size(); ++i) {
        text += (i == 0 ? "" : ", ") + columns[i];
    }
    text += " FROM ";
    text += table;
    auto where = whereText(selection, selectionArgs);
    if (!where) {
        return where.error();
    }
    text += *where;
    if (orderBy) {
        text += " ORDER BY ";
        text += *orderBy;
    }
    if (limit) {
        text += " LIMIT ";
        text += *limit;
    }
    return logged("formSelectQuery: %@", std::move(text));
}

std::string TQDBQueryBuilder::formSelectQueryGivenId(std::string_view table, std::int64_t id) {
    return "SELECT * FROM " + std::string(table) + " WHERE ID=" + literal(id);
}

std::string TQDBQueryBuilder::formSelectStatementGivenId(std::string_view table) {
    return "SELECT * FROM " + std::string(table) + " WHERE ID=?";
}

Result<std::string> TQDBQueryBuilder::formInsertQuery(std::string_view table,
                                                      const TQDBRow& values) {
    return logged("formInsertQuery: %@", insertText(table, values, literalOf));
}

Result<std::string> TQDBQueryBuilder::formInsertStatement(std::string_view table,
                                                          const TQDBRow& values) {
    auto text = insertText(table, values, placeholderOf);
    if (text) {
        LG_VERBOSE("formInsertQuery: %@", *insertText(table, values, literalOf));
    }
    return text;
}

Result<std::string> TQDBQueryBuilder::formUpdateQueryGivenId(std::string_view table,
                                                             const TQDBRow& values,
                                                             std::int64_t id) {
    return logged("formUpdateQueryGivenId: %@",
                  updateTextGivenId(table, values, literal(id), literalOf));
}

Result<std::string> TQDBQueryBuilder::formUpdateStatementGivenId(std::string_view table,
                                                                 const TQDBRow& values,
                                                                 std::int64_t id) {
    auto text = updateTextGivenId(table, values, "?", placeholderOf);
    if (text) {
        LG_VERBOSE("formUpdateQueryGivenId: %@",
                   *updateTextGivenId(table, values, literal(id), literalOf));
    }
    return text;
}

Result<std::string> TQDBQueryBuilder::formUpdateQuery(std::string_view table, const TQDBRow& values,
                                                      std::optional<std::string_view> where,
                                                      const Args& whereArgs) {
    if (values.empty()) {
        return builderError(kNothingToWrite, "nothing to update in " + std::string(table));
    }
    auto clause = whereText(where, whereArgs);
    if (!clause) {
        return clause.error();
    }
    return logged("formUpdateQuery: %@", "UPDATE " + std::string(table) + " SET " +
                                             assignments(values, literalOf) + " " + *clause);
}

Result<std::string> TQDBQueryBuilder::formDeleteQuery(std::string_view table,
                                                      std::optional<std::string_view> where,
                                                      const Args& whereArgs) {
    auto clause = whereText(where, whereArgs);
    if (!clause) {
        return clause.error();
    }
    return logged("formDeleteQuery: %@", "DELETE FROM " + std::string(table) + " " + *clause);
}

std::string TQDBQueryBuilder::formDeleteQueryGivenId(std::string_view table, std::int64_t id) {
    return "DELETE FROM " + std::string(table) + " WHERE ID=" + literal(id);
}

std::string TQDBQueryBuilder::formDeleteStatementGivenId(std::string_view table) {
    return "DELETE FROM " + std::string(table) + " WHERE ID=?";
}

Result<std::string> TQDBQueryBuilder::formCountQuery(std::string_view table,
                                                     std::optional<std::string_view> column,
                                                     std::optional<std::string_view> alias,
                                                     bool isDistinct,
                                                     std::optional<std::string_view> where,
                                                     const Args& whereArgs) {
    std::string text = "SELECT COUNT(";
    if (column) {
        text += isDistinct ? "DISTINCT " : "";
        text += *column;
    } else {
        text += "*";
    }
    text += ") AS ";
    text += alias.value_or("countResult");
    text += " FROM ";
    text += table;
    auto clause = whereText(where, whereArgs);
    if (!clause) {
        return clause.error();
    }
    return logged("formCountQuery: %@", text + *clause);
}
