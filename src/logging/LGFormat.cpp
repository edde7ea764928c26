#include "logging/LGFormat.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <optional>

namespace lg {

namespace {

// What a conversion's length modifier means here: the width of unsigned and hexadecimal
// conversions of negative numbers.
enum class Length { none, hh, h, wide, other };

// Plain values, so that reading one costs no memory.
struct Spec {
    // The flags given, as bits of kFlags: repeating one changes nothing.
    unsigned flags = 0;
    std::optional<int> width;
    std::optional<int> precision;
    Length length = Length::none;
    char conversion = 0;
};

constexpr std::string_view kFlags = "-+ #0";
constexpr unsigned kLeft = 1;

unsigned flagBit(char c) {
    const auto at = kFlags.find(c);
    return at == std::string_view::npos ? 0 : 1u << at;
}

bool isConversion(char c) {
    switch (c) {
        case 'd': case 'i': case 'u': case 'o': case 'x': case 'X': case 'c': case 's': case '@':
        case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A': case 'p':
            return true;
        default:
            return false;
    }
}

bool isLengthModifier(char c) {
    return c == 'h' || c == 'l' || c == 'q' || c == 'z' || c == 't' || c == 'j' || c == 'L';
}

Length lengthOf(std::string_view text) {
    if (text.empty()) {
        return Length::none;
    }
    if (text == "l" || text == "ll" || text == "q" || text == "z" || text == "t" || text == "j") {
        return Length::wide;
    }
    return text == "hh" ? Length::hh : text == "h" ? Length::h : Length::other;
}

// Reads the text of an argument for %s and %@.
std::string textOf(const FormatArg& arg) {
    return std::visit(
        [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string_view>) {
                return std::string(v);
            } else if constexpr (std::is_same_v<T, const platform::Value*>) {
                return v->description();
            } else if constexpr (std::is_same_v<T, const void*>) {
                if (v == nullptr) {
                    return "(null)";
                }
                char buffer[32];
                std::snprintf(buffer, sizeof buffer, "%p", v);
                return buffer;
            } else {
                return *platform::Value(v).stringValue();
            }
        },
        arg.data());
}

std::optional<std::int64_t> integerOf(const FormatArg& arg) {
    return std::visit(
        [](const auto& v) -> std::optional<std::int64_t> {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::int64_t>) {
                return v;
            } else if constexpr (std::is_same_v<T, std::uint64_t>) {
                return static_cast<std::int64_t>(v);
            } else if constexpr (std::is_same_v<T, double>) {
                return platform::Value(v).intValue();
            } else if constexpr (std::is_same_v<T, const platform::Value*>) {
                return v->isNumber() ? v->intValue() : std::nullopt;
            } else {
                return std::nullopt;
            }
        },
        arg.data());
}

std::optional<double> realOf(const FormatArg& arg) {
    return std::visit(
        [](const auto& v) -> std::optional<double> {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::int64_t> || std::is_same_v<T, std::uint64_t> ||
                          std::is_same_v<T, double>) {
                return static_cast<double>(v);
            } else if constexpr (std::is_same_v<T, const platform::Value*>) {
                return v->isNumber() ? v->doubleValue() : std::nullopt;
            } else {
                return std::nullopt;
            }
        },
        arg.data());
}

void pad(std::string& out, std::string_view text, const Spec& spec) {
    const std::size_t width = spec.width ? static_cast<std::size_t>(*spec.width) : 0;
    if (text.size() >= width) {
        out += text;
        return;
    }
    const bool left = (spec.flags & kLeft) != 0;
    if (!left && text.size() < width) {
        out.append(width - text.size(), ' ');
    }
    out += text;
    if (left && text.size() < width) {
        out.append(width - text.size(), ' ');
    }
}

