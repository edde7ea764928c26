// The watch's XML documents: the event reader, and the dictionaries the link makes of them,
// which write back out as a document that reads again.

#include <cstdlib>
#include <string_view>

#include "FuzzSupport.h"
#include "link/TQXMLParser.h"
#include "platform/foundation/XmlParser.h"

namespace {

// Touches every piece of every event, so that a view past its text shows up.
class Reader final : public platform::xml::Handler {
public:
    void startElement(std::string_view name,
                      std::span<const platform::xml::Attribute> attributes) override {
        take(name);
        for (const auto& attribute : attributes) {
            take(attribute.name);
            take(attribute.value);
        }
    }
    void endElement(std::string_view name) override { take(name); }
    void characters(std::string_view text) override { take(text); }

    std::size_t sum = 0;

private:
    void take(std::string_view text) {
        for (const char c : text) {
            sum += static_cast<unsigned char>(c);
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader reader;
    (void)platform::xml::parse(std::string_view(reinterpret_cast<const char*>(data), size), reader);

    const auto dictionary = TQXMLParser::dictionaryForXMLData(std::span(data, size));
    if (!dictionary) {
        return 0;
    }
    const std::string written =
        TQXMLParser::convertDictionaryToXML(*dictionary, std::nullopt, true);
    if (!TQXMLParser::dictionaryForXMLString(written)) {
        std::abort();
    }
    return 0;
}
