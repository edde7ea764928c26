#include "link/support/LinkPeer.h"

#include <utility>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"

namespace link_test {

LinkPeer::LinkPeer(MemoryLink::End& end)
    : end_(end),
      protocol_(std::make_unique<TQProtocol>(platform::RunLoop::main(),
                                             platform::UserDefaults::standard())) {
    protocol_->initialize(*this, end_);
    end_.setDelegate(protocol_.get());
}

LinkPeer::~LinkPeer() {
    end_.setDelegate(nullptr);
}

void LinkPeer::send(platform::Bytes message, bool arq) {
    outgoing_.push_back({std::move(message), arq});
    if (!inProtocol_) {
        handDownNext();
    }
}

void LinkPeer::handDownNext() {
    if (next_ == outgoing_.size()) {
        return;
    }
    Outgoing& message = outgoing_[next_++];
    message.handedDown = platform::RunLoop::main().now();
    inProtocol_ = true;
    protocol_->packetsFromDataModel({message.data, message.arq ? 1U : 0U});
}

void LinkPeer::onDataSendCompleted(const TQSendOutcome& /*outcome*/) {
    if (!inProtocol_) {
        ++unexpectedCompletions_;
        return;
    }
    inProtocol_ = false;
    outgoing_[next_ - 1].completed = platform::RunLoop::main().now();
    handDownNext();
}

void LinkPeer::relaunch() {
    end_.setDelegate(nullptr);
    protocol_ =
        std::make_unique<TQProtocol>(platform::RunLoop::main(), platform::UserDefaults::standard());
    protocol_->initialize(*this, end_);
    end_.setDelegate(protocol_.get());
    protocol_->restoreCurrentSendWindowSetValue();
    inProtocol_ = false;
    handDownNext();
}

void LinkPeer::forget() {
    outgoing_.clear();
    next_ = 0;
    received_.clear();
}

void LinkPeer::onDataReceiveCompleted(std::span<const std::uint8_t> message) {
    received_.push_back(
        {platform::Bytes(message.begin(), message.end()), platform::RunLoop::main().now()});
    if (receiver_) {
        receiver_(message);
    }
}

void LinkPeer::onResetCmdReceived() {
    resetsReceived_.push_back(platform::RunLoop::main().now());
}

}  // namespace link_test
