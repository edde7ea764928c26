#include "platform/audio/QueuePlayer.h"

#include <algorithm>
#include <utility>

namespace platform::audio {

QueuePlayer::~QueuePlayer() {
    sink_.stop();
}

bool QueuePlayer::canInsert(const Item& item) const {
    return item != nullptr && std::find(items_.begin(), items_.end(), item) == items_.end();
}

void QueuePlayer::insertAtEnd(Item item) {
    if (!canInsert(item)) {
        return;
    }
    const bool wasEmpty = items_.empty();
    items_.push_back(std::move(item));
    if (wasEmpty) {
        currentChanged(nullptr);
        if (rate_ > 0) {
            startCurrent();
        }
    }
}

void QueuePlayer::removeAllItems() {
    if (items_.empty()) {
        return;
    }
    const Item old = items_.front();
    if (sounding_) {
        sink_.stop();
        sounding_ = false;
    }
    items_.clear();
    currentChanged(old);
}

void QueuePlayer::play() {
    error_.reset();
    rate_ = 1;
    if (sounding_) {
        sink_.resume();
    } else if (!items_.empty()) {
        startCurrent();
    }
}

void QueuePlayer::pause() {
    rate_ = 0;
    if (sounding_) {
        sink_.pause();
    }
}

void QueuePlayer::startCurrent() {
    sounding_ = true;
    sink_.start(items_.front()->sound,
                [this](std::optional<Error> error) { currentFinished(std::move(error)); });
}

void QueuePlayer::currentFinished(std::optional<Error> error) {
    sounding_ = false;
    if (error) {
        // The item stays current, as a player that failed keeps its item.
        error_ = std::move(error);
        rate_ = 0;
        return;
    }
    const Item old = items_.front();
    items_.pop_front();
    currentChanged(old);
    if (rate_ > 0 && !items_.empty() && !sounding_) {
        startCurrent();
    }
}

void QueuePlayer::currentChanged(const Item& old) {
    if (observer_) {
        // The observer may replace itself.
        auto observer = observer_;
        observer(old);
    }
}

}  // namespace platform::audio
