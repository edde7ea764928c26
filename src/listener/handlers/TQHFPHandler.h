#pragma once

// The watch's request to pair its calling profile ("mgr_hfp_connection_req").
class TQHFPHandler {
public:
    virtual ~TQHFPHandler() = default;
    virtual void processHFPConnectRequest() = 0;
};
