#include "sim/program/ProgramOptions.h"

#include <cctype>
#include <functional>
#include <map>

namespace kavowatch {

namespace {

platform::Error usageError(std::string message) {
    return platform::Error{"kavowatch.options", 1, std::move(message)};
}

// "A0:B1:C2:D3:1A:2B": six pairs of hexadecimal digits.
bool isMacAddress(std::string_view text) {
    if (text.size() != 17) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (i % 3 == 2 ? c != ':' : std::isxdigit(c) == 0) {
            return false;
        }
    }
    return true;
}

// Four upper-case hexadecimal digits.
std::string hex4(unsigned value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text(4, '0');
    for (int i = 3; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
        value >>= 4;
    }
    return text;
}

using Apply = std::function<platform::Result<void>(ProgramOptions&, std::string_view value)>;

struct OptionRule {
    bool takesValue;
    Apply apply;
};

// A text option: any value but an empty one.
OptionRule text(std::function<void(ProgramOptions&, std::string)> set) {
    return {true,
            [set = std::move(set)](ProgramOptions& options,
                                   std::string_view value) -> platform::Result<void> {
                if (value.empty()) {
                    return usageError("an empty value");
                }
                set(options, std::string(value));
                return {};
            }};
}

const std::map<std::string, OptionRule, std::less<>>& optionRules() {
    using R = platform::Result<void>;
    static const std::map<std::string, OptionRule, std::less<>> rules = {
        {"--help",
         {false,
          [](ProgramOptions& o, std::string_view) -> R {
              o.help = true;
              return {};
          }}},
        {"--locked",
         {false,
          [](ProgramOptions& o, std::string_view) -> R {
              o.locked = true;
              return {};
          }}},
        {"--air", text([](ProgramOptions& o, std::string v) { o.air = std::move(v); })},
        {"--home", text([](ProgramOptions& o, std::string v) { o.home = std::move(v); })},
        {"--script", text([](ProgramOptions& o, std::string v) { o.script = std::move(v); })},
        {"--files", text([](ProgramOptions& o, std::string v) { o.files = std::move(v); })},
        {"--fetch", text([](ProgramOptions& o, std::string v) { o.fetch = std::move(v); })},
        {"--fetch-to", text([](ProgramOptions& o, std::string v) { o.fetchTo = std::move(v); })},
        {"--name", text([](ProgramOptions& o, std::string v) { o.name = std::move(v); })},
        {"--model-name",
         text([](ProgramOptions& o, std::string v) { o.identity.modelName = std::move(v); })},
        {"--model-number",
         text([](ProgramOptions& o, std::string v) { o.identity.modelNumber = std::move(v); })},
        {"--serial",
         text([](ProgramOptions& o, std::string v) { o.identity.serial = std::move(v); })},
        {"--sales-code",
         text([](ProgramOptions& o, std::string v) { o.identity.salesCode = std::move(v); })},
        {"--bt-mac",
         {true,
          [](ProgramOptions& o, std::string_view v) -> R {
              if (!isMacAddress(v)) {
                  return usageError("'" + std::string(v) +
                                    "' is no address like A0:B1:C2:D3:1A:2B");
              }
              o.identity.btMacAddress = v;
              return {};
          }}},
        {"--instance",
         {true,
          [](ProgramOptions& o, std::string_view v) -> R {
              int n = 0;
              for (const char c : v) {
                  if (c < '0' || c > '9' || n > kMaxInstance) {
                      n = 0;
                      break;
                  }
                  n = n * 10 + (c - '0');
              }
              if (n < 1 || n > kMaxInstance) {
                  return usageError("'" + std::string(v) + "' is no number from 1 to " +
                                    std::to_string(kMaxInstance));
              }
              applyInstance(o, n);
              return {};
          }}},
        {"--device", text([](ProgramOptions& o, std::string v) { o.device = std::move(v); })},
        {"--identifier",
         {true,
          [](ProgramOptions& o, std::string_view v) -> R {
              const auto uuid = Uuid::parse(v);
              if (!uuid || v.size() != 36) {
                  return usageError("'" + std::string(v) + "' is no UUID");
              }
              o.identifier = *uuid;
              return {};
          }}},
        {"--state",
         {true,
          [](ProgramOptions& o, std::string_view v) -> R {
              if (v == "new") {
                  o.state = StartState::fresh;
              } else if (v == "reconnecting") {
                  o.state = StartState::reconnecting;
              } else {
                  return usageError("'" + std::string(v) + "' is neither new nor reconnecting");
              }
              return {};
          }}},
        {"--advertise",
         {true,
          [](ProgramOptions& o, std::string_view v) -> R {
              if (v == "setup") {
                  o.advertise = Purpose::setupWizard;
              } else if (v == "auto") {
                  o.advertise = Purpose::autoConnection;
              } else {
                  return usageError("'" + std::string(v) + "' is neither setup nor auto");
              }
              return {};
          }}},
    };
    return rules;
}

}  // namespace

