#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/NotificationCenter.h"

namespace platform {
namespace {

TEST(NotificationCenterTest, ObserversRunInOrderAndFilterBySender) {
    NotificationCenter center;
    std::vector<std::string> calls;
    int sender = 0;
    int other = 0;
    center.addObserver("onConnectDeviceNotification", [&](const Notification& n) {
        calls.push_back("first:" + *n.object["appId"].stringValue());
    });
    center.addObserver(
        "onConnectDeviceNotification", [&](const Notification&) { calls.push_back("sender only"); },
        nullptr, &sender);
    center.addObserver("", [&](const Notification& n) { calls.push_back("all:" + n.name); });
    center.addObserver("other", [&](const Notification&) { calls.push_back("other"); });

    center.post("onConnectDeviceNotification", &other, Value{{"appId", 1}});
    center.post("onConnectDeviceNotification", &sender, Value{{"appId", 2}});
    EXPECT_EQ(calls,
              (std::vector<std::string>{"first:1", "all:onConnectDeviceNotification", "first:2",
                                        "sender only", "all:onConnectDeviceNotification"}));
}

TEST(NotificationCenterTest, RemovalDuringAPostTakesEffectAtOnce) {
    NotificationCenter center;
    std::vector<std::string> calls;
    int owner = 0;
    NotificationCenter::Token second = 0;
    center.addObserver("n", [&](const Notification&) {
        calls.push_back("first");
        center.removeObserver(second);
        center.addObserver("n", [&](const Notification&) { calls.push_back("added"); });
    });
    second = center.addObserver("n", [&](const Notification&) { calls.push_back("second"); });
    center.addObserver(
        "n", [&](const Notification&) { calls.push_back("owned"); }, &owner);

    center.post("n");
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "owned"}));

    calls.clear();
    center.removeAll(&owner);
    center.post("n");
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "added"}));
}

TEST(NotificationCenterTest, PostsFromManyThreadsReachEveryObserver) {
    NotificationCenter center;
    std::atomic<int> count{0};
    center.addObserver("n", [&](const Notification&) { ++count; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) {
                center.post("n");
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(count.load(), 4000);
}

}  // namespace
}  // namespace platform
