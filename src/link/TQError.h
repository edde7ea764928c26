#pragma once

#include <cstdint>
#include <string>
#include <utility>

// The error value of the link's error callbacks.
class TQError {
public:
    TQError(std::int64_t errorCode, std::string errorDescription)
        : errorCode_(errorCode), errorDescription_(std::move(errorDescription)) {}

    [[nodiscard]] std::int64_t errorCode() const { return errorCode_; }
    [[nodiscard]] const std::string& errorDescription() const { return errorDescription_; }

private:
    std::int64_t errorCode_;
    std::string errorDescription_;
};
