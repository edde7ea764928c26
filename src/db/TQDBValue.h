#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

// One value written into a statement: NULL, a whole number, a real or a text.
using TQDBValue = std::variant<std::nullptr_t, std::int64_t, double, std::string>;

// Column names with their values, in the order they are written.
using TQDBRow = std::vector<std::pair<std::string, TQDBValue>>;

// A column of a table to create: its name and SQL type.
struct TQDBColumnDef {
    std::string name;
    std::string type;
};
