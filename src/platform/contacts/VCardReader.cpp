#include "platform/contacts/VCardReader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <initializer_list>
#include <map>
#include <utility>

#include "platform/foundation/Base64.h"
#include "platform/foundation/CivilTime.h"
#include "platform/foundation/Text.h"
#include "platform/foundation/Utf8.h"

namespace platform::contacts {

std::string labelName(LabelKind kind) {
    switch (kind) {
        case LabelKind::none:
        case LabelKind::custom:
            return "";
        case LabelKind::home:
            return "home";
        case LabelKind::work:
            return "work";
        case LabelKind::other:
            return "other";
        case LabelKind::mobile:
            return "mobile";
        case LabelKind::main:
            return "main";
        case LabelKind::homeFax:
            return "home fax";
        case LabelKind::workFax:
            return "work fax";
    }
    return "";
}

bool looksLikeImage(std::string_view bytes) {
    const auto starts = [&](std::string_view magic) { return bytes.starts_with(magic); };
    return starts("\xFF\xD8\xFF") || starts("\x89PNG\r\n\x1A\n") || starts("GIF87a") ||
           starts("GIF89a") || starts("BM") || starts(std::string_view("II*\0", 4)) ||
           starts(std::string_view("MM\0*", 4)) ||
           (bytes.size() >= 12 && starts("RIFF") && bytes.substr(8, 4) == "WEBP");
}

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool isNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-';
}

// A card's refusal: the message that goes into the issue.
struct Refusal {
    std::string message;
};

// One unfolded content line, split.
struct ContentLine {
    std::string group;  // lower case, "" for none
    std::string name;   // upper case
    // Parameter names upper case; values as written, unquoted. A 2.1 bare parameter ("CELL")
    // is a TYPE value.
    std::vector<std::pair<std::string, std::string>> params;
    std::string value;

    [[nodiscard]] std::optional<std::string> param(std::string_view wanted) const {
        for (const auto& [key, text] : params) {
            if (key == wanted) {
                return text;
            }
        }
        return std::nullopt;
    }
    // Every TYPE value, lower case.
    [[nodiscard]] std::vector<std::string> types() const {
        std::vector<std::string> out;
        for (const auto& [key, text] : params) {
            if (key != "TYPE") {
                continue;
            }
            std::size_t start = 0;
            while (start <= text.size()) {
                const std::size_t comma = std::min(text.find(',', start), text.size());
                if (comma > start) {
                    out.push_back(lower(text.substr(start, comma - start)));
                }
                start = comma + 1;
            }
        }
        return out;
    }
};

std::optional<ContentLine> splitLine(std::string_view line) {
    ContentLine out;
    std::size_t at = 0;
    const auto readName = [&]() {
        const std::size_t start = at;
        while (at < line.size() && isNameChar(line[at])) {
            ++at;
        }
        return line.substr(start, at - start);
    };
    std::string_view first = readName();
    if (first.empty()) {
        return std::nullopt;
    }
    if (at < line.size() && line[at] == '.') {
        ++at;
        out.group = lower(first);
        first = readName();
        if (first.empty()) {
            return std::nullopt;
        }
    }
    for (char c : first) {
        out.name.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    while (at < line.size() && line[at] == ';') {
        ++at;
        std::string key;
        for (char c : readName()) {
            key.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
        }
        if (key.empty()) {
            return std::nullopt;
        }
        if (at < line.size() && line[at] == '=') {
            ++at;
            std::string value;
            // Values separated by commas, each plain or quoted; quotes may hold ':' and ';'.
            while (at < line.size() && line[at] != ';' && line[at] != ':') {
                if (line[at] == '"') {
                    const std::size_t close = line.find('"', at + 1);
                    if (close == std::string_view::npos) {
                        return std::nullopt;
                    }
                    value.append(line.substr(at + 1, close - at - 1));
                    at = close + 1;
                } else {
                    value.push_back(line[at++]);
                }
            }
            out.params.emplace_back(std::move(key), std::move(value));
        } else {
            out.params.emplace_back("TYPE", key);
        }
    }
    if (at >= line.size() || line[at] != ':') {
        return std::nullopt;
    }
    out.value = std::string(line.substr(at + 1));
    return out;
}

std::optional<std::string> decodeQuotedPrintable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const int high = hexDigitValue(text[i + 1]);
        const int low = hexDigitValue(text[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return out;
}

std::string latin1ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return out;
}

// Splits a structured value at the semicolons that are not escaped; the parts keep their
// escapes.
std::vector<std::string_view> components(std::string_view value) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\') {
            ++i;
        } else if (value[i] == ';') {
            out.push_back(value.substr(start, i - start));
            start = i + 1;
        }
    }
    out.push_back(value.substr(start));
    return out;
}

