#include "utils/XMLDictParser.h"

#include <utility>
#include <vector>

#include "platform/foundation/FileSystem.h"
#include "platform/foundation/XmlParser.h"
#include "utils/TQUtils.h"

using platform::Array;
using platform::Dictionary;
using platform::Value;

namespace {

constexpr std::string_view kNameKey = "__name";
constexpr std::string_view kTextKey = "__text";
constexpr std::string_view kCommentsKey = "__comments";
constexpr std::string_view kAttributesKey = "__attributes";

bool isSpecialKey(std::string_view key) {
    return key == kNameKey || key == kTextKey || key == kCommentsKey || key == kAttributesKey;
}

// Appends piece under key: alone at first, then as an array of every piece in order.
void appendUnder(Dictionary& node, std::string_view key, Value piece) {
    Value* existing = node.find(key);
    if (existing == nullptr) {
        node.set(std::string(key), std::move(piece));
    } else if (Array* items = existing->mutableArray()) {
        items->push_back(std::move(piece));
    } else {
        *existing = Value(Array{std::move(*existing), std::move(piece)});
    }
}

// Builds the dictionary form from the reader's events. Each open element keeps its dictionary
// on the stack and a placeholder in its parent's, at the place it will take; when it ends, the
// placeholder becomes its final form (its dictionary, its text, or nothing).
class Builder final : public platform::xml::Handler {
public:
    explicit Builder(const XMLDictParser& options) : options_(options) {}

    void startElement(std::string_view name,
                      std::span<const platform::xml::Attribute> attributes) override {
        endText();
        Frame frame;
        frame.name = name;
        Dictionary& node = frame.node;
        if (options_.nodeNameMode == XMLDictParser::kNodeNameAlways ||
            (options_.nodeNameMode == XMLDictParser::kNodeNameRootOnly && !started_)) {
            node.set(std::string(kNameKey), Value(name));
        }
        if (!attributes.empty()) {
            addAttributes(node, attributes);
        }
        if (!started_) {
            started_ = true;
            if (options_.wrapRootNode) {
                Frame wrapper;
                wrapper.node.set(frame.name, Value());
                stack_.push_back(std::move(wrapper));
                frame.placed = true;
            }
        } else if (!stack_.empty()) {
            Dictionary& parent = stack_.back().node;
            if (parent.contains(name)) {
                appendUnder(parent, name, Value());
                frame.inArray = true;
            } else if (options_.alwaysUseArrays) {
                parent.set(frame.name, Value(Array{Value()}));
                frame.inArray = true;
            } else {
                parent.set(frame.name, Value());
            }
            frame.placed = true;
        }
        stack_.push_back(std::move(frame));
    }

    void endElement(std::string_view /*name*/) override {
        endText();
        if (stack_.empty()) {
            return;
        }
        Frame frame = std::move(stack_.back());
        stack_.pop_back();
        if (!frame.placed) {
            result_ = std::move(frame.node);
            return;
        }
        place(frame, finalForm(frame.node));
    }

    void characters(std::string_view text) override {
        if (text_) {
            text_->append(text);
        } else {
            text_.emplace(text);
        }
    }

    void comment(std::string_view text) override {
        if (!options_.preserveComments || stack_.empty()) {
            return;
        }
        Dictionary& node = stack_.back().node;
        Value* existing = node.find(kCommentsKey);
        if (existing == nullptr) {
            node.set(std::string(kCommentsKey), Value(Array{Value(text)}));
        } else {
            appendUnder(node, kCommentsKey, Value(text));
        }
    }

    // The result: after an error, the elements still open as they stood.
    std::optional<Dictionary> take() {
        while (!stack_.empty()) {
            Frame frame = std::move(stack_.back());
            stack_.pop_back();
            if (!frame.placed) {
                result_ = std::move(frame.node);
            } else {
                place(frame, Value(std::move(frame.node)));
            }
        }
        return std::move(result_);
    }

private:
    struct Frame {
        Dictionary node;
        std::string name;
        // Whether a placeholder waits in the frame below: under name, alone or as the last
        // item of an array.
        bool placed = false;
        bool inArray = false;
    };

    void addAttributes(Dictionary& node, std::span<const platform::xml::Attribute> attributes) {
        switch (options_.attributesMode) {
            case XMLDictParser::kAttributesPrefixed:
                for (const auto& attribute : attributes) {
                    node.set("_" + std::string(attribute.name), Value(attribute.value));
                }
                break;
            case XMLDictParser::kAttributesDictionary: {
                Dictionary all;
                for (const auto& attribute : attributes) {
                    all.set(std::string(attribute.name), Value(attribute.value));
                }
                node.set(std::string(kAttributesKey), Value(std::move(all)));
                break;
            }
            case XMLDictParser::kAttributesUnprefixed:
                for (const auto& attribute : attributes) {
                    node.set(std::string(attribute.name), Value(attribute.value));
                }
                break;
            default:
                break;
        }
    }

