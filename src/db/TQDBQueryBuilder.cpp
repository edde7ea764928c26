#include "db/TQDBQueryBuilder.h"

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

// The pairs without a column named ID.
TQDBRow withoutID(const TQDBRow& values) {
    TQDBRow out;
    out.reserve(values.size());
    for (const auto& pair : values) {
        if (pair.first != "ID") {
            out.push_back(pair);
        }
    }
    return out;
}

// "name = 'value', ..." with a separator after all but the last pair.
std::string assignments(const TQDBRow& values) {
    std::string out;
    for (std::size_t i = 0; i < values.size(); ++i) {
        out += values[i].first;
        out += " = ";
        out += TQDBQueryBuilder::literal(values[i].second);
        if (i + 1 < values.size()) {
            out += ", ";
        }
    }
    return out;
}

Result<std::string> logged(const char* format, Result<std::string> text) {
    if (text) {
        LG_VERBOSE(format, *text);
    }
    return text;
}

}  // namespace

std::string TQDBQueryBuilder::literal(const TQDBValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) {
        return quoted(*text);
    }
    if (const auto* number = std::get_if<std::int64_t>(&value)) {
        return quoted(std::to_string(*number));
    }
    if (const auto* real = std::get_if<double>(&value)) {
        return std::isnan(*real) ? "NULL" : quoted(realText(*real));
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

Result<std::string> TQDBQueryBuilder::formInsertQuery(std::string_view table,
                                                      const TQDBRow& values) {
    const TQDBRow row = withoutID(values);
    if (row.empty()) {
        return builderError(kNothingToWrite, "nothing to insert into " + std::string(table));
    }
    // The last name stands bare, the others in backticks.
    std::string names;
    std::string literals;
    for (std::size_t i = 0; i < row.size(); ++i) {
        const bool last = i + 1 == row.size();
        names += last ? row[i].first + ") " : "`" + row[i].first + "`, ";
        literals += literal(row[i].second) + (last ? ")" : ", ");
    }
    return logged("formInsertQuery: %@",
                  "INSERT INTO " + std::string(table) + " (" + names + "VALUES (" + literals);
}

Result<std::string> TQDBQueryBuilder::formUpdateQueryGivenId(std::string_view table,
                                                             const TQDBRow& values,
                                                             std::int64_t id) {
    const TQDBRow row = withoutID(values);
    if (row.empty()) {
        return builderError(kNothingToWrite, "nothing to update in " + std::string(table));
    }
    return logged("formUpdateQueryGivenId: %@", "UPDATE " + std::string(table) + " SET " +
                                                    assignments(row) + " WHERE ID=" + literal(id) +
                                                    " ");
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
    return logged("formUpdateQuery: %@",
                  "UPDATE " + std::string(table) + " SET " + assignments(values) + " " + *clause);
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
