#pragma once

// The watch's buddies: "contacts-getbuddy-req" and "contacts-launchbuddy-req".
class TQBuddyHandler {
public:
    virtual ~TQBuddyHandler() = default;
    virtual void processBuddy() = 0;
    virtual void launchBuddyView() = 0;
};