std::string printfSpec(const Spec& spec, std::string_view length, char conversion) {
    std::string f = "%";
    for (std::size_t i = 0; i < kFlags.size(); ++i) {
        if ((spec.flags & (1u << i)) != 0) {
            f += kFlags[i];
        }
    }
    if (spec.width) {
        f += std::to_string(*spec.width);
    }
    if (spec.precision) {
        f += "." + std::to_string(*spec.precision);
    }
    f += length;
    f += conversion;
    return f;
}

template <typename T>
void appendPrintf(std::string& out, const std::string& f, T value) {
    char buffer[512];
    const int n = std::snprintf(buffer, sizeof buffer, f.c_str(), value);
    if (n < 0) {
        return;
    }
    if (static_cast<std::size_t>(n) < sizeof buffer) {
        out.append(buffer, static_cast<std::size_t>(n));
        return;
    }
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), f.c_str(), value);
    big.resize(static_cast<std::size_t>(n));
    out += big;
}

// Integers with no flag, width or precision, the most common conversions of log lines, as
// printf writes them, without building a printf format.
template <typename T>
void appendInteger(std::string& out, const Spec& spec, char conversion, T value) {
    if (spec.flags != 0 || spec.width || spec.precision) {
        appendPrintf(out, printfSpec(spec, "ll", conversion), value);
        return;
    }
    const int base = conversion == 'o' ? 8 : conversion == 'x' || conversion == 'X' ? 16 : 10;
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, base).ptr;
    if (conversion == 'X') {
        for (char* c = buffer; c != end; ++c) {
            *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
        }
    }
    out.append(buffer, end);
}

// Returns false when the argument has no reading for the conversion.
bool convert(std::string& out, const Spec& spec, const FormatArg& arg) {
    switch (spec.conversion) {
        case 's':
        case '@': {
            if (const auto* view = std::get_if<std::string_view>(&arg.data())) {
                // A text is written as it stands: no copy of it first.
                pad(out,
                    view->substr(0, spec.precision ? static_cast<std::size_t>(*spec.precision)
                                                   : std::string_view::npos),
                    spec);
                return true;
            }
            // Whole numbers (and flags) read as Value's description writes them, without one.
            char digits[24];
            std::string_view number;
            if (const auto* i = std::get_if<std::int64_t>(&arg.data())) {
                number = {digits, std::to_chars(digits, digits + sizeof digits, *i).ptr};
            } else if (const auto* u = std::get_if<std::uint64_t>(&arg.data())) {
                number = {digits, std::to_chars(digits, digits + sizeof digits, *u).ptr};
            }
            if (!number.empty()) {
                pad(out,
                    number.substr(0, spec.precision ? static_cast<std::size_t>(*spec.precision)
                                                    : std::string_view::npos),
                    spec);
                return true;
            }
            std::string text = textOf(arg);
            if (spec.precision && static_cast<std::size_t>(*spec.precision) < text.size()) {
                text.resize(static_cast<std::size_t>(*spec.precision));
            }
            pad(out, text, spec);
            return true;
        }
        case 'd':
        case 'i': {
            if (std::holds_alternative<std::uint64_t>(arg.data())) {
                appendInteger(out, spec, 'u',
                              static_cast<unsigned long long>(std::get<std::uint64_t>(arg.data())));
                return true;
            }
            const auto i = integerOf(arg);
            if (!i) {
                return false;
            }
            appendInteger(out, spec, 'd', static_cast<long long>(*i));
            return true;
        }
        case 'u':
        case 'o':
        case 'x':
        case 'X':
        case 'c': {
            std::uint64_t u = 0;
            if (std::holds_alternative<std::uint64_t>(arg.data())) {
                u = std::get<std::uint64_t>(arg.data());
            } else if (const auto i = integerOf(arg)) {
                u = static_cast<std::uint64_t>(*i);
            } else {
                return false;
            }
            if (spec.conversion == 'c') {
                out += static_cast<char>(u);
                return true;
            }
            // A negative number shows in the width the caller's length modifier names.
            if (spec.length != Length::wide) {
                u &= spec.length == Length::hh  ? 0xFFu
                     : spec.length == Length::h ? 0xFFFFu
                                                : 0xFFFFFFFFu;
            }
            appendInteger(out, spec, spec.conversion, static_cast<unsigned long long>(u));
            return true;
        }
        case 'p': {
            const auto* p = std::get_if<const void*>(&arg.data());
            if (p == nullptr) {
                return false;
            }
            appendPrintf(out, printfSpec(spec, "", 'p'), *p);
            return true;
        }
        default: {  // reals
            const auto d = realOf(arg);
            if (!d) {
                return false;
            }
            appendPrintf(out, printfSpec(spec, "", spec.conversion), *d);
            return true;
        }
    }
}

}  // namespace