void applyInstance(ProgramOptions& options, int n) {
    const auto step = static_cast<unsigned>(n - 1);
    const ProgramOptions defaults;
    const std::string token = hex4(0x1A2B + step);
    options.name = "Kavo R5 (" + token + ")";
    options.identity.btMacAddress =
        defaults.identity.btMacAddress.substr(0, 12) + token.substr(0, 2) + ":" + token.substr(2);
    options.identity.serial =
        n == 1 ? defaults.identity.serial : "RKV5A1B2C" + std::string(n < 10 ? "0" : "") +
                                               std::to_string(n);
    // The identifier's last four digits count up as well.
    std::string identifier = kProgramIdentifier.toLongString();
    identifier.replace(identifier.size() - 4, 4, hex4(0x1F20 + step));
    options.identifier = *Uuid::parse(identifier);
}

platform::Result<ProgramOptions> parseArguments(std::span<const std::string_view> arguments) {
    ProgramOptions options;
    bool modelNameGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        const std::size_t equals = argument.find('=');
        const std::string_view name = argument.substr(0, equals);
        if (!argument.starts_with("--")) {
            return usageError("unexpected argument '" + std::string(argument) + "'");
        }
        const auto rule = optionRules().find(name);
        if (rule == optionRules().end()) {
            return usageError("unknown option '" + std::string(name) + "'");
        }
        std::string_view value;
        if (equals != std::string_view::npos) {
            if (!rule->second.takesValue) {
                return usageError(std::string(name) + " takes no value");
            }
            value = argument.substr(equals + 1);
        } else if (rule->second.takesValue) {
            if (i + 1 == arguments.size()) {
                return usageError(std::string(name) + " needs a value");
            }
            value = arguments[++i];
        }
        if (auto applied = rule->second.apply(options, value); !applied) {
            return usageError(std::string(name) + ": " + applied.error().message);
        }
        modelNameGiven = modelNameGiven || name == "--model-name";
    }
    if (!modelNameGiven) {
        options.identity.modelName = options.name;
    }
    return options;
}

std::string_view usage() {
    return "Usage: kavowatch [options]\n"
           "A simulated Kavo watch on the local-socket air.\n"
           "\n"
           "  --air DIR            the air folder ($KAVO_AIR, else the default air)\n"
           "  --identifier UUID    the watch's identifier on the air\n"
           "  --instance N         watch N of several on one air (1 to 99): its own name\n"
           "                       \"Kavo R5 (TOKEN)\", address, identifier and serial\n"
           "                       (1: the defaults); later options still apply\n"
           "  --device NAME        no watch: a plain device that only advertises NAME\n"
           "                       (the phone must not list it); takes --air, --identifier\n"
           "                       and --instance (for its identifier)\n"
           "  --name TEXT          the advertising name, \"Kavo R5 (TOKEN)\"\n"
           "  --model-name TEXT    the model name the watch reports (the name by default)\n"
           "  --model-number TEXT  e.g. KV-R500\n"
           "  --serial TEXT\n"
           "  --bt-mac ADDRESS     e.g. A0:B1:C2:D3:1A:2B\n"
           "  --sales-code TEXT    e.g. XAR\n"
           "  --home DIR           the watch's own folder ($KAVOWATCH_HOME), where it\n"
           "                       remembers being set up; without one it remembers nothing\n"
           "  --state new|reconnecting\n"
           "                       a factory watch to set up (advertises for the setup\n"
           "                       wizard), or a configured one looking for its phone;\n"
           "                       overrides what the watch remembers (default: new)\n"
           "  --advertise setup|auto\n"
           "                       the advertised purpose, whatever the state\n"
           "  --locked             the reactivation lock is on\n"
           "  --files DIR          keeps the files the phone sends here, under their names\n"
           "  --script FILE        scripted answers, one command a line:\n"
           "                         answer <msgId> <json object>\n"
           "                         ignore <msgId>\n"
           "                         on <msgId> send <json object>\n"
           "  --fetch URL          once paired, fetches an http:// URL through the phone's\n"
           "                       web proxy, prints the whole answer and ends\n"
           "  --fetch-to FILE      saves the fetched body in FILE instead\n"
           "  --help               this text\n"
           "\n"
           "SIGINT or SIGTERM ends it and takes its files off the air.\n";
}

WatchState initialState(const ProgramOptions& options, std::optional<SetupState> remembered) {
    WatchState state;
    state.identity = options.identity;
    if (options.state) {
        state.setup =
            *options.state == StartState::fresh ? SetupState::factory : SetupState::configured;
    } else {
        state.setup = remembered.value_or(SetupState::factory);
    }
    state.reactivationLock = options.locked;
    return state;
}

Purpose advertisingPurpose(const ProgramOptions& options, SetupState setup) {
    if (options.advertise) {
        return *options.advertise;
    }
    return setup == SetupState::factory ? Purpose::setupWizard : Purpose::autoConnection;
}

}  // namespace kavowatch
