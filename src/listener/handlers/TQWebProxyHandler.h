#pragma once

#include <cstdint>
#include <span>

class TQAP;

// The watch's road to the internet (TQWebProxyURL): frames of application identifier 6.
class TQWebProxyHandler {
public:
    virtual ~TQWebProxyHandler() = default;

    // One frame without its header byte; answers go back through ap.
    virtual void prepareForADPURequest(std::span<const std::uint8_t> frame, TQAP& ap) = 0;
};
