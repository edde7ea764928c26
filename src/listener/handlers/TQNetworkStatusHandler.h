#pragma once

// The phone's data network, as the watch asks for it ("mgr_datanetwork_req").
class TQNetworkStatusHandler {
public:
    virtual ~TQNetworkStatusHandler() = default;
    virtual void sendNetworkStatus() = 0;
};
