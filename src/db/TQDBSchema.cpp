#include "db/TQDBSchema.h"

#include <bit>
#include <cstdlib>
#include <string>

#include "platform/foundation/Value.h"

std::string_view typeCode(TQDBType type) {
    switch (type) {
        case TQDBType::Bool:
            return "B";
        case TQDBType::Char:
            return "c";
        case TQDBType::Double:
            return "d";
        case TQDBType::Int:
            return "i";
        case TQDBType::UInt:
            return "I";
        case TQDBType::Float:
            return "f";
        case TQDBType::Long:
            return "l";
        case TQDBType::ULong:
            return "L";
        case TQDBType::Short:
            return "s";
        case TQDBType::String:
            return "NSString";
        case TQDBType::Number:
            return "NSNumber";
    }
    return "";
}

std::string_view columnType(TQDBType type) {
    switch (type) {
        case TQDBType::Char:
        case TQDBType::String:
            return "TEXT";
        case TQDBType::Double:
        case TQDBType::Float:
        case TQDBType::Number:
            return "REAL";
        default:
            return "INTEGER";
    }
}

const TQDBProperty* TQDBSchema::find(std::string_view name) const {
    for (const auto& property : properties) {
        if (property.name == name) {
            return &property;
        }
    }
    return nullptr;
}

std::vector<TQDBColumnDef> TQDBSchema::columns() const {
    std::vector<TQDBColumnDef> out;
    out.reserve(properties.size());
    for (const auto& property : properties) {
        out.push_back({property.name, std::string(columnType(property.type))});
    }
    return out;
}

TQDBRow TQDBSchema::values(const TQDBObject& record) const {
    TQDBRow out;
    out.reserve(properties.size());
    for (const auto& property : properties) {
        if (auto value = property.get(record)) {
            out.emplace_back(property.name, std::move(*value));
        }
    }
    return out;
}

namespace tqdb_detail {

namespace {

// A column as a whole number, whatever SQLite holds: reals truncate, texts are read from
// their leading digits.
std::int64_t integerOf(const TQDBCell& cell) {
    switch (cell.kind) {
        case TQDBCell::Kind::integer:
            return cell.integer;
        case TQDBCell::Kind::real:
            return static_cast<std::int64_t>(cell.real);
        case TQDBCell::Kind::text:
            return platform::stringIntValue(cell.text);
        case TQDBCell::Kind::null:
            return 0;
    }
    return 0;
}

double realOf(const TQDBCell& cell) {
    switch (cell.kind) {
        case TQDBCell::Kind::integer:
            return static_cast<double>(cell.integer);
        case TQDBCell::Kind::real:
            return cell.real;
        case TQDBCell::Kind::text:
            return std::strtod(std::string(cell.text).c_str(), nullptr);
        case TQDBCell::Kind::null:
            return 0;
    }
    return 0;
}

}  // namespace

std::optional<TQDBValue> toValue(bool value) {
    return TQDBValue(std::int64_t{value ? 1 : 0});
}
std::optional<TQDBValue> toValue(char value) {
    return TQDBValue(std::int64_t{value});
}
std::optional<TQDBValue> toValue(std::int32_t value) {
    return TQDBValue(std::int64_t{value});
}
std::optional<TQDBValue> toValue(std::uint32_t value) {
    return TQDBValue(std::int64_t{value});
}
std::optional<TQDBValue> toValue(std::int64_t value) {
    return TQDBValue(value);
}
std::optional<TQDBValue> toValue(std::uint64_t value) {
    // SQLite's integers are signed 64-bit: the same bits read back as the same value.
    return TQDBValue(std::bit_cast<std::int64_t>(value));
}
std::optional<TQDBValue> toValue(std::int16_t value) {
    return TQDBValue(std::int64_t{value});
}
std::optional<TQDBValue> toValue(float value) {
    // Written as the double it is exactly, which reads back as the same float.
    return TQDBValue(static_cast<double>(value));
}
std::optional<TQDBValue> toValue(double value) {
    return TQDBValue(value);
}
std::optional<TQDBValue> toValue(const std::optional<std::string>& value) {
    if (!value) {
        return std::nullopt;
    }
    return TQDBValue(*value);
}
std::optional<TQDBValue> toValue(const std::optional<double>& value) {
    if (!value) {
        return std::nullopt;
    }
    return TQDBValue(*value);
}

void fromCell(const TQDBCell& cell, bool& member) {
    member = cell.kind == TQDBCell::Kind::text ? platform::stringBoolValue(cell.text)
                                               : integerOf(cell) != 0;
}
void fromCell(const TQDBCell& cell, char& member) {
    member = static_cast<char>(integerOf(cell));
}
void fromCell(const TQDBCell& cell, std::int32_t& member) {
    member = static_cast<std::int32_t>(integerOf(cell));
}
void fromCell(const TQDBCell& cell, std::uint32_t& member) {
    member = static_cast<std::uint32_t>(integerOf(cell));
}
void fromCell(const TQDBCell& cell, std::int64_t& member) {
    member = integerOf(cell);
}
void fromCell(const TQDBCell& cell, std::uint64_t& member) {
    member = std::bit_cast<std::uint64_t>(integerOf(cell));
}
void fromCell(const TQDBCell& cell, std::int16_t& member) {
    member = static_cast<std::int16_t>(integerOf(cell));
}
void fromCell(const TQDBCell& cell, float& member) {
    member = static_cast<float>(realOf(cell));
}
void fromCell(const TQDBCell& cell, double& member) {
    member = realOf(cell);
}
void fromCell(const TQDBCell& cell, std::optional<std::string>& member) {
    if (cell.kind == TQDBCell::Kind::null) {
        member.reset();
    } else {
        member = std::string(cell.text);
    }
}
void fromCell(const TQDBCell& cell, std::optional<double>& member) {
    if (cell.kind == TQDBCell::Kind::null) {
        member.reset();
    } else {
        member = realOf(cell);
    }
}

}  // namespace tqdb_detail