std::string unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            out.push_back(next == 'n' || next == 'N' ? '\n' : next);
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::optional<std::string> presentText(std::string text) {
    if (text.empty()) {
        return std::nullopt;
    }
    return text;
}

// "19951031T222710Z", "1995-10-31T22:27:10Z", with an offset or none (read as UTC), or a date.
std::optional<std::int64_t> parseTimestamp(std::string_view text) {
    std::string digits;
    std::size_t at = 0;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
            digits.push_back(c);
        } else if (c != '-' && c != ':' && c != 'T') {
            break;
        }
    }
    if (digits.size() != 8 && digits.size() != 14) {
        return std::nullopt;
    }
    const auto number = [&](std::size_t from, std::size_t count) {
        return static_cast<unsigned>(std::stoul(digits.substr(from, count)));
    };
    CivilTime time{number(0, 4), number(4, 2), number(6, 2)};
    if (digits.size() == 14) {
        time.hour = number(8, 2);
        time.minute = number(10, 2);
        time.second = number(12, 2);
    }
    if (time.month < 1 || time.month > 12 || time.day < 1 ||
        time.day > daysInMonth(time.year, time.month) || time.hour > 23 || time.minute > 59 ||
        time.second > 60) {
        return std::nullopt;
    }
    std::int64_t seconds = secondsFromCivil(time);
    if (at < text.size() && text[at] == '.') {
        while (++at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) != 0) {
        }
    }
    const std::string_view zone = text.substr(std::min(at, text.size()));
    if (zone.empty() || zone == "Z") {
        return seconds;
    }
    std::string offset;
    for (char c : zone.substr(1)) {
        if (c != ':') {
            offset.push_back(c);
        }
    }
    if ((zone[0] != '+' && zone[0] != '-') || (offset.size() != 2 && offset.size() != 4) ||
        !std::all_of(offset.begin(), offset.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
        return std::nullopt;
    }
    const std::int64_t minutes =
        std::stoi(offset.substr(0, 2)) * 60 + (offset.size() == 4 ? std::stoi(offset.substr(2)) : 0);
    return zone[0] == '+' ? seconds - minutes * 60 : seconds + minutes * 60;
}

bool has(const std::vector<std::string>& types, std::string_view type) {
    return std::find(types.begin(), types.end(), type) != types.end();
}

// The first kind whose type the list holds, in the order given.
LabelKind firstKind(const std::vector<std::string>& types,
                    std::initializer_list<std::pair<std::string_view, LabelKind>> order) {
    for (const auto& [type, kind] : order) {
        if (has(types, type)) {
            return kind;
        }
    }
    return LabelKind::none;
}

LabelKind phoneKind(const std::vector<std::string>& types) {
    if (has(types, "fax")) {
        if (const LabelKind fax = firstKind(types, {{"home", LabelKind::homeFax},
                                                    {"work", LabelKind::workFax}});
            fax != LabelKind::none) {
            return fax;
        }
    }
    return firstKind(types, {{"cell", LabelKind::mobile},
                             {"mobile", LabelKind::mobile},
                             {"main", LabelKind::main},
                             {"home", LabelKind::home},
                             {"work", LabelKind::work},
                             {"other", LabelKind::other}});
}

LabelKind emailKind(const std::vector<std::string>& types) {
    return firstKind(types,
                     {{"home", LabelKind::home}, {"work", LabelKind::work}, {"other", LabelKind::other}});
}

// A card's lines as they come, turned into a card at its end.
class CardBuilder {
public:
    explicit CardBuilder(std::size_t line) { card_.line = line; }

    // Takes one content line; a refusal rejects the card.
    std::optional<Refusal> take(const ContentLine& line, std::vector<VCardIssue>& issues,
                                std::size_t lineNumber);
    VCard finish();

private:
    struct Labeled {
        std::string group;
        LabeledValue value;
    };

    std::optional<Refusal> decodeText(const ContentLine& line, std::string& text) const;
    void takePhoto(const ContentLine& line, std::vector<VCardIssue>& issues,
                   std::size_t lineNumber);

    VCard card_;
    std::optional<std::string> fullName_;
    bool hasNameParts_ = false;
    std::vector<Labeled> phones_;
    std::vector<Labeled> emails_;
    std::map<std::string, std::string> groupLabels_;
};

