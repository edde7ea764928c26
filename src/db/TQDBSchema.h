#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "db/TQDBValue.h"

class TQDBObject;

// The kinds of property a record may store, each with its own column type.
enum class TQDBType {
    Bool,    // "B", INTEGER
    Char,    // "c", TEXT
    Double,  // "d", REAL
    Int,     // "i", INTEGER, 32 bits
    UInt,    // "I", INTEGER, 32 bits unsigned
    Float,   // "f", REAL
    Long,    // "l", INTEGER, 64 bits
    ULong,   // "L", INTEGER, 64 bits unsigned, stored as the signed number of the same bits
    Short,   // "s", INTEGER
    String,  // "NSString", TEXT; none is NULL
    Number,  // "NSNumber", REAL; none is NULL
};

[[nodiscard]] std::string_view typeCode(TQDBType type);
[[nodiscard]] std::string_view columnType(TQDBType type);

// One column of a result row as SQLite holds it.
struct TQDBCell {
    enum class Kind { integer, real, text, null };
    Kind kind = Kind::null;
    std::int64_t integer = 0;
    double real = 0;
    std::string_view text;
};

// One stored property of a record class: its name (the column's), kind, and how to read it
// from a record (nothing: leave it out of the statement) and set it from a column.
struct TQDBProperty {
    std::string name;
    TQDBType type;
    std::function<std::optional<TQDBValue>(const TQDBObject&)> get;
    std::function<void(TQDBObject&, const TQDBCell&)> set;
};

// What the store knows of a record class: its table and its own stored properties in
// declaration order, which is the order of the table's columns and of the values written.
struct TQDBSchema {
    std::string table;
    std::vector<TQDBProperty> properties;

    [[nodiscard]] const TQDBProperty* find(std::string_view name) const;
    // Name and column type of each property.
    [[nodiscard]] std::vector<TQDBColumnDef> columns() const;
    // Name and value of each property that has one.
    [[nodiscard]] TQDBRow values(const TQDBObject& record) const;
};

namespace tqdb_detail {

// The conversions of each member type; a member of any other type cannot be declared.
std::optional<TQDBValue> toValue(bool value);
std::optional<TQDBValue> toValue(char value);
std::optional<TQDBValue> toValue(std::int32_t value);
std::optional<TQDBValue> toValue(std::uint32_t value);
std::optional<TQDBValue> toValue(std::int64_t value);
std::optional<TQDBValue> toValue(std::uint64_t value);
std::optional<TQDBValue> toValue(std::int16_t value);
std::optional<TQDBValue> toValue(float value);
std::optional<TQDBValue> toValue(double value);
std::optional<TQDBValue> toValue(const std::optional<std::string>& value);
std::optional<TQDBValue> toValue(const std::optional<double>& value);

void fromCell(const TQDBCell& cell, bool& member);
void fromCell(const TQDBCell& cell, char& member);
void fromCell(const TQDBCell& cell, std::int32_t& member);
void fromCell(const TQDBCell& cell, std::uint32_t& member);
void fromCell(const TQDBCell& cell, std::int64_t& member);
void fromCell(const TQDBCell& cell, std::uint64_t& member);
void fromCell(const TQDBCell& cell, std::int16_t& member);
void fromCell(const TQDBCell& cell, float& member);
void fromCell(const TQDBCell& cell, double& member);
void fromCell(const TQDBCell& cell, std::optional<std::string>& member);
void fromCell(const TQDBCell& cell, std::optional<double>& member);

template <typename Member>
constexpr TQDBType typeOf() {
    if constexpr (std::is_same_v<Member, bool>) {
        return TQDBType::Bool;
    } else if constexpr (std::is_same_v<Member, char>) {
        return TQDBType::Char;
    } else if constexpr (std::is_same_v<Member, std::int32_t>) {
        return TQDBType::Int;
    } else if constexpr (std::is_same_v<Member, std::uint32_t>) {
        return TQDBType::UInt;
    } else if constexpr (std::is_same_v<Member, std::int64_t>) {
        return TQDBType::Long;
    } else if constexpr (std::is_same_v<Member, std::uint64_t>) {
        return TQDBType::ULong;
    } else if constexpr (std::is_same_v<Member, std::int16_t>) {
        return TQDBType::Short;
    } else if constexpr (std::is_same_v<Member, float>) {
        return TQDBType::Float;
    } else if constexpr (std::is_same_v<Member, double>) {
        return TQDBType::Double;
    } else if constexpr (std::is_same_v<Member, std::optional<std::string>>) {
        return TQDBType::String;
    } else {
        static_assert(std::is_same_v<Member, std::optional<double>>,
                      "a stored property is a number, a Boolean or an optional text or real");
        return TQDBType::Number;
    }
}

}  // namespace tqdb_detail

// A stored property of Record: the member, under the column name given.
template <typename Record, typename Member>
TQDBProperty column(std::string name, Member Record::*member) {
    return TQDBProperty{
        std::move(name),
        tqdb_detail::typeOf<Member>(),
        [member](const TQDBObject& record) {
            return tqdb_detail::toValue(static_cast<const Record&>(record).*member);
        },
        [member](TQDBObject& record, const TQDBCell& cell) {
            tqdb_detail::fromCell(cell, static_cast<Record&>(record).*member);
        },
    };
}
