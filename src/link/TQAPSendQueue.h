#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "link/TQDataModel.h"
#include "link/TQSendOutcome.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/WeakPtr.h"

// The link facade's send queue: messages wait by queue priority (higher first, then in the
// order they came) and are started one at a time on the run loop. An operation that hands its
// message to the protocol suspends the queue, and the facade resumes it once the protocol is
// done with that message, so a waiting urgent message overtakes older background ones but
// never the message in flight.
//
// Every call is made on the loop's thread (debug builds check it). Each message carries the
// completion its sender gave; the queue only hands it on, to the operation or back from
// cancelAllOperations().
class TQAPSendQueue {
public:
    using Operation = std::function<void(TQDataModel model, TQSendCompletion completion)>;

    // Queue priorities of the send operations.
    static constexpr int kVeryLow = -8;
    static constexpr int kLow = -4;
    static constexpr int kNormal = 0;
    static constexpr int kHigh = 4;

    // operation runs on loop, which must outlive the queue.
    TQAPSendQueue(platform::RunLoop& loop, Operation operation);
    ~TQAPSendQueue();
    TQAPSendQueue(const TQAPSendQueue&) = delete;
    TQAPSendQueue& operator=(const TQAPSendQueue&) = delete;

    void add(TQDataModel model, int queuePriority, TQSendCompletion completion = {});
    // Changes take effect for operations not yet started; resuming starts the next one later
    // on the loop, never from inside the call.
    void setSuspended(bool suspended);
    [[nodiscard]] bool isSuspended() const;
    // Drops every waiting message; gives their completions, in the order they would have run.
    std::vector<TQSendCompletion> cancelAllOperations();
    [[nodiscard]] std::size_t operationCount() const;

private:
    struct Entry {
        int priority;
        std::uint64_t sequence;
        TQDataModel model;
        TQSendCompletion completion;
    };

    void schedulePump();
    void pump();

    platform::RunLoop& loop_;
    Operation operation_;
    std::vector<Entry> waiting_;
    std::uint64_t nextSequence_ = 0;
    bool suspended_ = false;
    bool pumpScheduled_ = false;
    // Posted pumps hold it weakly, so none runs after the queue is gone.
    platform::WeakPtrFactory<TQAPSendQueue> weak_{*this, loop_};
};
