#include <gtest/gtest.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/NetlinkSocketSource.h"
#include "platform/net/NetworkReachability.h"
#include "support/Spawn.h"

namespace {

using platform::net::ReachabilityFlags;
namespace flag = platform::net::reachability_flag;

// How long the kernel may take to tell; reached only when something is broken.
constexpr double kEventBound = 10.0;

// Runs `ip` in the calling thread's network namespace; whether it succeeded.
bool ip(std::vector<std::string> args) {
    args.insert(args.begin(), "ip");
    return testing_support::runQuietly(args);
}

ino_t networkNamespace() {
    struct stat info {};
    return ::stat("/proc/thread-self/ns/net", &info) == 0 ? info.st_ino : 0;
}

// What the test saw, told back from the thread that lives in the new namespace.
struct Observed {
    std::string skip;
    std::optional<ReachabilityFlags> before;
    bool sawReachable = false;
    bool sawUnreachable = false;
    std::vector<ReachabilityFlags> heard;
};

// Runs the loop until done() holds or the bound passes; whether done() held.
bool runUntil(platform::RunLoop& loop, const std::function<bool()>& done) {
    bool timedOut = false;
    auto bound = loop.scheduleTimer(kEventBound, false, [&] { timedOut = true; });
    loop.runUntil([&] { return done() || timedOut; });
    bound->invalidate();
    return done();
}

// Only this thread enters the new namespace; the rest of the process, and the machine, keep
// theirs. Everything the test creates goes away with the namespace.
void inFreshNamespace(Observed& seen) {
    const ino_t host = networkNamespace();
    if (::unshare(CLONE_NEWNET) != 0) {
        seen.skip = std::string("cannot make a network namespace: ") + std::strerror(errno);
        return;
    }
    if (host == 0 || networkNamespace() == host) {
        seen.skip = "cannot tell that the thread left the machine's network namespace";
        return;
    }
    platform::RunLoop loop(platform::RunLoop::Clock::real);
    platform::net::NetworkMonitor monitor(loop,
                                          std::make_unique<platform::net::NetlinkSocketSource>());
    auto internet = platform::net::NetworkReachability::forAddress({}, monitor);
    seen.before = internet->flags();
    if (!seen.before) {
        seen.skip = "no routing socket in the namespace";
        return;
    }
    internet->setCallback([&](ReachabilityFlags flags) { seen.heard.push_back(flags); });
    internet->schedule();

    const bool made = ip({"link", "add", "kvtest0", "type", "dummy"}) ||
                      ip({"link", "add", "kvtest0", "type", "veth", "peer", "name", "kvtest1"});
    if (!made) {
        seen.skip = "the kernel makes neither dummy nor veth interfaces here";
        return;
    }
    ip({"link", "set", "kvtest1", "up"});
    if (!ip({"link", "set", "kvtest0", "up"}) ||
        !ip({"addr", "add", "10.77.0.2/24", "dev", "kvtest0"}) ||
        !ip({"route", "add", "default", "via", "10.77.0.1", "dev", "kvtest0"})) {
        seen.skip = "cannot configure the test interface";
        return;
    }
    seen.sawReachable = runUntil(loop, [&] { return internet->flags() == flag::reachable; });
    ip({"route", "del", "default"});
    seen.sawUnreachable = runUntil(loop, [&] { return internet->flags() == 0u; });
}

TEST(NetworkNamespaceTest, DefaultRouteOverATestInterfaceComesAndGoes) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "making a network namespace needs root";
    }
    Observed seen;
    std::thread worker([&] { inFreshNamespace(seen); });
    worker.join();
    if (!seen.skip.empty()) {
        GTEST_SKIP() << seen.skip;
    }
    EXPECT_EQ(seen.before, 0u);
    EXPECT_TRUE(seen.sawReachable);
    EXPECT_TRUE(seen.sawUnreachable);
    EXPECT_EQ(seen.heard, (std::vector<ReachabilityFlags>{flag::reachable, 0u}));
}

}  // namespace
