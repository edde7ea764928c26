#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/WeakPtr.h"
#include "platform/host/DesktopNotifier.h"

namespace platform {

// The desktop's notification service on the session bus (org.freedesktop.Notifications).
// Notices carry the actions "default" (a click on the notice) and, when one is asked for, a
// button, both opening it, where the server supports actions. No session bus or no server is
// reported to show()'s caller, never passed over.
//
// The calls are made on a bus thread of its own, each bounded by kCallTimeout, so a slow
// server never holds the loop; answers and the server's signals come back on the loop.
class FreedesktopNotifier final : public DesktopNotifier {
public:
    static constexpr double kCallTimeout = 2.0;
    // The program's name, and the name of its installed icon and desktop entry.
    static constexpr const char* kApplicationName = "KavoManager";
    static constexpr const char* kIconName = "kavomanager";
    // The action keys that open a notice.
    static constexpr const char* kDefaultAction = "default";
    static constexpr const char* kButtonAction = "open";

    // The session bus of this process's environment, or the bus at address.
    explicit FreedesktopNotifier(RunLoop& loop, std::optional<std::string> address = std::nullopt);
    ~FreedesktopNotifier() override;
    FreedesktopNotifier(const FreedesktopNotifier&) = delete;
    FreedesktopNotifier& operator=(const FreedesktopNotifier&) = delete;

    // Whether the bus answered.
    [[nodiscard]] bool hasBus() const;

    void show(const DesktopNotice& notice, Shown shown) override;
    void setEvents(Events events) override { events_ = std::move(events); }

private:
    struct Bus;
    enum class Event { opened, closed, serverLeft };

    void handle(Event event, NoticeId id);

    RunLoop& loop_;
    std::unique_ptr<Bus> bus_;
    Events events_;
    // Shown by this program and not closed: the ids the server's signals may name for us.
    std::set<NoticeId> open_;
    WeakPtrFactory<FreedesktopNotifier> weak_{*this, loop_};
};

}  // namespace platform
