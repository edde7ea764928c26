#pragma once

#include "listener/handlers/TQBuddyHandler.h"
#include "listener/handlers/TQGeneralMessageHandler.h"
#include "listener/handlers/TQHFPHandler.h"
#include "listener/handlers/TQWebSearchHandler.h"
#include "platform/foundation/Value.h"

class TQAP;

// The phone screens the watch asks for: the buddy list and the general messages, through the
// navigator while the application is in front, as a local notification otherwise.
class TQBuddyScreens final : public TQBuddyHandler, public TQGeneralMessageHandler {
public:
    static constexpr const char* kBuddyScreen = "TQBuddyListTableViewController";
    static constexpr const char* kGeneralMessagesScreen = "TQGeneralMessagesTableViewController";
    // Seconds from the watch's request to the buddy notification in the background.
    static constexpr double kBuddyNotificationDelay = 1.0;

    explicit TQBuddyScreens(TQAP& kavoManager) : kavoManager_(kavoManager) {}

    void launchBuddyView() override;
    void launchGeneralMessage() override;

private:
    TQAP& kavoManager_;
};

// A web search or link from the watch: opened through the host, only when it is a URL with
// a web scheme; while the application is not in front the user is notified instead.
class TQWebSearch final : public TQWebSearchHandler {
public:
    void processContextWebsearch(const platform::Value& message) override;
    // Whether text may be handed to the host's opener.
    [[nodiscard]] static bool isOpenableLink(std::string_view text);
};

// The watch's request to pair its calling profile: the phone's Bluetooth settings, or a
// notification that leads there.
class TQHFPRequest final : public TQHFPHandler {
public:
    static constexpr const char* kBluetoothSettings = "prefs:root=Bluetooth";
    void processHFPConnectRequest() override;
};
