#pragma once

#include <span>
#include <string>
#include <string_view>

#include "platform/foundation/Result.h"

namespace platform::xml {

inline constexpr const char* kErrorDomain = "platform.xml";
inline constexpr int kMaxDepth = 256;

enum ErrorCode : long { kSyntax = 1, kTooDeep = 2, kDocumentType = 3 };

// One attribute of a start tag; both texts are only valid during the callback.
struct Attribute {
    std::string_view name;
    std::string_view value;
};

// Receives the events of one document in order. Names are qualified names as written (no
// namespace processing); texts are UTF-8 with entity and character references resolved.
class Handler {
public:
    virtual ~Handler() = default;

    virtual void startElement(std::string_view /*name*/,
                              std::span<const Attribute> /*attributes*/) {}
    virtual void endElement(std::string_view /*name*/) {}
    // One run of character data may arrive in several pieces; CDATA sections arrive here too.
    virtual void characters(std::string_view /*text*/) {}
    // The text between "<!--" and "-->".
    virtual void comment(std::string_view /*text*/) {}
};

// Reads document and reports its events to handler. Fails on anything that is not a
// well-formed document, on a document type declaration (with it, entities that expand without
// bound or point outside) and on elements nested deeper than maxDepth; the events reported
// before the failure stand. The encoding is taken from the document (UTF-8 by default).
Result<void> parse(std::string_view document, Handler& handler, int maxDepth = kMaxDepth);

// Appends text as element content: "&", "<" and ">" as entities, and a carriage return as a
// character reference, since readers fold a raw one into a line feed.
void appendEscapedText(std::string& out, std::string_view text);

}  // namespace platform::xml
