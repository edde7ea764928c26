// kavostore: the maker's store back end, simulated, on a loopback port: the featured list,
// the update check, the download addresses and the packages of a small catalogue.
// `kavostore --help` tells the options.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "logging/LGLog.h"
#include "logging/LGStderrLogger.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/StopOnSignals.h"
#include "platform/foundation/FileSystem.h"
#include "sim/store/StoreCertificate.h"
#include "sim/store/StoreServer.h"

namespace {

constexpr const char* kUsage =
    "Usage: kavostore [--port N] [--packages DIR] [--anchor FILE]\n"
    "Serves the simulated store back end on 127.0.0.1, over HTTP and, with a certificate it\n"
    "makes at start, over HTTPS (the line \"kavostore: serving securely on <address>\").\n"
    "  --port N        the port (default: 0, any free one; the line \"kavostore: serving on\n"
    "                  <address>\" tells which)\n"
    "  --packages DIR  where the catalogue's packages are built (default: a folder of its own\n"
    "                  under the temporary folder, removed at the end)\n"
    "  --anchor FILE   where the certificate is written (DER), for the phone to trust as the\n"
    "                  store's anchor (default: the packages folder's \"anchor.der\")\n"
    "  --help          this text\n"
    "SIGINT or SIGTERM ends it.\n";

struct Options {
    std::uint16_t port = 0;
    std::optional<std::filesystem::path> packages;
    std::optional<std::filesystem::path> anchor;
    bool help = false;
};

std::optional<Options> parseArguments(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const bool hasValue = i + 1 < argc && argv[i + 1][0] != '\0';
        if (argument == "--help") {
            options.help = true;
        } else if (argument == "--port" && hasValue) {
            char* end = nullptr;
            const long port = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || port < 0 || port > 65535) {
                return std::nullopt;
            }
            options.port = static_cast<std::uint16_t>(port);
        } else if (argument == "--packages" && hasValue) {
            options.packages = argv[++i];
        } else if (argument == "--anchor" && hasValue) {
            options.anchor = argv[++i];
        } else {
            return std::nullopt;
        }
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    const auto options = parseArguments(argc, argv);
    if (!options) {
        std::fprintf(stderr, "kavostore: unknown or incomplete option\n%s", kUsage);
        return 2;
    }
    if (options->help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::signal(SIGPIPE, SIG_IGN);
    platform::RunLoop loop(platform::RunLoop::Clock::real);
    platform::ScopedMainRunLoop mainLoop(loop);
    // Before the server's threads start, so that only its own thread takes the signals.
    platform::StopOnSignals signals(loop);
    LGLog::addLogger(std::make_shared<LGStderrLogger>());

    std::error_code error;
    const bool ownFolder = !options->packages;
    const std::filesystem::path packages =
        options->packages.value_or(std::filesystem::temp_directory_path(error) /
                                   ("kavostore-" + std::to_string(std::random_device()())));
    int status = 0;
    {
        auto store = kavostore::StoreServer::start(kavostore::defaultCatalogue(), packages,
                                                   options->port);
        if (!store.ok()) {
            LG_ERROR("kavostore: %@", store.error().message);
            status = 1;
        } else {
            store.value()->observe([](const kavostore::StoreRequest& request, int answer) {
                LG_INFO("kavostore: %@ %@ %d", request.method, request.target, answer);
            });
            LG_INFO("kavostore: serving on %@", store.value()->url());
            const auto certificate = kavostore::makeStoreCertificate();
            const std::filesystem::path anchor = options->anchor.value_or(packages / "anchor.der");
            if (!certificate.ok() ||
                !store.value()->serveSecurely(certificate.value().identity).ok() ||
                !platform::fs::writeFileAtomically(
                     anchor, std::string_view(reinterpret_cast<const char*>(
                                                  certificate.value().certificateDer.data()),
                                              certificate.value().certificateDer.size()))
                     .ok()) {
                LG_ERROR("kavostore: no HTTPS side");
            } else {
                LG_INFO("kavostore: serving securely on %@ (anchor %@)",
                        store.value()->secureURL(), anchor.string());
            }
            for (const auto& app : store.value()->catalogue()) {
                LG_INFO("kavostore: %@ %@ at %@", app.packageName, app.version,
                        store.value()->packageURL(app));
            }
            LGLog::flushLog();
            loop.run();
            LG_INFO("kavostore: stopping on signal %d", signals.received());
        }
    }
    if (ownFolder) {
        std::filesystem::remove_all(packages, error);
    }
    LGLog::flushLog();
    return status;
}
