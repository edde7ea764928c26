// The web proxy's frames from the watch, between what the servers do, over recorded sockets.
//
// Each record is one step; its flags byte says which (bits 0-1): 0 a frame from the watch (the
// bytes as they are, or with bit 2 a well-formed header around them: type, transaction, then
// the payload), 1 a socket opens, 2 a socket receives the bytes after the first, 3 a socket
// ends (with bit 2 by a failure). The first byte of a socket step picks one of the live sockets.
// With bit 3 the clock first moves on by as many seconds as the flags byte's top four bits say,
// times 16, so that idle transactions end.
// What must hold: every frame to the watch is well formed, a close frame frees its transaction,
// and a transaction whose server has not gone holds a live socket.

#include <cstdlib>
#include <vector>

#include "FuzzSupport.h"
#include "listener/TQWebProxyFrame.h"
#include "listener/TQWebProxyTransactions.h"
#include "platform/net/RecordingProxySockets.h"

namespace {

using platform::Bytes;
using platform::net::RecordingProxySockets;
using platform::net::SocketHandle;

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// A live socket picked by the byte, or none.
std::optional<SocketHandle> pick(const RecordingProxySockets& sockets,
                                 std::span<const std::uint8_t> bytes) {
    std::vector<SocketHandle> live;
    for (const auto& [handle, connection] : sockets.connections()) {
        if (!connection.gone) {
            live.push_back(handle);
        }
    }
    if (live.empty()) {
        return std::nullopt;
    }
    return live[(bytes.empty() ? 0 : bytes[0]) % live.size()];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RecordingProxySockets sockets;
    std::vector<Bytes> toWatch;
    TQWebProxyTransactions proxy(sockets,
                                 [&](Bytes frame) { toWatch.push_back(std::move(frame)); });
    sockets.setObserver(&proxy);

    fuzz::Records records(std::span(data, size));
    while (const auto record = records.next()) {
        const auto bytes = record->bytes;
        if ((record->flags & 8) != 0) {
            sockets.advance(16.0 * (record->flags >> 4));
        }
        switch (record->flags & 3) {
            case 0:
                if ((record->flags & 4) != 0 && bytes.size() >= 2) {
                    proxy.requestforConnection(
                        TQWebProxyFrame::make(bytes[0], bytes[1], bytes.subspan(2)));
                } else {
                    proxy.requestforConnection(bytes);
                }
                break;
            case 1:
                if (const auto socket = pick(sockets, bytes)) {
                    sockets.deliverOpened(*socket);
                }
                break;
            case 2:
                if (const auto socket = pick(sockets, bytes); socket && bytes.size() > 1) {
                    sockets.deliverReceived(*socket, bytes.subspan(1));
                }
                break;
            default:
                if (const auto socket = pick(sockets, bytes)) {
                    sockets.deliverClosed(*socket,
                                          (record->flags & 4) != 0
                                              ? std::optional(platform::Error{"fuzz", 1, "lost"})
                                              : std::nullopt);
                }
                break;
        }
        sockets.runTasks();

        for (const Bytes& frame : toWatch) {
            std::string whyNot;
            const auto read = TQWebProxyFrame::read(frame, whyNot);
            check(read && read->payload.size() + TQWebProxyFrame::kHeaderSize == frame.size());
            check(frame[0] == 0x01 && frame[1] == 0x01);
            if (read->type == TQWebProxyFrame::kControl) {
                check(frame == TQWebProxyFrame::makeErrorAPDUPacket(read->transactionId));
            } else {
                check(read->type == TQWebProxyFrame::kData);
            }
        }
        if (!toWatch.empty() && toWatch.back()[2] == TQWebProxyFrame::kControl) {
            check(proxy.connection(toWatch.back()[3]) == nullptr);
        }
        toWatch.clear();
        for (int transaction = 0; transaction < 256; ++transaction) {
            const auto* connection = proxy.connection(static_cast<std::uint8_t>(transaction));
            if (connection != nullptr && connection->state != TQWebProxyConnection::State::ended) {
                const auto* socket = sockets.connection(connection->socket);
                check(socket != nullptr && !socket->gone);
            }
        }
    }
    return 0;
}