    // The collected text ends at every tag: trimmed, it joins the open element's "__text".
    void endText() {
        if (!text_) {
            return;
        }
        std::string text = std::move(*text_);
        text_.reset();
        std::string_view piece = text;
        if (options_.trimWhiteSpace) {
            piece = TQUtils::trimmedWhiteSpaceAndNewlines(piece);
        }
        if (!piece.empty() && !stack_.empty()) {
            appendUnder(stack_.back().node, kTextKey, Value(piece));
        }
    }

    // What an ended element leaves in its parent; a null value leaves nothing.
    Value finalForm(Dictionary& node) const {
        if (xmldict::attributes(node) || xmldict::childNodes(node) || xmldict::comments(node)) {
            return Value(std::move(node));
        }
        const auto text = xmldict::innerText(node);
        if (text && options_.collapseTextNodes) {
            return Value(*text);
        }
        if (!text && options_.stripEmptyNodes) {
            return Value();
        }
        if (!text && !options_.collapseTextNodes) {
            node.set(std::string(kTextKey), Value(""));
        }
        return Value(std::move(node));
    }

    // Puts form where frame's placeholder waits in the frame below; a null form removes it.
    void place(const Frame& frame, Value form) {
        if (stack_.empty()) {
            return;
        }
        Dictionary& parent = stack_.back().node;
        Value* slot = parent.find(frame.name);
        if (slot == nullptr) {
            return;
        }
        if (frame.inArray) {
            Array* items = slot->mutableArray();
            if (items == nullptr || items->empty()) {
                return;
            }
            if (form.isNull()) {
                items->pop_back();
            } else {
                items->back() = std::move(form);
            }
        } else if (form.isNull()) {
            parent.remove(frame.name);
        } else {
            *slot = std::move(form);
        }
    }

    const XMLDictParser& options_;
    std::vector<Frame> stack_;
    std::optional<Dictionary> result_;
    std::optional<std::string> text_;
    bool started_ = false;
};

const Value* valueAtKeyPath(const Dictionary& node, std::string_view keyPath) {
    const Value* value = nullptr;
    const Dictionary* current = &node;
    while (current != nullptr) {
        const auto dot = keyPath.find('.');
        value = current->find(keyPath.substr(0, dot));
        if (value == nullptr || dot == std::string_view::npos) {
            return value;
        }
        keyPath.remove_prefix(dot + 1);
        current = value->dictionaryIf();
    }
    return nullptr;
}

// The value at keyPath; of an array, its first item.
const Value* firstValueAtKeyPath(const Dictionary& node, std::string_view keyPath) {
    const Value* value = valueAtKeyPath(node, keyPath);
    if (value != nullptr && value->isArray()) {
        value = value->size() == 0 ? nullptr : &value->arrayIf()->front();
    }
    return value;
}

std::string join(const std::vector<std::string>& pieces) {
    std::string out;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) {
            out += '\n';
        }
        out += pieces[i];
    }
    return out;
}

}  // namespace

// ---- parsing ----

const XMLDictParser& XMLDictParser::sharedInstance() {
    static const XMLDictParser shared;
    return shared;
}

