// A program that installs the crash capture in a folder and then crashes as it is told:
//   crash_child FOLDER segv|exception|stop
#include <sys/mman.h>

#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <string_view>

#include "app/CrashHandler.h"
#include "platform/foundation/RunLoop.h"
#include "platform/mail/XdgEmailComposer.h"

namespace {

[[noreturn]] void throwUncaught() {
    throw std::runtime_error("the disk is on fire");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    platform::RunLoop loop(platform::RunLoop::Clock::virtualTime);
    platform::mail::RecordingMailComposer composer(loop);
    CrashHandler handler({.folder = argv[1],
                          .composer = composer,
                          .logFiles = [] { return std::vector<std::filesystem::path>{}; },
                          .shortDateTime = crashShortDateTime});
    if (!handler.installCrashHandlers().ok()) {
        return 3;
    }
    const std::string_view kind = argv[2];
    if (kind == "segv") {
        // A real fault: a page that may not be touched.
        void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        *static_cast<volatile int*>(page) = 1;
    } else if (kind == "exception") {
        throwUncaught();
    } else if (kind == "stop") {
        std::raise(SIGTSTP);
    }
    return 0;
}
