#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http/HCHTTPRequestOperation.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/RunLoop.h"
#include "support/LoopWait.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"

// A main loop on a virtual clock, a loopback server, a loader of the test's own and a
// record of the operations' notifications.
class HCOperationFixture : public ::testing::Test {
protected:
    HCOperationFixture()
        : loop_(platform::RunLoop::Clock::virtualTime),
          installedLoop_(loop_),
          installedCenter_(&center_) {
        center_.addObserver("", [recorded = recorded_](const platform::Notification& note) {
            if (note.name.rfind("com.kavo.networking.operation.", 0) == 0) {
                std::lock_guard lock(recorded->mutex);
                recorded->notes.emplace_back(note.name, note.sender);
            }
        });
    }

    static platform::net::URLRequest request(std::string url, std::string method = "GET") {
        platform::net::URLRequest made;
        made.url = std::move(url);
        made.method = std::move(method);
        return made;
    }

    std::shared_ptr<HCHTTPRequestOperation> operation(std::string path) {
        return HCHTTPRequestOperation::make(request(server_.url(path)), &loader_);
    }

    bool wait(const std::function<bool()>& done) {
        return testing_support::runLoopUntil(loop_, done);
    }

    // Moves the virtual clock `seconds` at a time until done() holds, waiting briefly for the
    // network thread's news between steps; false after `steps` steps.
    bool stepUntil(const std::function<bool()>& done, double seconds, int steps = 2000) {
        for (int i = 0; i < steps && !done(); ++i) {
            loop_.advance(seconds);
            if (!done()) {
                wakes_.waitBriefly();
            }
        }
        return done();
    }

    std::size_t notes(const std::string& name, const void* sender) {
        std::lock_guard lock(recorded_->mutex);
        std::size_t count = 0;
        for (const auto& [noteName, noteSender] : recorded_->notes) {
            count += noteName == name && noteSender == sender ? 1 : 0;
        }
        return count;
    }

    // What a success or failure block heard.
    struct Outcome {
        bool done = false;
        bool succeeded = false;
        bool onLoop = false;
        HCResponseObject object;
        std::optional<HCError> error;
    };

    void record(HCHTTPRequestOperation& op, Outcome& outcome) {
        op.setCompletionBlockWithSuccess(
            [this, &outcome](const auto&, const HCResponseObject& object) {
                outcome.onLoop = loop_.isCurrent();
                outcome.object = object;
                outcome.succeeded = true;
                outcome.done = true;
            },
            [this, &outcome](const auto&, const HCError& error) {
                outcome.onLoop = loop_.isCurrent();
                outcome.error = error;
                outcome.done = true;
            });
    }

    // A small download started beside a stalled transfer, waited for while the clock stands
    // still: an idle loop run would move the clock on to the stall's next timer.
    Outcome downloadBesideAStall() {
        auto other = operation("/bytes?size=5000");
        Outcome outcome;
        record(*other, outcome);
        other->start();
        EXPECT_TRUE(stepUntil([&] { return outcome.done; }, 0));
        return outcome;
    }

    static std::string patternText(std::size_t offset, std::size_t size) {
        std::string text(size, '\0');
        for (std::size_t i = 0; i < size; ++i) {
            text[i] = static_cast<char>(testing_support::LoopbackServer::patternByte(offset + i));
        }
        return text;
    }

    struct Recorded {
        std::mutex mutex;
        std::vector<std::pair<std::string, const void*>> notes;
    };
    std::shared_ptr<Recorded> recorded_ = std::make_shared<Recorded>();
    platform::RunLoop loop_;
    platform::ScopedMainRunLoop installedLoop_;
    testing_support::LoopWakes wakes_{loop_};
    platform::NotificationCenter center_;
    platform::ScopedInstall<platform::NotificationCenter> installedCenter_;
    testing_support::TempDir temp_;
    testing_support::LoopbackServer server_;
    platform::OperationQueue queue_;
    platform::net::URLLoader loader_;
};
