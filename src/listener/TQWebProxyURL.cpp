#include "listener/TQWebProxyURL.h"

#include "link/TQAP.h"
#include "listener/TQWebProxyTransactions.h"
#include "logging/LGLog.h"

platform::net::ProxyDestinations TQWebProxyURL::destinations(
    const platform::UserDefaults& defaults) {
    return {.allowLoopback = defaults.boolean(kAllowLoopbackKey).value_or(false)};
}

TQWebProxyURL::TQWebProxyURL(platform::RunLoop& loop, platform::NotificationCenter& center,
                             std::unique_ptr<platform::net::ProxySockets> sockets)
    : loop_(loop), center_(center), sockets_(std::move(sockets)) {
    LG_VERBOSE("WebProxy Init Called");
    transactions_ = std::make_unique<TQWebProxyTransactions>(
        *sockets_, [&loop, &ioLink = ioLink_, weak = weak_.weakPtr()](platform::Bytes frame) {
            loop.post([weak, link = ioLink, frame = std::move(frame)] {
                if (TQWebProxyURL* self = weak.get()) {
                    self->sendToWatch(frame, link);
                }
            });
        });
    sockets_->setObserver(transactions_.get());
    for (const char* name : {"onConnectDeviceNotification", "onDisconnectDeviceNotification"}) {
        center_.addObserver(
            name, [this](const platform::Notification&) { linkChanged(); }, this);
    }
}

TQWebProxyURL::~TQWebProxyURL() {
    center_.removeAll(this);
    // The thread goes first: nothing may reach the transactions once they are gone.
    sockets_.reset();
    transactions_.reset();
}

void TQWebProxyURL::linkChanged() {
    const std::uint64_t link = ++link_;
    sockets_->post([this, link] {
        ioLink_ = link;
        transactions_->reset();
    });
}

void TQWebProxyURL::prepareForADPURequest(std::span<const std::uint8_t> frame, TQAP& ap) {
    kavoManager_ = &ap;
    sockets_->post(
        [transactions = transactions_.get(), bytes = platform::Bytes(frame.begin(), frame.end())] {
            transactions->requestforConnection(bytes);
        });
}

void TQWebProxyURL::sendToWatch(const platform::Bytes& frame, std::uint64_t link) {
    if (kavoManager_ != nullptr && link == link_) {
        kavoManager_->sendData(frame, kPriority, kAppId, false);
    }
}
