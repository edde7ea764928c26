#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

namespace platform::contacts {

// The kinds of label the watch's codes tell apart; custom carries its own text.
enum class LabelKind { none, home, work, other, mobile, main, homeFax, workFax, custom };

// One phone number or e-mail address with its label.
struct LabeledValue {
    LabelKind kind = LabelKind::none;
    // The label's text: the custom text, else the kind's name ("" for none).
    std::string label;
    std::string value;

    friend bool operator==(const LabeledValue&, const LabeledValue&) = default;
};

// The name of a label kind as labels are shown ("home", "mobile", "work fax", ...).
[[nodiscard]] std::string labelName(LabelKind kind);

// One person of the address book. Absent and empty names differ only where a source can tell
// them apart; a vCard cannot, so its empty parts are absent.
struct Person {
    // The record identifier: stable across launches, unique in its address book.
    std::int32_t identifier = 0;
    std::optional<std::string> firstName;
    std::optional<std::string> middleName;
    std::optional<std::string> lastName;
    std::optional<std::string> organization;
    std::vector<LabeledValue> phones;
    std::vector<LabeledValue> emails;
    // Seconds since 1970; none when the source keeps no date.
    std::optional<double> modificationDate;
    // The person's picture as stored (JPEG, PNG, ...); none without one.
    std::optional<Bytes> imageData;

    friend bool operator==(const Person&, const Person&) = default;
};

}  // namespace platform::contacts
