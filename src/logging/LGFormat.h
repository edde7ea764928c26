#pragma once

#include <concepts>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "platform/foundation/Value.h"

namespace lg {

// One argument of a log format, captured by type so that formatting can never read past what
// the caller passed. Texts and Values are borrowed for the duration of the format call.
class FormatArg {
public:
    template <typename T>
    requires(std::integral<T>&& std::is_signed_v<T>) FormatArg(T i) : data_(std::int64_t{i}) {}
    template <typename T>
    requires(std::integral<T>&& std::is_unsigned_v<T> && !std::same_as<T, bool>) FormatArg(T u)
        : data_(std::uint64_t{u}) {}
    FormatArg(bool b) : data_(std::int64_t{b ? 1 : 0}) {}
    template <typename T>
    requires std::floating_point<T> FormatArg(T d) : data_(static_cast<double>(d)) {}
    template <typename T>
    requires std::is_enum_v<T> FormatArg(T e)
        : FormatArg(static_cast<std::underlying_type_t<T>>(e)) {}
    FormatArg(const char* s)
        : data_(s == nullptr ? std::string_view("(null)") : std::string_view(s)) {}
    FormatArg(char* s) : FormatArg(static_cast<const char*>(s)) {}
    FormatArg(std::string_view s) : data_(s) {}
    FormatArg(const std::string& s) : data_(std::string_view(s)) {}
    FormatArg(const platform::Value& v) : data_(&v) {}
    FormatArg(const void* p) : data_(p) {}
    FormatArg(std::nullptr_t) : data_(static_cast<const void*>(nullptr)) {}

    using Data = std::variant<std::int64_t, std::uint64_t, double, std::string_view,
                              const platform::Value*, const void*>;
    [[nodiscard]] const Data& data() const { return data_; }

private:
    Data data_;
};

// Applies a printf-style format to typed arguments: flags, width, precision (also "*"),
// length modifiers (accepted and used only for the width of unsigned and hexadecimal
// conversions of negative numbers), conversions d i u o x X c s @ f F e E g G a A p and %%.
// "%@" prints a Value's description, a text as it stands, a number in decimal. An argument
// with no reading for its conversion (a text for %d) prints as %@ would; a conversion without
// an argument is written as it stands; extra arguments are ignored.
[[nodiscard]] std::string formatArgs(std::string_view format, std::span<const FormatArg> args);
// The same, appended to out: a caller that keeps out between lines makes no text for each.
void appendFormatArgs(std::string& out, std::string_view format, std::span<const FormatArg> args);

template <typename... Args>
[[nodiscard]] std::string format(std::string_view fmt, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        return formatArgs(fmt, {});
    } else {
        const FormatArg list[] = {FormatArg(args)...};
        return formatArgs(fmt, list);
    }
}

}  // namespace lg
