#pragma once

// The usage logs uploaded to the maker (TQSendLogUtil).
class TQUsageLogHandler {
public:
    virtual ~TQUsageLogHandler() = default;

    // Records a connection usage log.
    virtual void generateJSONForConnByUsr() = 0;
};
