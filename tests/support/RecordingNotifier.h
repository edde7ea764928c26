#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/host/DesktopNotifier.h"

namespace testing_support {

// A desktop that shows every notice at once (or, made unavailable, none) and whose user a test
// plays by hand.
class RecordingNotifier final : public platform::DesktopNotifier {
public:
    void show(const platform::DesktopNotice& notice, Shown shown) override {
        if (!available) {
            shown(platform::Error{"kavo.notify", 1, "no desktop notification server"});
            return;
        }
        const platform::NoticeId id = nextId++;
        notices.push_back({id, notice});
        shown(id);
    }
    void setEvents(Events events) override { events_ = std::move(events); }

    // The user opens or the desktop closes the notice shown at index; nothing once nobody
    // listens.
    void open(std::size_t index) const {
        if (events_.opened) {
            events_.opened(notices.at(index).id);
        }
    }
    void close(std::size_t index) const {
        if (events_.closed) {
            events_.closed(notices.at(index).id);
        }
    }

    struct Record {
        platform::NoticeId id;
        platform::DesktopNotice notice;
    };
    bool available = true;
    platform::NoticeId nextId = 1;
    std::vector<Record> notices;

private:
    Events events_;
};

}  // namespace testing_support
