#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"

namespace kavowatch {

// A message from the phone, as the watch took it in.
struct ReceivedMessage {
    std::uint8_t appId = 0;
    std::uint8_t priority = 0;
    bool acknowledged = true;
    // Without the header byte.
    platform::Bytes body;
    // The body read as JSON, when it is a JSON object or array.
    std::optional<platform::Value> json;
    // The object's "msgId" when it is a text; empty otherwise.
    std::string msgId;
    double time = 0;
};

// Every message the phone sent, in arrival order, and what the test has taken of them.
class MessageLog {
public:
    const ReceivedMessage& record(std::uint8_t header, std::span<const std::uint8_t> body,
                                  bool acknowledged, double time);

    [[nodiscard]] const std::vector<ReceivedMessage>& all() const { return messages_; }
    [[nodiscard]] int count(std::string_view msgId) const;
    // Whether take() would find one.
    [[nodiscard]] bool hasNext(std::string_view msgId) const;
    // The earliest message with this "msgId" that no take() returned yet.
    std::optional<ReceivedMessage> take(std::string_view msgId);

private:
    [[nodiscard]] const ReceivedMessage* next(std::string_view msgId) const;

    std::vector<ReceivedMessage> messages_;
    std::map<std::string, int, std::less<>> taken_;
};

}  // namespace kavowatch
