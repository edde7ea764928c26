#pragma once

class TQAP;

// The quick-reply and call-rejection texts kept per watch model (TQTextTemplateUtils).
class TQTextTemplateHandler {
public:
    virtual ~TQTextTemplateHandler() = default;

    // needToDelete: drops the current model's templates; needToInsertTemplate: inserts the
    // predefined ones and sends them to the watch through ap.
    virtual void initializeCallRejectionDataToKavo(TQAP& ap, bool needToDelete,
                                                   bool needToInsertTemplate) = 0;
    virtual void initializeGeneralMessageDataToKavo(TQAP& ap, bool needToDelete,
                                                    bool needToInsertTemplate) = 0;
};
