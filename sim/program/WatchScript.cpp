#include "sim/program/WatchScript.h"

#include "platform/foundation/Json.h"
#include "platform/foundation/Text.h"

namespace kavowatch {

namespace {

constexpr std::string_view kSpace = " \t\r";

// The first word of `rest`, which keeps what follows it, trimmed.
std::string_view nextWord(std::string_view& rest) {
    const std::size_t end = std::min(rest.find_first_of(kSpace), rest.size());
    const std::string_view word = rest.substr(0, end);
    rest = platform::trimmedAsciiSpace(rest.substr(end));
    return word;
}

platform::Result<platform::Value> jsonObject(std::string_view text) {
    if (text.empty()) {
        return platform::Error{"kavowatch.script", 1, "a JSON object is missing"};
    }
    auto parsed = platform::json::parse(text);
    if (!parsed) {
        return platform::Error{"kavowatch.script", 1, "bad JSON: " + parsed.error().message};
    }
    if (!parsed->isDictionary()) {
        return platform::Error{"kavowatch.script", 1, "the JSON is no object"};
    }
    return parsed;
}

// One command into the script, or what is wrong with it.
platform::Result<void> addCommand(Script& script, std::string_view line) {
    const std::string_view command = nextWord(line);
    const std::string_view msgId = nextWord(line);
    if (command != "answer" && command != "ignore" && command != "on") {
        return platform::Error{"kavowatch.script", 1,
                               "unknown command '" + std::string(command) + "'"};
    }
    if (msgId.empty()) {
        return platform::Error{"kavowatch.script", 1, std::string(command) + " needs a msgId"};
    }
    ScriptedRequest plan = [&] {
        const auto found = script.find(msgId);
        return found != script.end() ? found->second : ScriptedRequest{};
    }();
    if (command == "ignore") {
        if (!line.empty()) {
            return platform::Error{"kavowatch.script", 1, "ignore takes only a msgId"};
        }
        plan.answer = ScriptedRequest::Answer::ignored;
        plan.reply = nullptr;
    } else {
        if (command == "on" && nextWord(line) != "send") {
            return platform::Error{"kavowatch.script", 1,
                                   "expected 'on <msgId> send <json object>'"};
        }
        auto object = jsonObject(line);
        if (!object) {
            return object.error();
        }
        if (command == "answer") {
            plan.answer = ScriptedRequest::Answer::replaced;
            plan.reply = std::move(object).value();
        } else {
            plan.thenSend.push_back(std::move(object).value());
        }
    }
    script[std::string(msgId)] = std::move(plan);
    return {};
}

}  // namespace

platform::Result<Script> parseScript(std::string_view text, std::string_view source) {
    Script script;
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = platform::trimmedAsciiSpace(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        ++number;
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (auto added = addCommand(script, line); !added) {
            return platform::Error{
                "kavowatch.script", number,
                std::string(source) + ":" + std::to_string(number) + ": " + added.error().message};
        }
    }
    return script;
}

void applyScript(const Script& script, Watch& watch, WatchResponder& responder) {
    // Not a structured binding: some compilers cannot capture those in a lambda.
    for (const auto& entry : script) {
        const auto& msgId = entry.first;
        watch.answerAll(msgId, [&responder, plan = entry.second](const ReceivedMessage& request) {
            // Only the answer itself changes; what the watch sends of its own after it stays.
            Watch::Replies replies = responder.respond(request);
            const bool answered = !replies.empty();
            if (plan.answer == ScriptedRequest::Answer::replaced) {
                const Watch::Outgoing reply{plan.reply, std::nullopt, std::nullopt};
                if (answered) {
                    replies.front() = reply;
                } else {
                    replies.insert(replies.begin(), reply);
                }
            } else if (plan.answer == ScriptedRequest::Answer::ignored && answered) {
                replies.erase(replies.begin());
            }
            for (const platform::Value& message : plan.thenSend) {
                replies.push_back({message, std::uint8_t{1}, std::uint8_t{1}});
            }
            return replies;
        });
    }
}

}  // namespace kavowatch
