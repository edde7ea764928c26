#pragma once

// The watch's request to open the buddy settings: "contacts-launchbuddy-req".
class TQBuddyHandler {
public:
    virtual ~TQBuddyHandler() = default;
    virtual void launchBuddyView() = 0;
};
