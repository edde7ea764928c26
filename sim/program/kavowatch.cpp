// kavowatch: the simulated watch as a program on the local-socket air, for running beside the
// phone program. `kavowatch --help` tells the options.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "logging/LGLog.h"
#include "logging/LGPlatformLogSink.h"
#include "logging/LGStderrLogger.h"
#include "platform/bluetooth/socket/SocketAir.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/StopOnSignals.h"
#include "sim/PlainDevice.h"
#include "sim/program/ProgramOptions.h"
#include "sim/program/WatchFetch.h"
#include "sim/program/WatchProgram.h"
#include "sim/program/WatchScript.h"

namespace {

constexpr int kUsageStatus = 2;
constexpr std::size_t kMaxScriptBytes = std::size_t{1} << 20;

int usageFailure(const std::string& message) {
    std::fprintf(stderr, "kavowatch: %s\nTry 'kavowatch --help'.\n", message.c_str());
    return kUsageStatus;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kavowatch;

    const std::vector<std::string_view> arguments(argv + 1, argv + argc);
    auto options = parseArguments(arguments);
    if (!options) {
        return usageFailure(options.error().message);
    }
    if (options->help) {
        std::fputs(usage().data(), stdout);
        return 0;
    }
    if (const char* home = std::getenv("KAVOWATCH_HOME");
        !options->home && home != nullptr && *home != '\0') {
        options->home = home;
    }
    Script script;
    if (options->script) {
        const auto text = platform::fs::readFile(*options->script, kMaxScriptBytes);
        if (!text) {
            return usageFailure("cannot read the script " + options->script->string() + ": " +
                                text.error().message);
        }
        auto parsed = parseScript(*text, options->script->string());
        if (!parsed) {
            return usageFailure(parsed.error().message);
        }
        script = std::move(parsed).value();
    }

    // A log reader that went away must not end the program before it has left the air.
    std::signal(SIGPIPE, SIG_IGN);
    platform::RunLoop loop(platform::RunLoop::Clock::real);
    platform::ScopedMainRunLoop mainLoop(loop);
    // Before any thread starts, so that only its own thread takes the signals.
    platform::StopOnSignals signals(loop);
    LGLog::addLogger(std::make_shared<LGStderrLogger>());
    platform::LogSink::install(std::make_shared<LGPlatformLogSink>());

    int status = 0;
    {
        platform::bluetooth::SocketAir air(
            options->air.value_or(platform::bluetooth::SocketAir::defaultDirectory()));
        RadioFactory radios = socketRadios(air, [&](const platform::Error&) {
            status = 1;
            loop.stop();
        });
        if (options->device) {
            PlainDevice device(loop, radios, options->identifier, *options->device);
            LG_INFO("kavowatch: a plain device, \"%s\", %s on the air in %s", device.name(),
                    options->identifier.toLongString(), air.directory().string());
            device.powerOn();
            loop.run();
        } else {
            WatchProgram program(loop, radios, *options, script);
            LG_INFO("kavowatch: %s on the air in %s", options->identifier.toLongString(),
                    air.directory().string());
            program.start();
            std::unique_ptr<WatchFetch> fetch;
            if (options->fetch) {
                fetch = std::make_unique<WatchFetch>(loop, program.watch(), *options->fetch,
                                                     options->fetchTo, [&](int fetched) {
                                                         status = fetched;
                                                         loop.stop();
                                                     });
                fetch->start();
            }
            loop.run();
        }
        if (const int signal = signals.received(); signal != 0) {
            LG_INFO("kavowatch: stopping on signal %d", signal);
        }
    }
    LGLog::flushLog();
    LGLog::removeAllLoggers();
    return status;
}
