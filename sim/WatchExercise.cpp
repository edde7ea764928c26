#include "sim/WatchExercise.h"

#include <string>

namespace kavowatch {

using platform::Value;

namespace {

Value request(WatchExercise::Command command) {
    return Value{{"msgId", "lbs-exercise-info-req"}, {"cmd", static_cast<std::int64_t>(command)}};
}

}  // namespace

platform::Result<void> WatchExercise::send(const Value& message) {
    return watch_.sendJson(message, kLocationAppId, 1);
}

platform::Result<void> WatchExercise::start(Kind kind, double weight, std::int64_t interval) {
    Value message = request(Command::start);
    message["exerciseType"] = static_cast<std::int64_t>(kind);
    message["weight"] = weight;
    message["interval"] = interval;
    return send(message);
}

platform::Result<void> WatchExercise::changeInterval(std::int64_t interval) {
    Value message = request(Command::changeInterval);
    message["interval"] = interval;
    return send(message);
}

platform::Result<void> WatchExercise::command(Command command) {
    return send(request(command));
}

platform::Result<void> WatchExercise::startTracking(std::int64_t accuracy) {
    return send(Value{{"msgId", "lbs-tracking-location-req"}, {"cmd", 1}, {"accuracy", accuracy}});
}

platform::Result<void> WatchExercise::stopTracking() {
    return send(Value{{"msgId", "lbs-tracking-location-req"}, {"cmd", 2}});
}

platform::Result<void> WatchExercise::askLocationSetting() {
    return send(Value{{"msgId", "lbs-location-setting-check-req"}});
}

std::vector<Value> WatchExercise::received(std::string_view msgId) const {
    std::vector<Value> found;
    for (const auto& message : watch_.messages().all()) {
        if (message.appId == kLocationAppId && message.msgId == msgId && message.json) {
            found.push_back(*message.json);
        }
    }
    return found;
}

std::vector<platform::Array> WatchExercise::batches() const {
    std::vector<platform::Array> all;
    for (const auto& message : received("lbs-exercise-info-rsp")) {
        const auto* info = message["exerciseInfo"].arrayIf();
        all.push_back(info != nullptr ? *info : platform::Array{});
    }
    return all;
}

std::optional<std::int64_t> WatchExercise::lastLocationSetting() const {
    const auto answers = received("lbs-location-setting-check-rsp");
    if (answers.empty()) {
        return std::nullopt;
    }
    return answers.back()["locationSettings"].intValue();
}

std::vector<Value> WatchExercise::fixes() const {
    return received("lbs-tracking-location-rsp");
}

}  // namespace kavowatch
