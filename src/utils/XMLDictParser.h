#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"

// The store's XML replies as dictionaries (unlike TQXMLParser's form, which the watch's lists
// use): the document element's dictionary carries its name under "__name", attributes under
// "_" + name, text under "__text" (an array when split by children), comments under
// "__comments"; children sit under their names, an array once a name repeats; a child with
// only text becomes its text, an empty child is dropped.
class XMLDictParser {
public:
    enum AttributesMode : std::int64_t {
        kAttributesPrefixed = 0,    // "_" + name
        kAttributesDictionary = 1,  // all under "__attributes"
        kAttributesUnprefixed = 2,  // under their own names
        kAttributesDiscard = 3,     // and any other value
    };
    enum NodeNameMode : std::int64_t {
        kNodeNameRootOnly = 0,
        kNodeNameAlways = 1,
        kNodeNameNever = 2,  // and any other value
    };

    // What a parse built, and whether the whole document was read. After an error the
    // dictionary holds what was built before it (nothing when no element had started).
    struct Parsed {
        std::optional<platform::Dictionary> dictionary;
        std::optional<platform::Error> error;

        [[nodiscard]] bool ok() const { return !error.has_value(); }
    };

    bool collapseTextNodes = true;
    bool stripEmptyNodes = true;
    bool trimWhiteSpace = true;
    bool alwaysUseArrays = false;
    bool preserveComments = false;
    bool wrapRootNode = false;
    std::int64_t attributesMode = kAttributesPrefixed;
    std::int64_t nodeNameMode = kNodeNameRootOnly;

    // The options everyone starts from; never changed by the system. Copy it to change them.
    static const XMLDictParser& sharedInstance();

    // Each parse works on state of its own, so one parser serves several threads at once.
    [[nodiscard]] Parsed dictionaryWithData(std::span<const std::uint8_t> data) const;
    [[nodiscard]] Parsed dictionaryWithString(std::string_view string) const;
    // A file that cannot be read, or larger than maxBytes, is an error with no dictionary.
    [[nodiscard]] Parsed dictionaryWithFile(const std::filesystem::path& path,
                                            std::size_t maxBytes = std::size_t{16} << 20) const;

    // XML text of a node under name: an array repeats name for each item; a dictionary is an
    // element with its attributes and innerXML; anything else is an element holding its
    // escaped description.
    [[nodiscard]] static std::string XMLStringForNode(const platform::Value& node,
                                                      std::string_view name);
};

// Reading and writing the dictionary form; parses use a copy of the shared parser's options.
namespace xmldict {

[[nodiscard]] XMLDictParser::Parsed dictionaryWithXMLData(std::span<const std::uint8_t> data);
[[nodiscard]] XMLDictParser::Parsed dictionaryWithXMLString(std::string_view string);
[[nodiscard]] XMLDictParser::Parsed dictionaryWithXMLFile(const std::filesystem::path& path);

// "__attributes", else the entries whose key begins with "_" (not the special ones), without it.
[[nodiscard]] std::optional<platform::Dictionary> attributes(const platform::Dictionary& node);
// The entries that are neither attributes nor special; nothing when none is left.
[[nodiscard]] std::optional<platform::Dictionary> childNodes(const platform::Dictionary& node);
[[nodiscard]] const platform::Value* comments(const platform::Dictionary& node);
[[nodiscard]] std::optional<std::string> nodeName(const platform::Dictionary& node);
// "__text"; its pieces joined with line feeds when there are several.
[[nodiscard]] std::optional<std::string> innerText(const platform::Dictionary& node);
// Comments, children and escaped text, joined with line feeds.
[[nodiscard]] std::string innerXML(const platform::Dictionary& node);
// The node as an element named by its "__name" ("root" without one); a dictionary of one
// entry and no name gives its inner XML, as the result of a wrapped root does.
[[nodiscard]] std::string XMLString(const platform::Dictionary& node);

// Values at a key path of dictionary keys joined by ".": as an array (one value becomes one
// item), as a string (the first item of an array, the inner text of a dictionary), as a
// dictionary (the first item of an array; a string s as {"__text": s}).
[[nodiscard]] std::optional<platform::Array> arrayValueForKeyPath(const platform::Dictionary& node,
                                                                  std::string_view keyPath);
[[nodiscard]] std::optional<std::string> stringValueForKeyPath(const platform::Dictionary& node,
                                                               std::string_view keyPath);
[[nodiscard]] std::optional<platform::Dictionary> dictionaryValueForKeyPath(
    const platform::Dictionary& node, std::string_view keyPath);

// text with & < > " ' as entities, in that order (an entity already there is escaped again).
[[nodiscard]] std::string XMLEncodedString(std::string_view text);

}  // namespace xmldict
