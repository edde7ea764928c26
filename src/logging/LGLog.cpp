#include "logging/LGLog.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <span>
#include <thread>

#include "platform/foundation/NotificationCenter.h"

namespace {

struct LoggerNode {
    std::shared_ptr<LGLogger> logger;
    std::uint64_t level;
    platform::SerialQueue* queue;                     // the logger's own, or ownQueue
    std::unique_ptr<platform::SerialQueue> ownQueue;  // made when the logger has none
};

// Records queued together, delivered by one task of the logging queue. The records stay
// between batches with the room of their texts and are refilled by the next lines, so a line
// makes and frees no memory once the batches have grown.
class Batch {
public:
    Batch() { records_.reserve(kReserve); }

    LGLogMessage& add() {
        if (used_ == records_.size()) {
            std::string none;
            records_.emplace_back(std::move(none), 0, 0, 0, nullptr, nullptr, 0);
        }
        return records_[used_++];
    }
    void add(LGLogMessage&& message) {
        if (used_ == records_.size()) {
            records_.push_back(std::move(message));
        } else {
            records_[used_] = std::move(message);
        }
        ++used_;
    }

    [[nodiscard]] std::span<const LGLogMessage> records() const { return {records_.data(), used_}; }
    [[nodiscard]] std::size_t size() const { return used_; }

    void clear() {
        for (std::size_t i = 0; i < used_; ++i) {
            records_[i].release(kKeptRoom);
        }
        used_ = 0;
    }

private:
    // Room for a burst's records without moving them as the batch grows.
    static constexpr std::size_t kReserve = 64;
    // A kept record's texts give back room beyond this: one long line should not hold on to
    // its memory for ever.
    static constexpr std::size_t kKeptRoom = 1024;

    std::vector<LGLogMessage> records_;
    std::size_t used_ = 0;
};

// The bound on records waiting for delivery. Taking a place costs one atomic operation while
// places are free; only a caller that has to wait takes the lock.
class PendingLimit {
public:
    explicit PendingLimit(long places) : free_(places) {}

    void take() {
        if (tryTake()) {
            return;
        }
        std::unique_lock lock(mutex_);
        waiters_.fetch_add(1);
        freed_.wait(lock, [this] { return tryTake(); });
        waiters_.fetch_sub(1);
    }

    void give(long places) {
        free_.fetch_add(places);
        // A waiter counts itself before it checks, so either it sees these places or we see it.
        if (waiters_.load() > 0) {
            std::lock_guard lock(mutex_);
            freed_.notify_all();
        }
    }

private:
    bool tryTake() {
        long places = free_.load();
        while (places > 0) {
            if (free_.compare_exchange_weak(places, places - 1)) {
                return true;
            }
        }
        return false;
    }

    std::atomic<long> free_;
    std::atomic<int> waiters_{0};
    std::mutex mutex_;
    std::condition_variable freed_;
};

// The hub's state. The node list is touched only on the logging queue, so it needs no lock.
// The logging queue waits for every task it gives a logger's queue, so a logger's last owner
// is never a task of the logger's own queue (which could not wait for itself to drain).
// Asynchronous records join the batch whose delivery task is the last one queued, so that a
// burst of lines costs one hop per logger rather than one per line; any other task queued
// behind it closes it, which keeps every record in order with the hub's and the loggers' own
// tasks.
class Hub {
public:
    Hub()
        : pending_(kMaxPending),
          processors_(std::max(1u, std::thread::hardware_concurrency())),
          queue_("kavo.logging") {
        platform::NotificationCenter::defaultCenter().addObserver(
            "UIApplicationWillTerminateNotification",
            [](const platform::Notification&) { LGLog::applicationWillTerminate(); });
    }

    platform::SerialQueue& queue() { return queue_; }

    void add(std::shared_ptr<LGLogger> logger, std::uint64_t level) {
        LoggerNode node{std::move(logger), level, nullptr, nullptr};
        node.queue = node.logger->loggerQueue();
        if (node.queue == nullptr) {
            node.ownQueue = std::make_unique<platform::SerialQueue>(node.logger->loggerName());
            node.queue = node.ownQueue.get();
        }
        node.queue->sync([&] { node.logger->didAddLogger(); });
        nodes_.push_back(std::move(node));
    }

    // Counted when addLogger is called, so records logged after that call are queued behind
    // the registration.
    void admit(const LGLogger* logger, std::uint64_t level) {
        registered.fetch_add(1);
        std::lock_guard lock(levelsMutex_);
        levels_.emplace_back(logger, level);
        combineLevels();
    }

    void remove(const std::shared_ptr<LGLogger>& logger) {
        const auto it = std::find_if(nodes_.begin(), nodes_.end(),
                                     [&](const LoggerNode& node) { return node.logger == logger; });
        if (it == nodes_.end()) {
            return;
        }
        withdraw(logger.get());
        it->queue->sync([&] { it->logger->willRemoveLogger(); });
        nodes_.erase(it);
    }

