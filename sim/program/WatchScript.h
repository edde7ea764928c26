#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"
#include "sim/Watch.h"
#include "sim/WatchState.h"

// Scripted answers for the kavowatch program. One command a line; blank lines and lines
// starting with '#' are skipped:
//   answer <msgId> <json object>     the whole answer, instead of the built-in one
//   ignore <msgId>                   no answer at all
//   on <msgId> send <json object>    after the answer, one more message on application 1
// What a request does to the watch's state happens whatever its answer. For one msgId the later
// of answer and ignore wins; every "on ... send" adds a message, in script order.
namespace kavowatch {

struct ScriptedRequest {
    enum class Answer { builtIn, replaced, ignored };
    Answer answer = Answer::builtIn;
    // The answer when replaced.
    platform::Value reply;
    std::vector<platform::Value> thenSend;

    friend bool operator==(const ScriptedRequest&, const ScriptedRequest&) = default;
};

using Script = std::map<std::string, ScriptedRequest, std::less<>>;

// `source` names the script in errors: "SOURCE:LINE: what is wrong".
platform::Result<Script> parseScript(std::string_view text, std::string_view source);

// Installs a rule for every scripted msgId over the responder's. The watch keeps a reference
// to the responder in them.
void applyScript(const Script& script, Watch& watch, WatchResponder& responder);

}  // namespace kavowatch
