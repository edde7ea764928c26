#include "listener/TQWebProxyFrame.h"

#include <algorithm>

std::optional<TQWebProxyFrame> TQWebProxyFrame::read(std::span<const std::uint8_t> bytes,
                                                     std::string& whyNot) {
    if (bytes.size() < kHeaderSize) {
        whyNot = "a frame of " + std::to_string(bytes.size()) + " bytes has no whole header";
        return std::nullopt;
    }
    const std::uint32_t length = (std::uint32_t{bytes[4]} << 24) | (std::uint32_t{bytes[5]} << 16) |
                                 (std::uint32_t{bytes[6]} << 8) | std::uint32_t{bytes[7]};
    const std::size_t available = bytes.size() - kHeaderSize;
    if (length > available) {
        whyNot = "a frame announces " + std::to_string(length) + " payload bytes and carries " +
                 std::to_string(available);
        return std::nullopt;
    }
    return TQWebProxyFrame{bytes[2], bytes[3], bytes.subspan(kHeaderSize, length)};
}

platform::Bytes TQWebProxyFrame::make(std::uint8_t type, std::uint8_t transactionId,
                                      std::span<const std::uint8_t> payload) {
    const auto length = static_cast<std::uint32_t>(payload.size());
    // Sized at once: GCC's bounds warning misreads an insert behind an initializer list.
    platform::Bytes frame(8 + payload.size());
    frame[0] = 0x01;
    frame[1] = 0x01;
    frame[2] = type;
    frame[3] = transactionId;
    for (int i = 0; i < 4; ++i) {
        frame[4 + i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
    }
    std::copy(payload.begin(), payload.end(), frame.begin() + 8);
    return frame;
}

platform::Bytes TQWebProxyFrame::makeSuccessAPDUPacket(std::span<const std::uint8_t> payload,
                                                       std::uint8_t transactionId) {
    return make(kData, transactionId, payload);
}

platform::Bytes TQWebProxyFrame::makeErrorAPDUPacket(std::uint8_t transactionId) {
    const std::uint8_t close = 0x01;
    return make(kControl, transactionId, std::span(&close, 1));
}