std::optional<Refusal> CardBuilder::decodeText(const ContentLine& line, std::string& text) const {
    text = line.value;
    const std::string encoding = lower(line.param("ENCODING").value_or(""));
    bool quotedPrintable = encoding == "quoted-printable";
    for (const auto& [key, value] : line.params) {
        quotedPrintable = quotedPrintable || (key == "TYPE" && equalsIgnoringCase(value, "QUOTED-PRINTABLE"));
    }
    if (quotedPrintable) {
        auto decoded = decodeQuotedPrintable(text);
        if (!decoded) {
            return Refusal{line.name + ": a quoted-printable escape that is not one"};
        }
        text = std::move(*decoded);
    } else if (!encoding.empty() && encoding != "8bit" && encoding != "7bit") {
        return Refusal{line.name + ": text in encoding " + encoding};
    }
    const std::string charset = lower(line.param("CHARSET").value_or("utf-8"));
    if (charset == "iso-8859-1" || charset == "latin1") {
        text = latin1ToUtf8(text);
    } else if (charset != "utf-8" && charset != "us-ascii") {
        return Refusal{line.name + ": charset " + charset + " is not read"};
    }
    if (!isValidUtf8(text)) {
        return Refusal{line.name + ": text that is not UTF-8"};
    }
    return std::nullopt;
}

void CardBuilder::takePhoto(const ContentLine& line, std::vector<VCardIssue>& issues,
                            std::size_t lineNumber) {
    const auto leaveOut = [&](std::string why) {
        issues.push_back({lineNumber, false, "PHOTO left out: " + std::move(why)});
    };
    std::string_view value = line.value;
    const std::string encoding = lower(line.param("ENCODING").value_or(""));
    bool base64 = encoding == "b" || encoding == "base64";
    for (const auto& [key, text] : line.params) {
        base64 = base64 || (key == "TYPE" && equalsIgnoringCase(text, "BASE64"));
    }
    if (!base64) {
        if (!value.starts_with("data:")) {
            leaveOut("a link, not fetched");
            return;
        }
        const std::size_t comma = value.find(',');
        if (comma == std::string_view::npos ||
            value.substr(0, comma).find(";base64") == std::string_view::npos) {
            leaveOut("a data URI that is not base64");
            return;
        }
        value = value.substr(comma + 1);
    }
    auto bytes = base64::decode(value);
    if (!bytes) {
        leaveOut("base64 that does not decode");
        return;
    }
    if (!looksLikeImage(std::string_view(reinterpret_cast<const char*>(bytes->data()),
                                         bytes->size()))) {
        leaveOut("not an image");
        return;
    }
    card_.person.imageData = std::move(*bytes);
}

std::optional<Refusal> CardBuilder::take(const ContentLine& line, std::vector<VCardIssue>& issues,
                                         std::size_t lineNumber) {
    if (line.name == "PHOTO") {
        takePhoto(line, issues, lineNumber);
        return std::nullopt;
    }
    static const std::array kRead{"VERSION", "UID",   "N",   "FN",        "ORG",
                                  "TEL",     "EMAIL", "REV", "X-ABLABEL"};
    if (std::find(kRead.begin(), kRead.end(), line.name) == kRead.end()) {
        // Not read, but its text must still be sound: a card is taken whole or not at all.
        if (!isValidUtf8(line.value)) {
            return Refusal{line.name + ": text that is not UTF-8"};
        }
        return std::nullopt;
    }
    std::string text;
    if (auto refusal = decodeText(line, text)) {
        return refusal;
    }
    if (line.name == "VERSION") {
        if (text != "2.1" && text != "3.0" && text != "4.0") {
            return Refusal{"VERSION " + text + " is not read"};
        }
    } else if (line.name == "UID") {
        card_.uid = presentText(unescape(text));
    } else if (line.name == "N") {
        const auto parts = components(text);
        const auto part = [&](std::size_t index) {
            return index < parts.size() ? presentText(unescape(parts[index])) : std::nullopt;
        };
        card_.person.lastName = part(0);
        card_.person.firstName = part(1);
        card_.person.middleName = part(2);
        hasNameParts_ = card_.person.lastName || card_.person.firstName || card_.person.middleName;
    } else if (line.name == "FN") {
        fullName_ = presentText(unescape(text));
    } else if (line.name == "ORG") {
        card_.person.organization = presentText(unescape(components(text).front()));
    } else if (line.name == "TEL") {
        std::string number = unescape(text);
        if (number.starts_with("tel:")) {
            number.erase(0, 4);
        }
        const LabelKind kind = phoneKind(line.types());
        phones_.push_back({line.group, {kind, labelName(kind), std::move(number)}});
    } else if (line.name == "EMAIL") {
        const LabelKind kind = emailKind(line.types());
        emails_.push_back({line.group, {kind, labelName(kind), unescape(text)}});
    } else if (line.name == "REV") {
        card_.revision = parseTimestamp(text);
    } else if (line.name == "X-ABLABEL" && !line.group.empty()) {
        groupLabels_[line.group] = unescape(text);
    }
    return std::nullopt;
}

