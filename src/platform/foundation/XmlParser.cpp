#include "platform/foundation/XmlParser.h"

#include <expat.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace platform::xml {

namespace {

struct ParserDeleter {
    void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};

class Session {
public:
    Session(Handler& handler, int maxDepth)
        : parser_(XML_ParserCreate(nullptr)), handler_(handler), maxDepth_(maxDepth) {
        XML_SetUserData(parser_.get(), this);
        XML_SetElementHandler(parser_.get(), &Session::onStart, &Session::onEnd);
        XML_SetCharacterDataHandler(parser_.get(), &Session::onText);
        XML_SetCommentHandler(parser_.get(), &Session::onComment);
        XML_SetStartDoctypeDeclHandler(parser_.get(), &Session::onDocumentType);
    }

    Result<void> run(std::string_view document) {
        if (!parser_) {
            return Error{kErrorDomain, kSyntax, "cannot create an XML parser"};
        }
        // Expat takes int lengths, so very large documents go in slices.
        constexpr std::size_t kSlice = std::size_t{1} << 24;
        do {
            const std::size_t length = std::min(document.size(), kSlice);
            const bool last = length == document.size();
            const auto status = XML_Parse(parser_.get(), document.data(), static_cast<int>(length),
                                          last ? XML_TRUE : XML_FALSE);
            if (error_) {
                return *error_;
            }
            if (status != XML_STATUS_OK) {
                return Error{kErrorDomain, kSyntax,
                             position() + ": " + XML_ErrorString(XML_GetErrorCode(parser_.get()))};
            }
            document.remove_prefix(length);
        } while (!document.empty());
        return {};
    }

private:
    // Expat may still deliver the event in progress after a stop, so every handler first
    // checks whether the parse already failed.
    static void XMLCALL onStart(void* self, const XML_Char* name, const XML_Char** attributes) {
        auto* session = static_cast<Session*>(self);
        if (!session->error_) {
            session->start(name, attributes);
        }
    }
    static void XMLCALL onEnd(void* self, const XML_Char* name) {
        auto* session = static_cast<Session*>(self);
        if (!session->error_) {
            --session->depth_;
            session->handler_.endElement(name);
        }
    }
    static void XMLCALL onText(void* self, const XML_Char* text, int length) {
        auto* session = static_cast<Session*>(self);
        if (!session->error_ && length > 0) {
            session->handler_.characters(std::string_view(text, static_cast<std::size_t>(length)));
        }
    }

    static void XMLCALL onComment(void* self, const XML_Char* text) {
        auto* session = static_cast<Session*>(self);
        if (!session->error_) {
            session->handler_.comment(text);
        }
    }

    // Called before the internal subset is read, so none of its declarations take effect.
    static void XMLCALL onDocumentType(void* self, const XML_Char*, const XML_Char*,
                                       const XML_Char*, int) {
        static_cast<Session*>(self)->fail(kDocumentType,
                                          "document type declarations are not accepted");
    }

    void fail(ErrorCode code, const std::string& message) {
        if (!error_) {
            error_ = Error{kErrorDomain, code, position() + ": " + message};
        }
        XML_StopParser(parser_.get(), XML_FALSE);
    }

    void start(const XML_Char* name, const XML_Char** attributes) {
        if (++depth_ > maxDepth_) {
            return fail(kTooDeep, "elements nested deeper than " + std::to_string(maxDepth_));
        }
        attributes_.clear();
        for (const XML_Char** pair = attributes; pair[0] != nullptr; pair += 2) {
            attributes_.push_back(Attribute{pair[0], pair[1]});
        }
        handler_.startElement(name, attributes_);
    }

    std::string position() const {
        return "line " + std::to_string(XML_GetCurrentLineNumber(parser_.get())) + ", column " +
               std::to_string(XML_GetCurrentColumnNumber(parser_.get()));
    }

    std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserDeleter> parser_;
    Handler& handler_;
    const int maxDepth_;
    int depth_ = 0;
    std::optional<Error> error_;
    std::vector<Attribute> attributes_;  // reused from one start tag to the next
};

}  // namespace

Result<void> parse(std::string_view document, Handler& handler, int maxDepth) {
    return Session(handler, maxDepth).run(document);
}

void appendEscapedText(std::string& out, std::string_view text) {
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
            case '\r':
                out += "&#13;";
                break;
            default:
                out += c;
        }
    }
}

}  // namespace platform::xml