    void removeAll() {
        for (auto& node : nodes_) {
            withdraw(node.logger.get());
            node.queue->sync([&] { node.logger->willRemoveLogger(); });
        }
        nodes_.clear();
    }

    std::vector<std::shared_ptr<LGLogger>> loggers() const {
        std::vector<std::shared_ptr<LGLogger>> result;
        result.reserve(nodes_.size());
        for (const auto& node : nodes_) {
            result.push_back(node.logger);
        }
        return result;
    }

    // Swaps text into a record of the batch: the caller gets room for its next line back.
    void queueText(bool asynchronous, std::string& text, std::uint64_t level, std::uint64_t flag,
                   std::int64_t context, const char* file, const char* function,
                   std::uint64_t line, const platform::Value& tag) {
        if (!asynchronous) {
            queueMessage(LGLogMessage(std::move(text), level, flag, context, file, function, line,
                                      tag),
                         false);
            return;
        }
        queueAsynchronously([&](Batch& batch) {
            batch.add().refill(text, level, flag, context, file, function, line, tag);
        });
    }

    // Taken by reference: a record is moved once, into its batch.
    void queueMessage(LGLogMessage&& message, bool asynchronous) {
        if (!asynchronous) {
            pending_.take();
            syncUrgently([&] { deliverOnQueue(std::span<const LGLogMessage>(&message, 1)); });
            return;
        }
        queueAsynchronously([&](Batch& batch) { batch.add(std::move(message)); });
    }

    // Runs task on the logging queue and waits for it; a batch waiting for more lines goes at
    // once, so no caller waits for that.
    void syncUrgently(const std::function<void()>& task) {
        {
            std::lock_guard lock(batchMutex_);
            ++waiters_;
            stopGathering();
        }
        struct Done {
            Hub& hub;
            ~Done() {
                std::lock_guard lock(hub.batchMutex_);
                --hub.waiters_;
            }
        } done{*this};
        queue_.sync(task);
    }

    void flushOnQueue() {
        platform::DispatchGroup group;
        for (const auto& node : nodes_) {
            group.async(*node.queue, [logger = node.logger] { logger->flush(); });
        }
        group.wait();
    }

    // Loggers registered or waiting to be, and the OR of their levels: what the macros test
    // before they format anything.
    std::atomic<int> registered{0};
    std::atomic<std::uint64_t> admitted{0};
    std::mutex classesMutex;
    std::vector<std::pair<std::string, LGLog::ClassLevel>> classes;

private:
    static constexpr long kMaxPending = 1000;
    // A batch this large is written without waiting for more...
    static constexpr std::size_t kGathered = 256;
    // ...and a smaller one waits at most this long, and only while lines keep coming: the
    // previous batch went less than this long ago. A line after a quiet time goes at once.
    static constexpr std::chrono::microseconds kGathering{1000};

    // Adds a record to the batch whose delivery task is the last one of the queue, or to a
    // new batch with a task of its own.
    template <typename Add>
    void queueAsynchronously(const Add& add) {
        pending_.take();
        std::lock_guard lock(batchMutex_);
        if (open_ && queue_.lastNumber() == openNumber_) {
            add(*open_);
            if (open_->size() >= kGathered) {
                stopGathering();
            }
            return;
        }
        // A batch gathering more lines can have no more once a task is queued behind it.
        stopGathering();
        open_ = spare_ ? std::move(spare_) : std::make_shared<Batch>();
        add(*open_);
        openNumber_ = queue_.asyncNumbered([this, batch = open_] {
            {
                std::unique_lock closing(batchMutex_);
                if (open_ == batch) {
                    gather(closing, *batch);
                }
                // Closed: what comes now goes to a batch of its own. A line that came behind a
                // task queued meanwhile opened a batch of its own, which stays open.
                if (open_ == batch) {
                    open_.reset();
                }
            }
            deliverOnQueue(batch->records());
            lastDelivered_ = std::chrono::steady_clock::now();
            batch->clear();
            // Kept with its records for the next batch: fresh memory for each burst costs more
            // than the records themselves.
            std::lock_guard keeping(batchMutex_);
            if (!spare_) {
                spare_ = batch;
            }
        });
    }

