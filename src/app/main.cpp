// kavomanager: the phone-side companion of the Kavo watch, on the machine's Bluetooth (BlueZ) or
// on the local-socket air. With a display it opens its phone-sized window; without one, or with
// --headless, it runs without screens: it pairs with the first watch in setup mode that comes
// near, runs the handshake and serves the watch. `kavomanager --help` tells the options.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/AppContext.h"
#include "app/TQAppUpdater.h"
#include "app/TQWindowedApp.h"
#include "app/TQSendLogUtil.h"
#include "app/headless/HeadlessHome.h"
#include "app/headless/HeadlessSetup.h"
#include "app/headless/HeadlessStoreInstall.h"
#include "link/TQAP.h"
#include "link/TQBleManager.h"
#include "link/TQPeripheral.h"
#include "listener/TQCoreManager.h"
#include "listener/TQInitSequence.h"
#include "logging/LGLog.h"
#include "platform/bluetooth/AbsentRadio.h"
#include "platform/bluetooth/bluez/BluezRadio.h"
#include "platform/bluetooth/socket/SocketAir.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/InstanceLock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/StopOnSignals.h"
#include "platform/host/InstanceChannel.h"
#include "platform/host/URLOpener.h"
#include "platform/ui/Window.h"
#include "platform/ui/web/WebEngineViews.h"
#include "platform/system/DeviceInfo.h"
#include "utils/TQUtils.h"

namespace {

constexpr const char* kUsage =
    "Usage: kavomanager [--headless] [--air DIR] [--install URL [--install-title TITLE]] [URL]\n"
    "The phone side of the Kavo watch link, on the machine's Bluetooth adapter through\n"
    "bluetoothd (BlueZ) on the system bus, or on the local-socket air. With a display\n"
    "($DISPLAY or $WAYLAND_DISPLAY) it opens its window; without one it runs without screens.\n"
    "  --headless             without screens even when a display is there\n"
    "  --air DIR              the local-socket air in DIR instead of Bluetooth (also when\n"
    "                         $KAVO_AIR is set)\n"
    "  --install URL          once the watch is in use, downloads the watch application at URL\n"
    "                         and installs it, as the store screen would (without screens)\n"
    "  --install-title TITLE  its title in the store (default: the URL's file name)\n"
    "  --help                 this text\n"
    "  URL                    a link to open (a store link such as\n"
    "                         quorvelapps://ProductDetail/ID): handed to the kavomanager running\n"
    "                         on the same home, or opened once this one has started; without\n"
    "                         a URL, a start beside a running window brings that window forward\n"
    "The application's files live in $KAVO_HOME (default: $XDG_DATA_HOME/kavomanager).\n"
    "Logs go to the system log, to standard error and to log files in $KAVO_HOME/Documents;\n"
    "SIGINT or SIGTERM ends it.\n";

constexpr const char* kLockFile = "kavomanager.lock";

struct Options {
    std::optional<std::filesystem::path> air;
    std::optional<std::string> install;
    std::string installTitle;
    std::optional<std::string> url;
    bool headless = false;
    bool help = false;
};

bool hasDisplay() {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && value[0] != '\0') {
            return true;
        }
    }
    return false;
}

std::optional<Options> parseArguments(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help") {
            options.help = true;
        } else if (argument == "--headless") {
            options.headless = true;
        } else if (!argument.starts_with("-") && !options.url &&
                   platform::looksLikeURL(argument)) {
            options.url = std::string(argument);
        } else if (argument == "--air" && i + 1 < argc && argv[i + 1][0] != '\0') {
            options.air = argv[++i];
        } else if (argument == "--install" && i + 1 < argc && argv[i + 1][0] != '\0') {
            options.install = argv[++i];
        } else if (argument == "--install-title" && i + 1 < argc && argv[i + 1][0] != '\0') {
            options.installTitle = argv[++i];
        } else {
            std::fprintf(stderr, "kavomanager: unknown or incomplete option '%s'\n%s", argv[i],
                         kUsage);
            return std::nullopt;
        }
    }
    return options;
}

// The radio the link comes up on: the local-socket air when asked for; else the machine's
// Bluetooth when bluetoothd offers an adapter; else none. The link uses the radio the air
// gives out, so the air goes after the link.
struct ChosenRadio {
    std::unique_ptr<platform::bluetooth::Radio> radio;
    std::string where;
};

