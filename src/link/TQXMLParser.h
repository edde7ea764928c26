#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

// Converts the watch's XML documents (application, watch-face and order lists, status) to
// dictionaries and back.
//
// Dictionary form: { <document element>: <element> }, where an element's dictionary holds its
// attributes as strings, each child element under its name (an array once a name repeats, in
// document order, an attribute of the same name first) and its text under "text". Text is the
// character data since the last end tag, untrimmed, and belongs to the element that ends next.
class TQXMLParser {
public:
    TQXMLParser() = delete;

    // Nothing when the data is not a well-formed document.
    [[nodiscard]] static std::optional<platform::Dictionary> dictionaryForXMLData(
        std::span<const std::uint8_t> data);
    [[nodiscard]] static std::optional<platform::Dictionary> dictionaryForXMLString(
        std::string_view string);

    // XML text of dictionary without indentation: every start and end tag on a line of its
    // own, text right after its element's start tag, trimmed. Keys become elements in the
    // dictionary's order; arrays repeat their key for each dictionary item and skip other
    // items; any other value is written, escaped, as content of the enclosing element (the
    // key itself is not written, so a parsed attribute comes back as text). isFirstElement
    // writes the XML declaration line first.
    [[nodiscard]] static std::string convertDictionaryToXML(
        const platform::Dictionary& dictionary, std::optional<std::string_view> startElement,
        bool isFirstElement);
};