    // While lines keep coming, a small open batch waits a moment for more, so that a burst is
    // one write and one wake of this thread rather than one per line. A full batch, a task
    // queued behind it or a caller waiting on the queue ends the wait; a task that others
    // queue straight onto the logging queue waits at most kGathering. On the logging queue,
    // with closing held.
    void gather(std::unique_lock<std::mutex>& closing, const Batch& batch) {
        if (batch.size() >= kGathered || waiters_ > 0 ||
            std::chrono::steady_clock::now() - lastDelivered_ >= kGathering ||
            queue_.lastNumber() != openNumber_) {
            return;
        }
        gathering_ = true;
        closing.unlock();
        const bool woken = gathered_.wait(std::chrono::duration<double>(kGathering).count());
        closing.lock();
        if (!woken && !gathering_) {
            // Stopped just as the time ran out: take that signal, so the next wait is whole.
            gathered_.wait();
        }
        gathering_ = false;
    }

    // Under batchMutex_.
    void stopGathering() {
        if (gathering_) {
            gathering_ = false;
            gathered_.signal();
        }
    }

    // Drops the first level entry of the logger: entries are in registration order, so a
    // registration still waiting behind this removal keeps its own.
    void withdraw(const LGLogger* logger) {
        registered.fetch_sub(1);
        std::lock_guard lock(levelsMutex_);
        const auto it = std::find_if(levels_.begin(), levels_.end(),
                                     [logger](const auto& entry) { return entry.first == logger; });
        if (it != levels_.end()) {
            levels_.erase(it);
        }
        combineLevels();
    }

    void combineLevels() {
        std::uint64_t combined = 0;
        for (const auto& entry : levels_) {
            combined |= entry.second;
        }
        admitted.store(combined);
    }

    void deliverOnQueue(std::span<const LGLogMessage> batch) {
        auto& admitted = admitted_;
        admitted.resize(nodes_.size());
        for (std::size_t i = 0; i < nodes_.size(); ++i) {
            admitted[i].clear();
            for (const LGLogMessage& message : batch) {
                if ((nodes_[i].level & message.flag()) != 0) {
                    admitted[i].push_back(&message);
                }
            }
        }
        const auto receivers = std::count_if(admitted.begin(), admitted.end(),
                                             [](const auto& records) { return !records.empty(); });
        if (processors_ < 2 || receivers == 1) {
            // Nothing to overlap: the logger works on this thread when its queue is idle,
            // which spares waking one of the pool's for it and waiting for that.
            for (std::size_t i = 0; i < nodes_.size(); ++i) {
                if (!admitted[i].empty()) {
                    nodes_[i].queue->syncHereWhenIdle(
                        [&] { nodes_[i].logger->logMessages(admitted[i]); });
                }
            }
        } else {
            // The loggers of one batch work side by side; all finish before the next batch.
            platform::DispatchGroup group;
            for (std::size_t i = 0; i < nodes_.size(); ++i) {
                if (!admitted[i].empty()) {
                    group.async(*nodes_[i].queue,
                                [&, i] { nodes_[i].logger->logMessages(admitted[i]); });
                }
            }
            group.wait();
        }
        pending_.give(static_cast<long>(batch.size()));
    }

    PendingLimit pending_;
    const unsigned processors_;
    std::mutex batchMutex_;
    // The batch asynchronous records join while its task, numbered openNumber_, is the last
    // one of the queue.
    std::shared_ptr<Batch> open_;
    std::uint64_t openNumber_ = 0;
    // A delivered batch, emptied, for the next one.
    std::shared_ptr<Batch> spare_;
    // Whether the open batch's task waits for more lines, woken through gathered_.
    bool gathering_ = false;
    platform::Semaphore gathered_{0};
    // Callers waiting for a task of the logging queue.
    int waiters_ = 0;
    // When the last batch was delivered; on the logging queue.
    std::chrono::steady_clock::time_point lastDelivered_;
    std::vector<LoggerNode> nodes_;
    // Each logger's records of the batch being delivered, kept with their room between batches.
    std::vector<std::vector<const LGLogMessage*>> admitted_;
    std::mutex levelsMutex_;
    std::vector<std::pair<const LGLogger*, std::uint64_t>> levels_;
    // Last, so it goes first: it waits for what is still queued while the state its tasks
    // use is all there.
    platform::SerialQueue queue_;
};

}  // namespace

struct LGLogHub::State : Hub {};

LGLogHub::LGLogHub() : state_(std::make_unique<State>()) {}

LGLogHub::~LGLogHub() {
    // Its loggers hear they are removed and have written everything before they go.
    state_->syncUrgently([this] {
        state_->flushOnQueue();
        state_->removeAll();
    });
}

LGLogHub::State& LGLogHub::current() {
    return *installedOr([]() -> LGLogHub& {
                // Lives for the whole process: loggers may still log while other statics go.
                static LGLogHub* const process = new LGLogHub;
                return *process;
            }).state_;
}

namespace {

Hub& hub() {
    return LGLogHub::current();
}

}  // namespace

platform::SerialQueue& LGLog::loggingQueue() {
    return hub().queue();
}