std::string formatArgs(std::string_view format, std::span<const FormatArg> args) {
    std::string out;
    appendFormatArgs(out, format, args);
    return out;
}

void appendFormatArgs(std::string& out, std::string_view format, std::span<const FormatArg> args) {
    std::size_t room = format.size();
    for (const FormatArg& arg : args) {
        const auto* text = std::get_if<std::string_view>(&arg.data());
        room += text != nullptr ? text->size() : 16;
    }
    out.reserve(out.size() + room);
    std::size_t next = 0;
    std::size_t i = 0;
    const auto takeInt = [&]() -> std::optional<int> {
        if (next >= args.size()) {
            return std::nullopt;
        }
        const auto v = integerOf(args[next++]);
        return v ? std::optional<int>(static_cast<int>(*v)) : std::nullopt;
    };
    while (i < format.size()) {
        const std::size_t percent = format.find('%', i);
        if (percent == std::string_view::npos) {
            out += format.substr(i);
            break;
        }
        out += format.substr(i, percent - i);
        std::size_t j = percent + 1;
        if (j < format.size() && format[j] == '%') {
            out += '%';
            i = j + 1;
            continue;
        }
        Spec spec;
        while (j < format.size()) {
            const unsigned bit = flagBit(format[j]);
            if (bit == 0) {
                break;
            }
            spec.flags |= bit;
            ++j;
        }
        if (j < format.size() && format[j] == '*') {
            spec.width = takeInt();
            if (spec.width && *spec.width < 0) {
                spec.flags |= kLeft;
                spec.width = -*spec.width;
            }
            ++j;
        } else {
            int w = 0;
            bool any = false;
            while (j < format.size() && format[j] >= '0' && format[j] <= '9' && w < 10000) {
                w = w * 10 + (format[j++] - '0');
                any = true;
            }
            if (any) {
                spec.width = w;
            }
        }
        if (j < format.size() && format[j] == '.') {
            ++j;
            if (j < format.size() && format[j] == '*') {
                spec.precision = takeInt();
                if (spec.precision && *spec.precision < 0) {
                    spec.precision.reset();
                }
                ++j;
            } else {
                int p = 0;
                while (j < format.size() && format[j] >= '0' && format[j] <= '9' && p < 10000) {
                    p = p * 10 + (format[j++] - '0');
                }
                spec.precision = p;
            }
        }
        const std::size_t lengthStart = j;
        while (j < format.size() && isLengthModifier(format[j])) {
            ++j;
        }
        spec.length = lengthOf(format.substr(lengthStart, j - lengthStart));
        if (j >= format.size() || !isConversion(format[j])) {
            // Not a conversion we know: keep the text as written.
            out += format.substr(percent, j - percent);
            i = j;
            continue;
        }
        spec.conversion = format[j];
        if (next >= args.size()) {
            out += format.substr(percent, j + 1 - percent);
        } else {
            const FormatArg& arg = args[next++];
            if (!convert(out, spec, arg)) {
                // The argument has no reading for this conversion: show what it holds.
                pad(out, textOf(arg), spec);
            }
        }
        i = j + 1;
    }
}

}  // namespace lg
