#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/contacts/Person.h"

namespace platform::contacts {

// One card as read: the person (identifier 0, no modification date: the store gives both),
// the card's UID and its REV.
struct VCard {
    std::optional<std::string> uid;
    // REV in seconds since 1970.
    std::optional<std::int64_t> revision;
    Person person;
    // The physical line the card begins on, from 1.
    std::size_t line = 0;
};

// Something of a file that was not taken: a whole card (rejected) or a part of a kept one.
struct VCardIssue {
    std::size_t line = 0;
    bool cardRejected = true;
    std::string message;
};

struct VCardFile {
    std::vector<VCard> cards;
    std::vector<VCardIssue> issues;
};

// Bounds of what one card may hold; a card beyond them is rejected, the others are read.
struct VCardLimits {
    std::size_t maxLineBytes = std::size_t{8} << 20;   // one unfolded content line
    std::size_t maxCardBytes = std::size_t{16} << 20;  // all of a card's lines
    std::size_t maxProperties = 10000;
};

// Reads the cards of a vCard file (versions 2.1, 3.0 and 4.0, as address books and phones
// export them): CRLF or LF line ends, folded lines, quoted-printable values with soft line
// breaks and an ISO-8859-1 or UTF-8 charset, escaped commas and semicolons, grouped properties
// (with a group's X-ABLabel as the label of its number or address), base64 and data-URI
// photos, several cards per file. Strict per card: a malformed line, invalid UTF-8, bad
// folding, an unknown charset or encoding, or a card past the limits rejects that card alone.
// A photo that is not an image (or a link to one) is left out of a card that is kept.
[[nodiscard]] VCardFile readVCards(std::string_view text, const VCardLimits& limits = {});

// Whether bytes begin like an image file (JPEG, PNG, GIF, BMP, TIFF, WebP).
[[nodiscard]] bool looksLikeImage(std::string_view bytes);

}  // namespace platform::contacts