std::optional<ChosenRadio> chooseRadio(const Options& options, AppContext& context,
                                       const platform::bluetooth::Uuid& identifier,
                                       std::optional<platform::bluetooth::SocketAir>& air) {
    const char* airVariable = std::getenv("KAVO_AIR");
    if (options.air || (airVariable != nullptr && airVariable[0] != '\0')) {
        air.emplace(options.air.value_or(platform::bluetooth::SocketAir::defaultDirectory()));
        auto attached = air->attach(identifier);
        if (!attached) {
            LG_ERROR("kavomanager: cannot come onto the air in %s: %s", air->directory().string(),
                     attached.error().message);
            return std::nullopt;
        }
        return ChosenRadio{std::move(attached).value(),
                           "on the air in " + air->directory().string()};
    }
    auto bluez = std::make_unique<platform::bluetooth::bluez::BluezRadio>(
        context.loop(), identifier, context.defaults());
    if (bluez->state() != platform::bluetooth::ManagerState::unsupported) {
        return ChosenRadio{std::move(bluez), "on Bluetooth (BlueZ)"};
    }
    LG_ERROR(
        "kavomanager: no Bluetooth: the system bus has no bluetoothd with an adapter (use --air "
        "DIR for the local-socket air)");
    return ChosenRadio{std::make_unique<platform::bluetooth::AbsentRadio>(identifier),
                       "without Bluetooth"};
}

// This installation's identity towards the watch names the phone on the air as well.
std::optional<platform::bluetooth::Uuid> phoneIdentifier() {
    auto identifier =
        platform::bluetooth::Uuid::parse(platform::DeviceInfo::current().vendorIdentifier());
    if (!identifier) {
        LG_ERROR("kavomanager: the phone has no identifier to come onto the air with");
    }
    return identifier;
}

// The program without screens: the headless set-up, home and store stand-ins.
int runHeadless(const Options& options, AppContext& context, platform::StopOnSignals& stopper,
                std::size_t swept) {
    context.addLaunchLoggers();
    LG_VERBOSE("--- KavoManager ---");
    if (swept > 0) {
        LG_INFO("kavomanager: %zu unfinished file writes of an earlier run removed", swept);
    }
    const auto identifier = phoneIdentifier();
    if (!identifier) {
        return 1;
    }
    std::optional<platform::bluetooth::SocketAir> air;
    auto chosen = chooseRadio(options, context, *identifier, air);
    if (!chosen) {
        return 1;
    }

    auto& defaults = context.defaults();
    defaults.set("isWMSConnected", 0);
    TQUtils::synchronizeDefaults("kavomanager");
    LG_DEBUG("Kavo Manager : TQAppDelegate IS_WMS_CONNECTED FALSE");

    context.startLink(std::move(chosen->radio));
    LG_INFO("kavomanager: %s %s", identifier->toLongString(), chosen->where);
    context.installCrashHandlers();

    HeadlessHome home(context.center(), context.kavoManager(), context.navigator());
    std::shared_ptr<HeadlessSetup> setup;
    if (defaults.boolean("isCompletedSetupWizard").value_or(false)) {
        context.navigator().setHomeScreenRoot(true);
    } else {
        TQBleManager& bleManager = context.bleManager();
        setup = HeadlessSetup::create(
            context.kavoManager(), context.initSequence(), context.coreManager(),
            context.navigator(), [&bleManager] { return bleManager.peripheral().isServiceAdded(); },
            [&context] {
                context.sendLogUtil().generateJSONForConnByUsr();
                context.store().featured().getFeaturedListWithCount(0);
            });
        setup->start();
    }
    if (defaults.boolean(AppContext::kOobeCompletedKey).value_or(false)) {
        context.sendLogUtil().generateJSONForAppLaunch();
    }
    context.appUpdater().checkApplicationUpdate();
    std::unique_ptr<HeadlessStoreInstall> install;
    if (options.install) {
        install = std::make_unique<HeadlessStoreInstall>(
            context.store().appManager(), context.center(), context.loop(),
            HeadlessStoreInstall::Request{
                .url = *options.install, .title = options.installTitle, .appID = ""});
        install->start();
    }
    context.loop().run();
    install.reset();
    if (const int signal = stopper.received(); signal != 0) {
        LG_INFO("kavomanager: stopping on signal %d", signal);
    }
    setup.reset();
    TQUtils::synchronizeDefaults("kavomanager");
    context.stopLink();
    if (air) {
        air->powerOff(*identifier);
    }
    return 0;
}

