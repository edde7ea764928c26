#pragma once

#include <ostream>

#include "listener/ListenerWorld.h"
#include "listener/RecordingHandlers.h"

namespace platform {
inline void PrintTo(const Value& value, std::ostream* out) {
    *out << value.description();
}
}  // namespace platform

namespace listener_test {

// Readable failure messages.
inline void PrintTo(const Event& event, std::ostream* out) {
    *out << event.name;
    if (!event.argument.isNull()) {
        *out << " " << event.argument.description();
    }
    if (event.link != nullptr) {
        *out << " (link)";
    }
}

inline void PrintTo(const ListenerWorld::Reply& reply, std::ostream* out) {
    *out << "app " << int{reply.appId} << " priority " << int{reply.priority} << " "
         << reply.json.description();
}

// A handler call, a call on the listener's own handlers (through the link), a notification.
inline Event call(std::string name, Value argument = {}, const TQAP* link = nullptr) {
    return {std::move(name), std::move(argument), link};
}
inline Event note(const std::string& name, Value object = {}) {
    return {"note:" + name, std::move(object), nullptr};
}

// What the core manager broadcasts for every message received.
inline Event dataNote(const Bytes& body, std::uint32_t appId) {
    return note("onDataReceivedNotification", Value{{"data", body}, {"appId", appId}});
}
inline Bytes jsonBytes(const Value& message) {
    const std::string text = platform::json::write(message).value();
    return Bytes(text.begin(), text.end());
}

}  // namespace listener_test