XMLDictParser::Parsed XMLDictParser::dictionaryWithData(std::span<const std::uint8_t> data) const {
    return dictionaryWithString(
        std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

XMLDictParser::Parsed XMLDictParser::dictionaryWithString(std::string_view string) const {
    Builder builder(*this);
    auto outcome = platform::xml::parse(string, builder);
    Parsed parsed{builder.take(), std::nullopt};
    if (!outcome) {
        parsed.error = outcome.error();
    }
    return parsed;
}

XMLDictParser::Parsed XMLDictParser::dictionaryWithFile(const std::filesystem::path& path,
                                                        std::size_t maxBytes) const {
    auto contents = platform::fs::readFile(path, maxBytes);
    if (!contents) {
        return Parsed{std::nullopt, contents.error()};
    }
    return dictionaryWithString(*contents);
}

// ---- writing ----

std::string XMLDictParser::XMLStringForNode(const Value& node, std::string_view name) {
    if (const Array* items = node.arrayIf()) {
        std::vector<std::string> pieces;
        pieces.reserve(items->size());
        for (const Value& item : *items) {
            pieces.push_back(XMLStringForNode(item, name));
        }
        return join(pieces);
    }
    const std::string tag(name);
    if (const Dictionary* dictionary = node.dictionaryIf()) {
        std::string attributeText;
        if (const auto attributes = xmldict::attributes(*dictionary)) {
            for (const auto& [key, value] : *attributes) {
                attributeText += " " + xmldict::XMLEncodedString(key) + "=\"" +
                                 xmldict::XMLEncodedString(value.description()) + "\"";
            }
        }
        const std::string inner = xmldict::innerXML(*dictionary);
        if (inner.empty()) {
            return "<" + tag + attributeText + "/>";
        }
        return "<" + tag + attributeText + ">" + inner + "</" + tag + ">";
    }
    return "<" + tag + ">" + xmldict::XMLEncodedString(node.description()) + "</" + tag + ">";
}

namespace xmldict {

XMLDictParser::Parsed dictionaryWithXMLData(std::span<const std::uint8_t> data) {
    return XMLDictParser(XMLDictParser::sharedInstance()).dictionaryWithData(data);
}

XMLDictParser::Parsed dictionaryWithXMLString(std::string_view string) {
    return XMLDictParser(XMLDictParser::sharedInstance()).dictionaryWithString(string);
}

XMLDictParser::Parsed dictionaryWithXMLFile(const std::filesystem::path& path) {
    return XMLDictParser(XMLDictParser::sharedInstance()).dictionaryWithFile(path);
}

std::optional<Dictionary> attributes(const Dictionary& node) {
    if (const Value* all = node.find(kAttributesKey)) {
        if (const Dictionary* dictionary = all->dictionaryIf()) {
            return *dictionary;
        }
        return std::nullopt;
    }
    Dictionary found;
    for (const auto& [key, value] : node) {
        if (key.starts_with('_') && !isSpecialKey(key)) {
            found.set(key.substr(1), value);
        }
    }
    if (found.empty()) {
        return std::nullopt;
    }
    return found;
}

std::optional<Dictionary> childNodes(const Dictionary& node) {
    Dictionary children;
    for (const auto& [key, value] : node) {
        if (!key.starts_with('_')) {
            children.set(key, value);
        }
    }
    if (children.empty()) {
        return std::nullopt;
    }
    return children;
}

const Value* comments(const Dictionary& node) {
    return node.find(kCommentsKey);
}

std::optional<std::string> nodeName(const Dictionary& node) {
    const Value* name = node.find(kNameKey);
    return name != nullptr ? name->stringValue() : std::nullopt;
}

std::optional<std::string> innerText(const Dictionary& node) {
    const Value* text = node.find(kTextKey);
    if (text == nullptr) {
        return std::nullopt;
    }
    if (const Array* pieces = text->arrayIf()) {
        std::vector<std::string> texts;
        texts.reserve(pieces->size());
        for (const Value& piece : *pieces) {
            texts.push_back(piece.description());
        }
        return join(texts);
    }
    return text->description();
}

std::string innerXML(const Dictionary& node) {
    std::vector<std::string> pieces;
    if (const Value* all = comments(node)) {
        if (const Array* items = all->arrayIf()) {
            for (const Value& item : *items) {
                pieces.push_back("<!--" + XMLEncodedString(item.description()) + "-->");
            }
        }
    }
    if (const auto children = childNodes(node)) {
        for (const auto& [key, value] : *children) {
            pieces.push_back(XMLDictParser::XMLStringForNode(value, key));
        }
    }
    if (const auto text = innerText(node)) {
        pieces.push_back(XMLEncodedString(*text));
    }
    return join(pieces);
}

std::string XMLString(const Dictionary& node) {
    if (node.size() == 1 && !node.contains(kNameKey)) {
        return innerXML(node);
    }
    return XMLDictParser::XMLStringForNode(Value(node), nodeName(node).value_or("root"));
}

std::optional<Array> arrayValueForKeyPath(const Dictionary& node, std::string_view keyPath) {
    const Value* value = valueAtKeyPath(node, keyPath);
    if (value == nullptr || value->isNull()) {
        return std::nullopt;
    }
    if (const Array* items = value->arrayIf()) {
        return *items;
    }
    return Array{*value};
}

std::optional<std::string> stringValueForKeyPath(const Dictionary& node, std::string_view keyPath) {
    const Value* value = firstValueAtKeyPath(node, keyPath);
    if (value == nullptr) {
        return std::nullopt;
    }
    if (const Dictionary* dictionary = value->dictionaryIf()) {
        return innerText(*dictionary);
    }
    return value->stringValue();
}

std::optional<Dictionary> dictionaryValueForKeyPath(const Dictionary& node,
                                                    std::string_view keyPath) {
    const Value* value = firstValueAtKeyPath(node, keyPath);
    if (value == nullptr) {
        return std::nullopt;
    }
    if (const Dictionary* dictionary = value->dictionaryIf()) {
        return *dictionary;
    }
    if (const std::string* text = value->stringIf()) {
        return Dictionary{{std::string(kTextKey), Value(*text)}};
    }
    return std::nullopt;
}

std::string XMLEncodedString(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace xmldict