void LGLog::addLogger(std::shared_ptr<LGLogger> logger, std::uint64_t level) {
    if (!logger) {
        return;
    }
    Hub& target = hub();
    target.admit(logger.get(), level);
    target.queue().async([&target, logger = std::move(logger), level]() mutable {
        target.add(std::move(logger), level);
    });
}

void LGLog::removeLogger(const std::shared_ptr<LGLogger>& logger) {
    if (!logger) {
        return;
    }
    Hub& target = hub();
    target.queue().async([&target, logger] { target.remove(logger); });
}

void LGLog::removeAllLoggers() {
    Hub& target = hub();
    target.queue().async([&target] { target.removeAll(); });
}

std::vector<std::shared_ptr<LGLogger>> LGLog::allLoggers() {
    std::vector<std::shared_ptr<LGLogger>> result;
    Hub& target = hub();
    target.syncUrgently([&] { result = target.loggers(); });
    return result;
}

void LGLog::log(bool asynchronous, std::string message, std::uint64_t level, std::uint64_t flag,
                std::int64_t context, const char* file, const char* function, std::uint64_t line,
                const platform::Value& tag) {
    if (!hasLoggers()) {
        return;
    }
    hub().queueText(asynchronous, message, level, flag, context, file, function, line, tag);
}

namespace {

// The room a thread formats its lines in, kept between them.
struct ThreadRoom {
    std::string room;
    ~ThreadRoom() { gone = true; }

    static std::string& text() {
        thread_local ThreadRoom kept;
        return kept.room;
    }
    // Set as the room goes; having no destructor, it can be read after that.
    static thread_local bool gone;
};

thread_local bool ThreadRoom::gone = false;

}  // namespace

void LGLog::logFormat(bool asynchronous, std::string_view format,
                      std::span<const lg::FormatArg> args, std::uint64_t level, std::uint64_t flag,
                      std::int64_t context, const char* file, const char* function,
                      std::uint64_t line, const platform::Value& tag) {
    // The thread's room for its lines' texts, unless a line is being formatted on this thread
    // already (an argument that logs while it is described) or the room went with the thread's
    // other thread-local objects, whose destructors may still log.
    thread_local bool formatting = false;
    std::string own;
    std::string& text = formatting || ThreadRoom::gone ? own : ThreadRoom::text();
    const bool outermost = !formatting;
    formatting = true;
    struct Done {
        bool outermost;
        ~Done() {
            if (outermost) {
                formatting = false;
            }
        }
    } done{outermost};
    text.clear();
    lg::appendFormatArgs(text, format, args);
    hub().queueText(asynchronous, text, level, flag, context, file, function, line, tag);
}

void LGLog::log(bool asynchronous, LGLogMessage message) {
    queueLogMessage(std::move(message), asynchronous);
}

void LGLog::queueLogMessage(LGLogMessage message, bool asynchronous) {
    if (!hasLoggers()) {
        return;
    }
    hub().queueMessage(std::move(message), asynchronous);
}

bool LGLog::hasLoggers() {
    return hub().registered.load() > 0;
}

bool LGLog::admits(std::uint64_t flag) {
    return (hub().admitted.load() & flag) != 0;
}

void LGLog::flushLog() {
    Hub& target = hub();
    target.syncUrgently([&target] { target.flushOnQueue(); });
}

void LGLog::syncOnLoggingQueue(const std::function<void()>& task) {
    hub().syncUrgently(task);
}

void LGLog::applicationWillTerminate() {
    flushLog();
}

void LGLog::registerClass(std::string name, ClassLevel level) {
    std::lock_guard lock(hub().classesMutex);
    for (auto& [registered, entry] : hub().classes) {
        if (registered == name) {
            entry = std::move(level);
            return;
        }
    }
    hub().classes.emplace_back(std::move(name), std::move(level));
}

bool LGLog::isRegisteredClass(std::string_view name) {
    std::lock_guard lock(hub().classesMutex);
    return std::any_of(hub().classes.begin(), hub().classes.end(),
                       [name](const auto& entry) { return entry.first == name; });
}

std::vector<std::string> LGLog::registeredClassNames() {
    std::lock_guard lock(hub().classesMutex);
    std::vector<std::string> names;
    for (const auto& entry : hub().classes) {
        names.push_back(entry.first);
    }
    return names;
}

std::uint64_t LGLog::levelForClassWithName(std::string_view name) {
    std::lock_guard lock(hub().classesMutex);
    for (const auto& [registered, level] : hub().classes) {
        if (registered == name) {
            return level.get();
        }
    }
    return LGLogLevelAll;
}

void LGLog::setLevelForClassWithName(std::uint64_t level, std::string_view name) {
    std::lock_guard lock(hub().classesMutex);
    for (const auto& [registered, entry] : hub().classes) {
        if (registered == name) {
            entry.set(level);
            return;
        }
    }
}
