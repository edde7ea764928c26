#include "listener/TQWebProxyURL.h"

#include "link/TQAP.h"
#include "listener/TQWebProxyTransactions.h"
#include "logging/LGLog.h"

TQWebProxyURL::TQWebProxyURL(platform::RunLoop& loop,
                             std::unique_ptr<platform::net::ProxySockets> sockets)
    : loop_(loop), sockets_(std::move(sockets)) {
    LG_VERBOSE("WebProxy Init Called");
    transactions_ = std::make_unique<TQWebProxyTransactions>(
        *sockets_, [&loop, weak = weak_.weakPtr()](platform::Bytes frame) {
            loop.post([weak, frame = std::move(frame)] {
                if (TQWebProxyURL* self = weak.get()) {
                    self->sendToWatch(frame);
                }
            });
        });
    sockets_->setObserver(transactions_.get());
}

TQWebProxyURL::~TQWebProxyURL() {
    // The thread goes first: nothing may reach the transactions once they are gone.
    sockets_.reset();
    transactions_.reset();
}

void TQWebProxyURL::prepareForADPURequest(std::span<const std::uint8_t> frame, TQAP& ap) {
    kavoManager_ = &ap;
    sockets_->post(
        [transactions = transactions_.get(), bytes = platform::Bytes(frame.begin(), frame.end())] {
            transactions->requestforConnection(bytes);
        });
}

void TQWebProxyURL::sendToWatch(const platform::Bytes& frame) {
    if (kavoManager_ != nullptr) {
        kavoManager_->sendData(frame, kPriority, kAppId, false);
    }
}
