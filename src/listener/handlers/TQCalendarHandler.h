#pragma once

// The calendar synchronisation to the watch (TQEvent): one per process. Its answers go out on
// application identifier 8.
class TQCalendarHandler {
public:
    virtual ~TQCalendarHandler() = default;

    // Asks for calendar access and answers "calendar-change-rsp".
    virtual void startCalendarEvent() = 0;
    virtual void initializeEventDatabase() = 0;
    // The next full-sync chunk (0, 1 or 2); 0 starts a new full sync.
    [[nodiscard]] virtual int listStep() const = 0;
    virtual void cleanUpEvent() = 0;
    virtual void populateCalendarData() = 0;
    // Sends chunk listStep() and moves the step on.
    virtual void fullSyncWithChunk() = 0;
    // Answers "calendar-sequence-rsp".
    virtual void updateSequenceNumber() = 0;
};
