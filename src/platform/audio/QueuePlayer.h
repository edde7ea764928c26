#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>

#include "platform/audio/AudioSink.h"
#include "platform/audio/Sound.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/RunLoop.h"

namespace platform::audio {

// One entry of a queue player: a sound to be played once. An item is in one queue at most.
struct PlayerItem {
    std::shared_ptr<const Sound> sound;
};

// The phone platform's queue player over a sink: plays its items in order, each from its
// start; an item that ends leaves the queue and the next one plays. Whoever observes the
// current item hears every change with the item that was current before (null when none was).
// On its loop's thread.
class QueuePlayer {
public:
    using Item = std::shared_ptr<PlayerItem>;
    using CurrentItemObserver = std::function<void(const Item& old)>;

    explicit QueuePlayer(AudioSink& sink) : sink_(sink) {}
    ~QueuePlayer();
    QueuePlayer(const QueuePlayer&) = delete;
    QueuePlayer& operator=(const QueuePlayer&) = delete;

    [[nodiscard]] const std::deque<Item>& items() const { return items_; }
    [[nodiscard]] Item currentItem() const { return items_.empty() ? nullptr : items_.front(); }
    // False for an item already queued.
    [[nodiscard]] bool canInsert(const Item& item) const;
    void insertAtEnd(Item item);
    void removeAllItems();

    void play();
    void pause();
    // 1 while playing, 0 while paused; an error of the sink stops playing.
    [[nodiscard]] double rate() const { return rate_; }
    [[nodiscard]] const std::optional<Error>& error() const { return error_; }

    // Replaces the observer; an empty one removes it.
    void setCurrentItemObserver(CurrentItemObserver observer) { observer_ = std::move(observer); }
    [[nodiscard]] bool hasCurrentItemObserver() const { return static_cast<bool>(observer_); }

private:
    void startCurrent();
    void currentFinished(std::optional<Error> error);
    void currentChanged(const Item& old);

    AudioSink& sink_;
    std::deque<Item> items_;
    double rate_ = 0;
    std::optional<Error> error_;
    // Whether the sink holds the current item (playing or paused).
    bool sounding_ = false;
    CurrentItemObserver observer_;
};

}  // namespace platform::audio
