#include "sim/MessageLog.h"

#include <algorithm>
#include <string>

#include "platform/foundation/Json.h"

namespace kavowatch {

const ReceivedMessage& MessageLog::record(std::uint8_t header, std::span<const std::uint8_t> body,
                                          bool acknowledged, double time) {
    ReceivedMessage message;
    message.appId = header & 0x3F;
    message.priority = static_cast<std::uint8_t>(header >> 6);
    message.acknowledged = acknowledged;
    message.body.assign(body.begin(), body.end());
    message.time = time;
    auto parsed = platform::json::parse(
        std::string_view(reinterpret_cast<const char*>(body.data()), body.size()));
    if (parsed) {
        if (const std::string* msgId = parsed.value()["msgId"].stringIf()) {
            message.msgId = *msgId;
        }
        message.json = std::move(parsed).value();
    }
    messages_.push_back(std::move(message));
    return messages_.back();
}

int MessageLog::count(std::string_view msgId) const {
    return static_cast<int>(
        std::count_if(messages_.begin(), messages_.end(),
                      [&](const ReceivedMessage& m) { return m.msgId == msgId; }));
}

const ReceivedMessage* MessageLog::next(std::string_view msgId) const {
    const auto found = taken_.find(msgId);
    int skip = found == taken_.end() ? 0 : found->second;
    for (const ReceivedMessage& message : messages_) {
        if (message.msgId == msgId && skip-- == 0) {
            return &message;
        }
    }
    return nullptr;
}

bool MessageLog::hasNext(std::string_view msgId) const {
    return next(msgId) != nullptr;
}

std::optional<ReceivedMessage> MessageLog::take(std::string_view msgId) {
    const ReceivedMessage* message = next(msgId);
    if (message == nullptr) {
        return std::nullopt;
    }
    ReceivedMessage copy = *message;
    ++taken_[std::string(msgId)];
    return copy;
}

}  // namespace kavowatch
