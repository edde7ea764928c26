#include "sim/Handshake.h"

#include <algorithm>

namespace kavowatch {

namespace {

constexpr std::size_t kNameOffset = 33;
constexpr std::size_t kNameWidth = 16;

platform::Error fault(std::string message) {
    return platform::Error{kHandshakeErrorDomain, 1, std::move(message)};
}

bool allZero(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

// A text field: its bytes up to the first zero, and only zeros after it.
std::optional<std::string> textField(std::span<const std::uint8_t> field) {
    const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
    if (!allZero({end, field.end()})) {
        return std::nullopt;
    }
    return std::string(field.begin(), end);
}

}  // namespace

platform::Bytes handshakeRequest(std::string_view deviceName) {
    platform::Bytes record = handshakeRecord(HandshakeType::request);
    const std::size_t length = std::min(deviceName.size(), kNameWidth);
    std::copy_n(deviceName.begin(), length, record.begin() + kNameOffset);
    return record;
}

platform::Bytes handshakeRecord(HandshakeType type) {
    platform::Bytes record(kHandshakeRecordSize, 0);
    record[0] = static_cast<std::uint8_t>(type);
    return record;
}

platform::Result<HandshakeResponse> checkHandshakeResponse(
    std::span<const std::uint8_t> record, const platform::bluetooth::Uuid& watchIdentifier) {
    if (record.size() != kHandshakeRecordSize) {
        return fault("a response of " + std::to_string(record.size()) + " bytes");
    }
    if (record[0] != static_cast<std::uint8_t>(HandshakeType::response)) {
        return fault("not a response");
    }
    if (!allZero(record.subspan(1, 16))) {
        return fault("offset 1 is not empty");
    }
    const auto maker = textField(record.subspan(17, 16));
    if (maker != "Apple") {
        return fault("no \"Apple\" at offset 17");
    }
    HandshakeResponse response;
    const auto phoneName = textField(record.subspan(kNameOffset, kNameWidth));
    if (!phoneName) {
        return fault("the phone's name at offset 33 is not one text");
    }
    response.phoneName = *phoneName;
    if (record[49] != 0 || !allZero(record.subspan(50, 16))) {
        return fault("offsets 49 to 65 are not empty");
    }
    const auto tag = record.subspan(66, 3);
    if (!std::all_of(tag.begin(), tag.end(), [](std::uint8_t b) { return b >= 'a' && b <= 'z'; }) ||
        !allZero(record.subspan(69, 30))) {
        return fault("offset 66 does not hold three lowercase letters");
    }
    response.tag.assign(tag.begin(), tag.end());
    const auto device = record.subspan(99, 16);
    const auto& own = watchIdentifier.bytes();
    response.namesThisWatch = std::equal(device.begin(), device.end(), own.begin());
    if (!response.namesThisWatch && !allZero(device)) {
        return fault("offset 99 names another device");
    }
    if (!allZero(record.subspan(115))) {
        return fault("offsets 115 to 147 are not empty");
    }
    return response;
}

}  // namespace kavowatch
