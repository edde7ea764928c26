#include "logging/LGRedaction.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace lg {

namespace {

enum class Kind { plain, hidden, coordinate };

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// Field names of the watch's messages, the store's parameters and the phone's records that
// carry a person's or an event's details or an account's identity.
constexpr std::array<std::string_view, 35> kHiddenNames = {
    "at",
    "duid",
    "deviceid",
    "cid",
    "vcs",
    "deleted_vcs",
    "display_name",
    "first",
    "middle",
    "last",
    "first_name",
    "middle_name",
    "last_name",
    "company",
    "number",
    "phone_number",
    "normalized_number",
    "email",
    "phone_label",
    "email_label",
    "photo_data",
    "title",
    "notes",
    "description",
    "location",
    "summary",
    "body",
    "text",
    "address",
    "buddylist",
    "raw_contact",
    "raw_contact_list",
    "rawcontacts",
    "account",
    // A whole push payload as text rides in this field.
    "pushtimestamp",
};
// Parts of names that mark a secret wherever they appear.
constexpr std::array<std::string_view, 8> kSecretParts = {
    "token",  "password",   "passwd",        "cookie",
    "secret", "credential", "authorization", "registrationid",
};
constexpr std::array<std::string_view, 5> kCoordinateNames = {"latitude", "longitude", "lat", "lon",
                                                              "lng"};

Kind kindOf(std::string_view name) {
    const std::string key = lower(name);
    if (std::find(kCoordinateNames.begin(), kCoordinateNames.end(), key) !=
        kCoordinateNames.end()) {
        return Kind::coordinate;
    }
    if (std::find(kHiddenNames.begin(), kHiddenNames.end(), key) != kHiddenNames.end()) {
        return Kind::hidden;
    }
    for (const auto part : kSecretParts) {
        if (key.find(part) != std::string::npos) {
            return Kind::hidden;
        }
    }
    return Kind::plain;
}

bool isEmpty(const platform::Value& value) {
    if (const auto* text = value.stringIf()) {
        return text->empty();
    }
    return value.isNull();
}

}  // namespace

std::string presence(bool present) {
    return std::string(present ? kPresent : kAbsent);
}

std::string presence(const std::optional<std::string>& value) {
    return presence(value.has_value() && !value->empty());
}

std::string roundedCoordinate(double degrees) {
    if (!std::isfinite(degrees)) {
        return "(not a number)";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", std::round(degrees * 100.0) / 100.0);
    return text;
}

platform::Value redactedField(std::string_view name, const platform::Value& value) {
    switch (kindOf(name)) {
        case Kind::hidden:
            return platform::Value(presence(!isEmpty(value)));
        case Kind::coordinate:
            if (const auto degrees = value.doubleValue(); degrees && !value.isNull()) {
                return platform::Value(roundedCoordinate(*degrees));
            }
            return platform::Value(presence(!isEmpty(value)));
        case Kind::plain:
            break;
    }
    return redacted(value);
}

platform::Value redacted(const platform::Value& value) {
    if (const auto* bytes = value.bytesIf()) {
        return platform::Value("(" + std::to_string(bytes->size()) + " bytes)");
    }
    if (const auto* array = value.arrayIf()) {
        platform::Array out;
        out.reserve(array->size());
        for (const auto& element : *array) {
            out.push_back(redacted(element));
        }
        return platform::Value(std::move(out));
    }
    if (const auto* dictionary = value.dictionaryIf()) {
        platform::Dictionary out;
        for (const auto& [key, field] : *dictionary) {
            out.set(key, redactedField(key, field));
        }
        return platform::Value(std::move(out));
    }
    return value;
}

}  // namespace lg