// The program with its window: the application delegate runs the launch, the link coming up
// at its step.
int runWindowed(const Options& options, platform::ui::Application& application,
                AppContext& context, platform::StopOnSignals& stopper, std::size_t swept,
                const std::filesystem::path& home) {
    std::optional<platform::bluetooth::SocketAir> air;
    std::optional<platform::bluetooth::Uuid> identifier;
    bool failed = false;
    // The store's, the sign-in's and the manual's pages keep their cookies in the home.
    platform::ui::web::WebEngineViewFactory webViews(home / "Library" / "WebKit");
    TQWindowedApp app(
        context,
        TQWindowedApp::Settings{
            .startLink =
                [&] {
                    if (swept > 0) {
                        LG_INFO("kavomanager: %zu unfinished file writes of an earlier run "
                                "removed",
                                swept);
                    }
                    identifier = phoneIdentifier();
                    auto chosen = identifier ? chooseRadio(options, context, *identifier, air)
                                             : std::nullopt;
                    if (!chosen) {
                        failed = true;
                        return false;
                    }
                    context.startLink(std::move(chosen->radio));
                    LG_INFO("kavomanager: %s %s", identifier->toLongString(), chosen->where);
                    return true;
                },
            .channel = platform::InstanceChannel::pathFor(home),
            .webViews = &webViews});
    app.launch(options.url);
    if (failed) {
        LGLog::flushLog();
        return 1;
    }
    application.exec(context.loop());
    if (const int signal = stopper.received(); signal != 0) {
        LG_INFO("kavomanager: stopping on signal %d", signal);
    }
    TQUtils::synchronizeDefaults("kavomanager");
    context.stopLink();
    if (air && identifier) {
        air->powerOff(*identifier);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const auto options = parseArguments(argc, argv);
    if (!options) {
        return 2;
    }
    if (options->help) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    const std::filesystem::path home = platform::Container::fromEnvironment().root();
    const bool windowed = !options->headless && hasDisplay();
    if (windowed && options->install) {
        std::fprintf(stderr, "kavomanager: --install is for the program without screens (add "
                             "--headless)\n");
        return 2;
    }
    // A URL goes to the program already running on this home when there is one; a start
    // without one (from the desktop's menu) brings that program's window to the front.
    if (options->url || windowed) {
        if (platform::InstanceChannel::send(platform::InstanceChannel::pathFor(home),
                                            options->url.value_or(""))
                .ok()) {
            std::fprintf(stderr,
                         options->url ? "kavomanager: the URL went to the kavomanager running on %s\n"
                                      : "kavomanager: the kavomanager running on %s comes to the "
                                        "front\n",
                         home.c_str());
            return 0;
        }
    }
    if (options->url && !windowed) {
        std::fprintf(stderr, "kavomanager: a URL opens only in the window, and no kavomanager "
                             "with its window runs on this home\n");
        return 2;
    }

    // One program per home: a second would write the same defaults, database and files.
    std::error_code made;
    std::filesystem::create_directories(home, made);
    auto lock = platform::InstanceLock::acquire(home / kLockFile);
    if (!lock) {
        std::fprintf(stderr, "kavomanager: %s; not started\n", lock.error().message.c_str());
        return 1;
    }
    // Holding the home, any temporary file of an atomic write there is one a crash left.
    const std::size_t swept = platform::fs::sweepAtomicWriteLeftovers(home);

    // A log reader that went away must not end the program before it has left the air.
    std::signal(SIGPIPE, SIG_IGN);
    // The context (and Qt) start threads before the signal waiter is there; blocked here, the
    // stopping signals reach none of them and only the waiter takes them, so the program
    // always ends through its destructors.
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
    int status = 0;
    {
        std::optional<platform::ui::Application> application;
        if (windowed) {
            platform::ui::web::WebEngineViewFactory::prepareApplication();
            application.emplace(argc, argv);
        }
        AppContext context({.clock = platform::RunLoop::Clock::real,
                            .home = home,
                            .sessionKeychain = true,
                            .systemLocation = true,
                            .sessionNotifications = true,
                            .systemCarrier = true});
        // Before any thread starts, so that only its own thread takes the signals.
        platform::StopOnSignals stopper(context.loop());
        status = application
                     ? runWindowed(*options, *application, context, stopper, swept, home)
                     : runHeadless(*options, context, stopper, swept);
    }
    LGLog::flushLog();
    return status;
}
