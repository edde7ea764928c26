#include <cmath>
#include <cstdio>

#include "platform/foundation/CivilTime.h"
#include "platform/foundation/Value.h"

namespace platform {

namespace {

bool isBareText(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '$' || c == '.' || c == '/' ||
                           c == ':' || c == '-' || static_cast<unsigned char>(c) >= 0x80;
        if (!plain) {
            return false;
        }
    }
    return true;
}

void appendQuoted(std::string& out, std::string_view text) {
    if (isBareText(text)) {
        out += text;
        return;
    }
    out += '"';
    for (char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    out += '"';
}

std::string dateText(Date date) {
    const double seconds = std::floor(date.secondsSince1970);
    // No calendar time for NaN, infinities or what 64-bit seconds cannot hold.
    if (!(seconds >= -9223372036854775808.0 && seconds < 9223372036854775808.0)) {
        return "<invalid date " + *Value(date.secondsSince1970).stringValue() + ">";
    }
    const CivilTime t = civilFromSeconds(static_cast<std::int64_t>(seconds));
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02u %02u:%02u:%02u +0000",
                  static_cast<long long>(t.year), t.month, t.day, t.hour, t.minute, t.second);
    return buffer;
}

void describe(std::string& out, const Value& value, int depth, bool nested) {
    const auto indent = [&out](int level) { out.append(static_cast<std::size_t>(level) * 4, ' '); };
    switch (value.type()) {
        case Value::Type::Null:
            out += "<null>";
            return;
        case Value::Type::String:
            if (nested) {
                appendQuoted(out, *value.stringIf());
            } else {
                out += *value.stringIf();
            }
            return;
        case Value::Type::Bytes: {
            static constexpr char kHex[] = "0123456789abcdef";
            out += '<';
            const Bytes& bytes = *value.bytesIf();
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                if (i > 0 && i % 4 == 0) {
                    out += ' ';
                }
                out += kHex[bytes[i] >> 4];
                out += kHex[bytes[i] & 0xF];
            }
            out += '>';
            return;
        }
        case Value::Type::Date:
            out += dateText(*value.dateIf());
            return;
        case Value::Type::Array: {
            out += "(\n";
            const Array& array = *value.arrayIf();
            for (std::size_t i = 0; i < array.size(); ++i) {
                indent(depth + 1);
                describe(out, array[i], depth + 1, true);
                out += i + 1 < array.size() ? ",\n" : "\n";
            }
            indent(depth);
            out += ')';
            return;
        }
        case Value::Type::Dictionary:
            out += "{\n";
            for (const auto& [key, item] : *value.dictionaryIf()) {
                indent(depth + 1);
                appendQuoted(out, key);
                out += " = ";
                describe(out, item, depth + 1, true);
                out += ";\n";
            }
            indent(depth);
            out += '}';
            return;
        case Value::Type::Object:
            out += '<';
            out += value.objectIf()->className();
            out += '>';
            return;
        default:
            out += *value.stringValue();
    }
}

}  // namespace

std::string Value::description() const {
    std::string out;
    describe(out, *this, 0, false);
    return out;
}

}  // namespace platform
