#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <string>

#include "platform/dbus/BusThread.h"
#include "support/PrivateBusTest.h"
#include "support/RecordingLogSink.h"

namespace platform::dbus {
namespace {

using Lifetime = BusThread::Lifetime;

class BusThreadTest : public testing_support::PrivateBusTest {
protected:
    // Waits for a task handed over now: the thread has run everything before it.
    static bool ranAfter(BusThread& thread) {
        auto ran = std::make_shared<std::promise<void>>();
        auto done = ran->get_future();
        thread.post([ran] { ran->set_value(); });
        return done.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    }

    std::shared_ptr<testing_support::RecordingLogSink> log =
        std::make_shared<testing_support::RecordingLogSink>();
    testing_support::ScopedLogSink scopedLog{log};
};

TEST_F(BusThreadTest, AFailingCallEndsTheBusOnlyWhenTheThreadEndsWithIt) {
    struct Case {
        Lifetime lifetime;
        bool lost;
        const char* line;
    };
    for (const Case& c : {Case{Lifetime::outlivesBus, false, "Test: org.kavo.Test.Failed: no"},
                          Case{Lifetime::endsWithBus, true, "Test: the bus went away: "}}) {
        SCOPED_TRACE(static_cast<int>(c.lifetime));
        BusThread thread(bus->address(), "Test", c.lifetime);
        auto lostPromise = std::make_shared<std::promise<void>>();
        auto lost = lostPromise->get_future();
        thread.start([lostPromise] { lostPromise->set_value(); });
        std::atomic<bool> later{false};
        thread.post([] { throw sdbus::Error("org.kavo.Test.Failed", "no"); });
        if (c.lost) {
            ASSERT_EQ(lost.wait_for(std::chrono::seconds(10)), std::future_status::ready);
            // The thread has ended: what is handed over afterwards never runs.
            thread.post([&later] { later = true; });
            thread.stop();
            EXPECT_FALSE(later);
        } else {
            EXPECT_TRUE(ranAfter(thread));
            thread.stop();
            EXPECT_NE(lost.wait_for(std::chrono::seconds(0)), std::future_status::ready);
        }
        EXPECT_TRUE(log->contains(c.line));
    }
}

TEST_F(BusThreadTest, AThreadThatOutlivesTheBusStillRunsWhatIsHandedOver) {
    BusThread thread(bus->address(), "Test", Lifetime::outlivesBus);
    auto lostPromise = std::make_shared<std::promise<void>>();
    auto lost = lostPromise->get_future();
    thread.start([lostPromise] { lostPromise->set_value(); });
    bus.reset();
    ASSERT_EQ(lost.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(log->contains("Test: the bus went away: "));
    // Objects made on the thread are taken down on it; a call that fails there is no end.
    thread.post([] { throw sdbus::Error("org.kavo.Test.Failed", "no"); });
    EXPECT_TRUE(ranAfter(thread));
    // Stopping while the thread waits for work ends it.
    thread.stop();
}

}  // namespace
}  // namespace platform::dbus
