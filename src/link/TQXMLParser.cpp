#include "link/TQXMLParser.h"

#include <utility>
#include <vector>

#include "utils/TQUtils.h"
#include "platform/foundation/XmlParser.h"

using platform::Dictionary;
using platform::Value;

namespace {

constexpr std::string_view kTextKey = "text";
constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";

// Builds the dictionary form from the parser's events. An element's dictionary joins its
// parent when the element ends, which gives the same keys in the same order as joining at
// the start, since nothing else is added to the parent in between.
class DictionaryBuilder : public platform::xml::Handler {
public:
    DictionaryBuilder() { dictionaryStack_.emplace_back(); }

    void startElement(std::string_view name,
                      std::span<const platform::xml::Attribute> attributes) override {
        Dictionary element;
        for (const auto& attribute : attributes) {
            element.set(std::string(attribute.name), Value(attribute.value));
        }
        names_.emplace_back(name);
        dictionaryStack_.push_back(std::move(element));
    }

    void endElement(std::string_view /*name*/) override {
        Dictionary element = std::move(dictionaryStack_.back());
        dictionaryStack_.pop_back();
        if (!textInProgress_.empty()) {
            element.set(std::string(kTextKey), Value(std::exchange(textInProgress_, {})));
        }
        add(dictionaryStack_.back(), std::move(names_.back()), std::move(element));
        names_.pop_back();
    }

    void characters(std::string_view text) override { textInProgress_ += text; }

    Dictionary take() { return std::move(dictionaryStack_.front()); }

private:
    // One child keeps its dictionary; a second of the same name (or a child named like an
    // attribute) turns the entry into an array in arrival order.
    static void add(Dictionary& parent, std::string name, Dictionary child) {
        Value* existing = parent.find(name);
        if (existing == nullptr) {
            parent.set(std::move(name), Value(std::move(child)));
        } else if (platform::Array* items = existing->mutableArray()) {
            items->emplace_back(std::move(child));
        } else {
            *existing = Value(platform::Array{std::move(*existing), Value(std::move(child))});
        }
    }

    std::vector<Dictionary> dictionaryStack_;  // bottom: the result
    std::vector<std::string> names_;           // names of the open elements
    std::string textInProgress_;
};

void appendElement(std::string& out, const Dictionary& dictionary,
                   std::optional<std::string_view> name) {
    if (name) {
        out.append("<").append(*name).append(">\n");
    }
    for (const auto& [key, value] : dictionary) {
        if (const platform::Array* items = value.arrayIf()) {
            for (const Value& item : *items) {
                if (const Dictionary* child = item.dictionaryIf()) {
                    appendElement(out, *child, key);
                }
            }
        } else if (const Dictionary* child = value.dictionaryIf()) {
            appendElement(out, *child, key);
        } else if (const auto text = value.stringValue(); text && !text->empty()) {
            // An application name holding "<" or "&" must not break the list file.
            platform::xml::appendEscapedText(out, TQUtils::trimmedWhiteSpaceAndNewlines(*text));
        }
    }
    if (name) {
        out.append("</").append(*name).append(">\n");
    }
}

}  // namespace

std::optional<Dictionary> TQXMLParser::dictionaryForXMLData(std::span<const std::uint8_t> data) {
    return dictionaryForXMLString(
        std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

std::optional<Dictionary> TQXMLParser::dictionaryForXMLString(std::string_view string) {
    DictionaryBuilder builder;
    if (!platform::xml::parse(string, builder)) {
        return std::nullopt;
    }
    return builder.take();
}

std::string TQXMLParser::convertDictionaryToXML(const Dictionary& dictionary,
                                                std::optional<std::string_view> startElement,
                                                bool isFirstElement) {
    std::string out;
    if (isFirstElement) {
        out += kDeclaration;
    }
    appendElement(out, dictionary, startElement);
    return out;
}