VCard CardBuilder::finish() {
    // A card named only by FN (allowed since 4.0) keeps that name as its first name, unless the
    // name is the company's.
    if (!hasNameParts_ && fullName_ && fullName_ != card_.person.organization) {
        card_.person.firstName = fullName_;
    }
    const auto labelled = [&](std::vector<Labeled>& entries, std::vector<LabeledValue>& into) {
        for (Labeled& entry : entries) {
            if (!entry.group.empty()) {
                if (auto label = groupLabels_.find(entry.group); label != groupLabels_.end()) {
                    entry.value.kind = LabelKind::custom;
                    entry.value.label = label->second;
                }
            }
            into.push_back(std::move(entry.value));
        }
    };
    labelled(phones_, card_.person.phones);
    labelled(emails_, card_.person.emails);
    return std::move(card_);
}

bool isQuotedPrintableLine(std::string_view line) {
    const std::size_t colon = line.find(':');
    const std::string head = lower(line.substr(0, colon));
    return head.find("quoted-printable") != std::string::npos;
}

// The physical lines of a text: CRLF or LF ends.
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}
    [[nodiscard]] bool done() const { return at_ >= text_.size(); }
    [[nodiscard]] std::size_t number() const { return number_; }
    std::string_view peek() const {
        const std::size_t end = std::min(text_.find('\n', at_), text_.size());
        std::string_view line = text_.substr(at_, end - at_);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        return line;
    }
    void next() {
        const std::size_t end = text_.find('\n', at_);
        at_ = end == std::string_view::npos ? text_.size() : end + 1;
        ++number_;
    }

private:
    std::string_view text_;
    std::size_t at_ = 0;
    std::size_t number_ = 1;
};

}  // namespace

VCardFile readVCards(std::string_view text, const VCardLimits& limits) {
    VCardFile out;
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    Lines lines(text);
    std::optional<CardBuilder> card;
    std::optional<Refusal> refusal;
    std::size_t cardStart = 0;
    std::size_t cardBytes = 0;
    std::size_t properties = 0;
    bool junkReported = false;

    while (!lines.done()) {
        const std::size_t number = lines.number();
        // One logical line: folded continuations (a leading space or tab) and quoted-printable
        // soft breaks (a trailing "=") joined.
        std::string logical(lines.peek().substr(0, limits.maxLineBytes + 1));
        bool oversized = lines.peek().size() > limits.maxLineBytes;
        lines.next();
        const bool quotedPrintable = isQuotedPrintableLine(logical);
        for (;;) {
            if (lines.done()) {
                break;
            }
            const std::string_view next = lines.peek();
            std::string_view piece;
            if (!next.empty() && (next[0] == ' ' || next[0] == '\t')) {
                piece = next.substr(1);
            } else if (quotedPrintable && logical.ends_with('=')) {
                logical.pop_back();
                piece = next;
            } else {
                break;
            }
            if (!oversized && logical.size() + piece.size() <= limits.maxLineBytes) {
                logical.append(piece);
            } else {
                oversized = true;
            }
            lines.next();
        }

        if (!card) {
            if (equalsIgnoringCase(logical, "BEGIN:VCARD")) {
                card.emplace(number);
                refusal.reset();
                cardStart = number;
                cardBytes = 0;
                properties = 0;
                junkReported = false;
            } else if (!logical.empty() && !junkReported) {
                out.issues.push_back({number, true, "text outside a card"});
                junkReported = true;
            }
            continue;
        }
        if (equalsIgnoringCase(logical, "END:VCARD")) {
            if (refusal) {
                out.issues.push_back({cardStart, true, std::move(refusal->message)});
            } else {
                out.cards.push_back(card->finish());
            }
            card.reset();
            continue;
        }
        if (refusal) {
            continue;  // the card is lost already; its lines only lead to its end
        }
        if (oversized) {
            refusal = Refusal{"a line longer than " + std::to_string(limits.maxLineBytes) +
                              " bytes (line " + std::to_string(number) + ")"};
            continue;
        }
        if (logical.empty()) {
            continue;  // 2.1 ends a base64 value with an empty line
        }
        cardBytes += logical.size();
        if (cardBytes > limits.maxCardBytes || ++properties > limits.maxProperties) {
            refusal = Refusal{"a card beyond its limits"};
            continue;
        }
        if (equalsIgnoringCase(logical, "BEGIN:VCARD")) {
            refusal = Refusal{"a card inside a card (line " + std::to_string(number) + ")"};
            continue;
        }
        const auto line = splitLine(logical);
        if (!line) {
            refusal = Refusal{"a malformed line (line " + std::to_string(number) + ")"};
            continue;
        }
        if (auto refused = card->take(*line, out.issues, number)) {
            refused->message += " (line " + std::to_string(number) + ")";
            refusal = std::move(refused);
        }
    }
    if (card) {
        out.issues.push_back({cardStart, true, "a card without its END"});
    }
    return out;
}

}  // namespace platform::contacts
