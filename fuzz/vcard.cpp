// vCard files as the address-book folder holds them, read with limits the first byte makes
// small or leaves as they are: every card kept holds UTF-8 texts and a picture that begins
// like an image, and no more cards are read or refused than the text begins.

#include <cctype>
#include <cstdlib>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "platform/contacts/VCardReader.h"
#include "platform/foundation/Utf8.h"

namespace {

std::size_t count(std::string_view text, std::string_view what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string_view::npos;
         at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

void checkText(const std::optional<std::string>& text) {
    if (text && !platform::isValidUtf8(*text)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    using namespace platform::contacts;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    VCardLimits limits;
    if ((data[0] & 1) != 0) {
        limits = {.maxLineBytes = 64, .maxCardBytes = 256, .maxProperties = 8};
    }
    const VCardFile file = readVCards(text, limits);
    std::size_t rejected = 0;
    for (const VCardIssue& issue : file.issues) {
        rejected += issue.cardRejected && issue.message != "text outside a card";
    }
    std::string lowered(text);
    for (char& c : lowered) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const std::size_t begins = count(lowered, "begin:vcard");
    if (file.cards.size() + rejected > begins + 1) {
        std::abort();
    }
    for (const VCard& card : file.cards) {
        const Person& person = card.person;
        for (const auto* part :
             {&person.firstName, &person.middleName, &person.lastName, &person.organization,
              &card.uid}) {
            checkText(*part);
        }
        for (const auto* list : {&person.phones, &person.emails}) {
            for (const LabeledValue& value : *list) {
                checkText(value.value);
                checkText(value.label);
            }
        }
        if (person.imageData &&
            !looksLikeImage(std::string_view(reinterpret_cast<const char*>(person.imageData->data()),
                                             person.imageData->size()))) {
            std::abort();
        }
    }
    return 0;
}
