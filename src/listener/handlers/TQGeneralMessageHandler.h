#pragma once

// The general-message screen the watch asks for ("mgr_show_on_device_req" with "data"
// "texttemplate_setting").
class TQGeneralMessageHandler {
public:
    virtual ~TQGeneralMessageHandler() = default;
    virtual void launchGeneralMessage() = 0;
};
