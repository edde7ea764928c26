// The store's XML replies as dictionaries, under every set of options the first two bytes
// choose: a failure is reported, the readers take any result, and with the root's name kept
// what is written is a document again.

#include <cstdlib>
#include <string_view>

#include "FuzzSupport.h"
#include "utils/XMLDictParser.h"

namespace {

void touch(const platform::Dictionary& node) {
    (void)xmldict::attributes(node);
    (void)xmldict::childNodes(node);
    (void)xmldict::innerText(node);
    (void)xmldict::nodeName(node);
    for (const auto& [key, value] : node) {
        (void)xmldict::stringValueForKeyPath(node, key);
        (void)xmldict::arrayValueForKeyPath(node, key);
        (void)xmldict::dictionaryValueForKeyPath(node, key);
        if (const platform::Dictionary* child = value.dictionaryIf()) {
            touch(*child);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    XMLDictParser parser = XMLDictParser::sharedInstance();
    parser.collapseTextNodes = (data[0] & 0x01) == 0;
    parser.stripEmptyNodes = (data[0] & 0x02) == 0;
    parser.trimWhiteSpace = (data[0] & 0x04) == 0;
    parser.alwaysUseArrays = (data[0] & 0x08) != 0;
    parser.preserveComments = (data[0] & 0x10) != 0;
    parser.wrapRootNode = (data[0] & 0x20) != 0;
    parser.attributesMode = data[1] & 0x03;
    parser.nodeNameMode = (data[1] >> 2) & 0x03;
    const std::string_view document(reinterpret_cast<const char*>(data + 2), size - 2);

    const auto parsed = parser.dictionaryWithString(document);
    if (!parsed.dictionary) {
        return 0;
    }
    touch(*parsed.dictionary);
    const std::string written = xmldict::XMLString(*parsed.dictionary);
    // Names beginning with "_" read back as attributes or as the node's name, comments may hold
    // "--", and a nameless root of text alone writes as bare text: only the plain case must
    // read again.
    const bool plain = parsed.ok() && parser.nodeNameMode == XMLDictParser::kNodeNameRootOnly &&
                       !parser.preserveComments &&
                       parser.attributesMode != XMLDictParser::kAttributesUnprefixed &&
                       document.find('_') == std::string_view::npos;
    if (plain && !xmldict::dictionaryWithXMLString(written).ok()) {
        std::abort();
    }
    return 0;
}
