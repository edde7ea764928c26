#pragma once

#include <cstdint>
#include <span>

#include "link/TQSendOutcome.h"

// Where the file handler sends its segments: one link message each.
class TQFileDelegate {
public:
    virtual ~TQFileDelegate() = default;

    virtual void onSendDataRequest(std::span<const std::uint8_t> segment, std::uint32_t priority,
                                   std::uint32_t appId, bool arq,
                                   TQSendCompletion completion = {}) = 0;
};
