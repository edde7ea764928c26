#include "link/TQAP.h"

#include <algorithm>
#include <array>
#include <utility>

#include "link/TQControlModel.h"
#include "link/TQDataModel.h"
#include "link/TQPairedWatchKeys.h"
#include "logging/LGLog.h"
#include "platform/foundation/LoopThread.h"
#include "platform/system/DeviceInfo.h"
#include "utils/TQUtils.h"

namespace {

using platform::Bytes;

constexpr const char* kHiddenConditionBitSetKey = "hiddenConditionBitSet";

// The watch reads these as they stand.
constexpr std::string_view kResponseMaker = "Apple";
constexpr std::string_view kResponseTag = "kmg";

// Field offsets and widths of the handshake records.
constexpr std::size_t kRequestNameOffset = 33;
constexpr std::size_t kMakerOffset = 17;
constexpr std::size_t kPhoneNameOffset = 33;
constexpr std::size_t kTagOffset = 66;
constexpr std::size_t kDeviceIdOffset = 99;
constexpr std::size_t kTextWidth = 16;
constexpr std::size_t kTagWidth = 32;

int queuePriorityFor(std::uint32_t priority) {
    switch (priority) {
        case 0:
            return TQAPSendQueue::kHigh;
        case 2:
            return TQAPSendQueue::kLow;
        case 3:
            return TQAPSendQueue::kVeryLow;
        default:
            return TQAPSendQueue::kNormal;
    }
}

// A text field: from offset to its first zero byte or the record's end, whichever comes first.
std::string readText(std::span<const std::uint8_t> record, std::size_t offset) {
    const auto field = record.subspan(std::min(offset, record.size()));
    const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
    return std::string(field.begin(), end);
}

// Cuts at the width, but never inside a UTF-8 character, so the watch gets whole ones.
void writeText(Bytes& record, std::size_t offset, std::size_t width, std::string_view text) {
    std::size_t length = std::min(text.size(), width);
    if (length < text.size()) {
        while (length > 0 && (static_cast<std::uint8_t>(text[length]) & 0xC0) == 0x80) {
            --length;
        }
    }
    std::copy_n(text.begin(), length, record.begin() + static_cast<std::ptrdiff_t>(offset));
}

const char* orNull(const std::optional<std::string>& text) {
    return text ? text->c_str() : nullptr;
}

}  // namespace

TQAP::TQAP(TQBleManagerInterface& bleManager, platform::RunLoop& loop,
           platform::UserDefaults& defaults)
    : bleManager_(bleManager),
      loop_(loop),
      defaults_(defaults),
      qosQueue_(std::make_unique<TQAPSendQueue>(
          loop_,
          [this](TQDataModel model, TQSendCompletion completion) {
              sendDataOperation(std::move(model), std::move(completion));
          })),
      protocol_(std::make_unique<TQProtocol>(loop_, defaults_)) {
    platform::assertOnLoopThread(loop_);
    protocol_->initialize(*this, bleManager_);
    bleManager_.setDelegate(this, protocol_.get());
}

TQAP::~TQAP() {
    platform::assertOnLoopThread(loop_);
    // It sends through the facade, so it goes first.
    fileHandler_.reset();
    bleManager_.setDelegate(nullptr, nullptr);
    if (refusalGrace_) {
        refusalGrace_->invalidate();
    }
}

// ---- delegates ----

void TQAP::setDelegate(std::shared_ptr<TQAPDelegate> delegate) {
    std::lock_guard lock(delegateMutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<TQAPDelegate> TQAP::delegate() const {
    std::lock_guard lock(delegateMutex_);
    return delegate_;
}

void TQAP::setFileTransferDelegate(std::shared_ptr<TQAPFileTransferDelegate> delegate) {
    std::lock_guard lock(delegateMutex_);
    fileTransferDelegate_ = std::move(delegate);
}

std::shared_ptr<TQAPFileTransferDelegate> TQAP::fileTransferDelegate() const {
    std::lock_guard lock(delegateMutex_);
    return fileTransferDelegate_;
}

void TQAP::setFileHandler(std::unique_ptr<TQFileHandlerInterface> fileHandler) {
    platform::assertOnLoopThread(loop_);
    fileHandler_ = std::move(fileHandler);
}

// ---- connection ----

bool TQAP::isConnected() {
    platform::assertOnLoopThread(loop_);
    return bleManager_.isConnected();
}

bool TQAP::isBleEnabled() {
    platform::assertOnLoopThread(loop_);
    return bleManager_.isBleEnabled();
}

void TQAP::scanForDevices() {
    platform::assertOnLoopThread(loop_);
    bleManager_.scanForPeripherals();
}

void TQAP::stopScanForDevices() {
    platform::assertOnLoopThread(loop_);
    bleManager_.stopScanForPeripherals();
}

void TQAP::connectDevice(platform::bluetooth::RemotePeripheral& peripheral) {
    platform::assertOnLoopThread(loop_);
    if (isConnected()) {
        LG_WARN("TQAP: connect device misuse");
        return;
    }
    bleManager_.connectWithPeripheral(peripheral);
}

platform::bluetooth::RemotePeripheral* TQAP::getConnectedDevice() {
    platform::assertOnLoopThread(loop_);
    return bleManager_.getConnectedDevice();
}

platform::bluetooth::RemotePeripheral* TQAP::getNearestPeripheral() {
    platform::assertOnLoopThread(loop_);
    return bleManager_.getNearestPeripheral();
}

std::vector<platform::bluetooth::RemotePeripheral*> TQAP::getConnectedPeripherals(
    std::span<const platform::bluetooth::Uuid> identifiers) {
    platform::assertOnLoopThread(loop_);
    return bleManager_.getConnectedPeripherals(identifiers);
}

// ---- messages ----

Bytes TQAP::addPriority(std::uint32_t priority, std::uint32_t appId,
                        std::span<const std::uint8_t> body) {
    Bytes message;
    message.reserve(body.size() + 1);
    message.push_back(static_cast<std::uint8_t>(appId | priority << 6));
    message.insert(message.end(), body.begin(), body.end());
    return message;
}

void TQAP::sendData(std::span<const std::uint8_t> body, std::uint32_t priority, std::uint32_t appId,
                    bool arq, TQSendCompletion completion) {
    submit({addPriority(priority, appId, body), arq, queuePriorityFor(priority),
            priority == kFileSegmentPriority, std::move(completion)});
}

void TQAP::onSendDataRequest(std::span<const std::uint8_t> segment, std::uint32_t priority,
                             std::uint32_t appId, bool arq, TQSendCompletion completion) {
    submit({addPriority(priority, appId, segment), arq, TQAPSendQueue::kVeryLow, false,
            std::move(completion)});
}

// The connection flag belongs to the loop, so the check waits for it too.
void TQAP::submit(Submission submission) {
    if (!loop_.isLoopThread()) {
        later([submission = std::move(submission)](TQAP& self) mutable {
            self.submit(std::move(submission));
        });
        return;
    }
    if (!isConnected()) {
        LG_WARN("TQAP - Not connected - Data sending rejected");
        report(std::move(submission.completion),
               TQSendOutcome::dropped(TQSendOutcome::DropReason::notConnected));
        return;
    }
    if (submission.reservedPriority) {
        report(std::move(submission.completion),
               TQSendOutcome::dropped(TQSendOutcome::DropReason::reservedPriority));
        return;
    }
    qosQueue_->add(TQDataModel{std::move(submission.message), submission.arq ? 1U : 0U},
                   submission.queuePriority, std::move(submission.completion));
}

void TQAP::later(std::function<void(TQAP&)> call) {
    loop_.post([weak = weak_.weakPtr(), call = std::move(call)] {
        if (TQAP* self = weak.get()) {
            call(*self);
        }
    });
}

void TQAP::report(TQSendCompletion completion, const TQSendOutcome& outcome) {
    if (completion) {
        later([completion = std::move(completion), outcome](TQAP&) { completion(outcome); });
    }
}

void TQAP::disconnect() {
    const std::uint8_t body[] = {kDisconnectRequest};
    sendData(body, 1, kDisconnectAppId, true);
}

void TQAP::sendEcho() {
    if (!loop_.isLoopThread()) {
        later([](TQAP& self) { self.sendEcho(); });
        return;
    }
    for (const Bytes& packet : TQProtocol::packetsFromControlModel({TQProtocol::ping, 1})) {
        bleManager_.sendData(packet);
    }
}

void TQAP::sendDataOperation(TQDataModel model, TQSendCompletion completion) {
    LG_DEBUG("TQAP - sendDataOperation");
    setSendQueueSuspended(true);
    handDown(model, Origin::sendQueue, std::move(completion));
}

void TQAP::handDown(const TQDataModel& model, Origin origin, TQSendCompletion completion) {
    // Noted first: a message the protocol drops at once completes before the call returns.
    inProtocol_.push_back({origin, model.arqVal != 0, std::move(completion)});
    protocol_->packetsFromDataModel(model);
}

void TQAP::setSendQueueSuspended(bool suspended) {
    if (qosQueue_->isSuspended() != suspended) {
        LG_DEBUG("observeValueForKeyPath - suspended: %@", suspended);
    }
    qosQueue_->setSuspended(suspended);
}

// The protocol completes acknowledged messages in the order they were handed down, and
// unacknowledged ones likewise, but an unacknowledged message may go out while a window of
// older acknowledged ones waits for the watch; drops take the oldest first. So a completion
// belongs to the oldest message of its kind, and a handshake message's completion cannot free
// the queue while the queue's own message is still in flight.
TQAP::InFlight TQAP::takeInFlight(const TQSendOutcome& outcome) {
    auto found = inProtocol_.begin();
    if (outcome.kind != TQSendOutcome::Kind::dropped) {
        const bool arq = outcome.kind == TQSendOutcome::Kind::acknowledged;
        found = std::find_if(inProtocol_.begin(), inProtocol_.end(),
                             [arq](const InFlight& entry) { return entry.arq == arq; });
    }
    if (found == inProtocol_.end()) {
        found = inProtocol_.begin();
    }
    if (found == inProtocol_.end()) {
        return {Origin::sendQueue, false, {}};
    }
    InFlight entry = std::move(*found);
    inProtocol_.erase(found);
    return entry;
}

void TQAP::onDataSendCompleted(const TQSendOutcome& outcome) {
    platform::assertOnLoopThread(loop_);
    LG_DEBUG("TQAP - onDataSendCompleted");
    InFlight entry = takeInFlight(outcome);
    switch (entry.origin) {
        case Origin::sendQueue:
            setSendQueueSuspended(false);
            break;
        case Origin::direct:
            break;
        case Origin::refusal:
            // Out of the protocol's call: dropping the subscription resets the protocol.
            later([](TQAP& self) { self.clearRefusedCentral(); });
            break;
    }
    if (entry.completion) {
        // At once, so that the message in flight is heard before those that waited behind it.
        entry.completion(outcome);
    }
}

// ---- receiving ----

void TQAP::onDataReceiveCompleted(std::span<const std::uint8_t> message) {
    platform::assertOnLoopThread(loop_);
    if (message.empty()) {
        LG_WARN("TQAP - empty message dropped");
        return;
    }
    const std::uint8_t header = message[0];
    const auto body = message.subspan(1);
    const std::uint32_t priority = header >> 6;
    const std::uint32_t appId = header & 0x3FU;
    LG_DEBUG("Priority: %d", priority);
    if (appId == kHandshakeAppId) {
        processBAPSequence(header, message);
        return;
    }
    if (priority == kFileSegmentPriority) {
        if (auto* handler = fileHandlerFor("processFileSegment")) {
            handler->processFileSegment(body, appId);
        }
        return;
    }
    if (const auto receiver = delegate()) {
        receiver->onDataReceiveCompleted(body, appId);
    }
}

void TQAP::onPingReceived() {}

void TQAP::onResetCmdReceived() {
    platform::assertOnLoopThread(loop_);
    LG_INFO("Reset received");
}

// ---- Bluetooth manager events ----

void TQAP::onConnect() {
    platform::assertOnLoopThread(loop_);
    protocol_->restoreCurrentSendWindowSetValue();
    if (const auto receiver = delegate()) {
        receiver->onConnectDevice();
    }
}

void TQAP::onDisconnect() {
    platform::assertOnLoopThread(loop_);
    cancelRefusal();
    bapRequestAnswered_ = false;
    // Waiting messages are dropped outright: nothing would run them while the message in
    // flight keeps the queue suspended.
    const auto disconnected = TQSendOutcome::dropped(TQSendOutcome::DropReason::disconnected);
    for (TQSendCompletion& completion : qosQueue_->cancelAllOperations()) {
        report(std::move(completion), disconnected);
    }
    LG_DEBUG("TQAP - dataSendQueue has no operation now");
    setSendQueueSuspended(false);
    if (fileHandler_) {
        fileHandler_->pauseFileSend();
    }
    protocol_->resetRetransmission(TQSendOutcome::DropReason::disconnected);
    protocol_->abortSending(TQSendOutcome::DropReason::disconnected);
    const auto receiver = delegate();
    LG_INFO("TQAP: self.delegate - %@", static_cast<const void*>(receiver.get()));
    if (receiver) {
        receiver->onDisconnectDevice();
    }
}

void TQAP::onBleManagerStateChange(bool enabled) {
    platform::assertOnLoopThread(loop_);
    if (const auto receiver = delegate()) {
        receiver->onBleManagerStateChange(enabled);
    }
}

void TQAP::onPeripheralDiscovered(
    const std::vector<platform::bluetooth::RemotePeripheral*>& peripherals) {
    platform::assertOnLoopThread(loop_);
    if (const auto receiver = delegate()) {
        receiver->onDiscoverDevices(peripherals);
    }
}

void TQAP::onDataSendingFailed(const platform::Value& /*object*/) {}

void TQAP::onError(const TQError& error) {
    platform::assertOnLoopThread(loop_);
    if (const auto receiver = delegate()) {
        receiver->onError(error);
    }
}

void TQAP::autoConnectionInProgress() {
    platform::assertOnLoopThread(loop_);
    if (const auto receiver = delegate()) {
        receiver->autoConnectionInProgress();
    }
}

void TQAP::sendResetKavoRequest(bool flag) {
    platform::assertOnLoopThread(loop_);
    LG_INFO("TQAP: sendResetKavoRequest flag: %d", flag);
    resetKavoFlag_ = flag;
    if (!flag) {
        // A new subscription: whatever was decided about the last one is over.
        bapRequestAnswered_ = false;
        cancelRefusal();
    }
}

// ---- files ----

TQFileHandlerInterface* TQAP::fileHandlerFor(const char* call) {
    platform::assertOnLoopThread(loop_);
    if (!fileHandler_) {
        LG_WARN("TQAP - no file handler: %@ ignored", call);
    }
    return fileHandler_.get();
}

void TQAP::sendFile(Bytes data, std::string name, std::uint32_t appId, TQFileSendEvent event) {
    platform::assertOnLoopThread(loop_);
    if (!isConnected()) {
        LG_WARN("TQAP - Not connected - File sending rejected");
        if (const auto receiver = fileTransferDelegate()) {
            receiver->onFileError(TQError(9, "Bluetooth not connected"));
        }
        return;
    }
    if (auto* handler = fileHandlerFor("sendFile")) {
        handler->processFileData(std::move(data), std::move(name), appId, std::move(event));
    }
}

void TQAP::acceptFile() {
    if (auto* handler = fileHandlerFor("acceptFile")) {
        handler->acceptFile();
    }
}

void TQAP::rejectFile() {
    if (auto* handler = fileHandlerFor("rejectFile")) {
        handler->rejectFile();
    }
}

void TQAP::cancelFile() {
    if (auto* handler = fileHandlerFor("cancelFile")) {
        handler->cancelFile();
    }
}

void TQAP::resumeFileRequest() {
    if (auto* handler = fileHandlerFor("resumeFileRequest")) {
        handler->resumeRequest();
    }
}

void TQAP::resumeFileAccept() {
    if (auto* handler = fileHandlerFor("resumeFileAccept")) {
        handler->resumeAccept();
    }
}

void TQAP::resumeFileReject() {
    if (auto* handler = fileHandlerFor("resumeFileReject")) {
        handler->resumeReject();
    }
}

void TQAP::resetFileHandler() {
    if (auto* handler = fileHandlerFor("resetFileHandler")) {
        handler->resetFileHandler();
    }
}

void TQAP::onFileReceiveCompleted(std::span<const std::uint8_t> file, std::uint32_t appId) {
    platform::assertOnLoopThread(loop_);
    if (const auto receiver = fileTransferDelegate()) {
        receiver->onFileReceiveCompleted(file, appId);
    }
}

void TQAP::onFileInfoReceive(const std::string& name, std::uint64_t size) {
    platform::assertOnLoopThread(loop_);
    if (const auto receiver = fileTransferDelegate()) {
        receiver->onFileReceiveRequest(name, size);
    }
}

void TQAP::onFileResumeRequestReceive(const std::string& name, std::uint64_t size) {
    platform::assertOnLoopThread(loop_);
    if (const auto receiver = fileTransferDelegate()) {
        receiver->onFileResumeRequest(name, size);
    }
}

void TQAP::onFileCancel(const std::string& name) {
    platform::assertOnLoopThread(loop_);
    if (const auto receiver = fileTransferDelegate()) {
        receiver->onFileCancel(name);
    }
}

void TQAP::onFileReject(const std::string& name) {
    platform::assertOnLoopThread(loop_);
    if (const auto receiver = fileTransferDelegate()) {
        receiver->onFileReject(name);
    }
}

void TQAP::onFileResumeReject(const std::string& name) {
    platform::assertOnLoopThread(loop_);
    if (const auto receiver = fileTransferDelegate()) {
        receiver->onFileResumeReject(name);
    }
}

void TQAP::onFileSendProgress(float progress) {
    platform::assertOnLoopThread(loop_);
    if (const auto receiver = fileTransferDelegate()) {
        receiver->onFileSendProgress(progress);
    }
}

void TQAP::onFileReceiveProgress(float progress) {
    platform::assertOnLoopThread(loop_);
    if (const auto receiver = fileTransferDelegate()) {
        receiver->onFileReceiveProgress(progress);
    }
}

void TQAP::onFileError(const TQError& error) {
    platform::assertOnLoopThread(loop_);
    if (const auto receiver = fileTransferDelegate()) {
        receiver->onFileError(error);
    }
}

// ---- pairing handshake ----

std::optional<std::string> TQAP::getDeviceMacFromName(std::string_view name) {
    return TQUtils::getDeviceMacFromName(name);
}

void TQAP::processBAPSequence(std::uint32_t header, std::span<const std::uint8_t> data) {
    platform::assertOnLoopThread(loop_);
    std::array<std::uint8_t, kBAPRecordSize> record{};
    std::copy_n(data.begin(), std::min(data.size(), record.size()), record.begin());
    switch (header) {
        case kBAPRequest:
            handleBAPRequest(record);
            break;
        case kBAPComplete:
            handleBAPComplete();
            break;
        case kBAPReject:
            disconnect();
            break;
        default:
            break;
    }
}

void TQAP::handleBAPRequest(std::span<const std::uint8_t, kBAPRecordSize> record) {
    LG_INFO("TQAP: BAP_REQUEST received from kavo");
    const std::string watchName = readText(record, kRequestNameOffset);

    const auto central = defaults_.string(paired_watch::kCentralIdentifierKey);
    auto subscribed = defaults_.string(paired_watch::kTempCentralIdentifierKey);
    if (subscribed && subscribed->empty()) {
        subscribed.reset();
    }
    const auto pairedMac = defaults_.string(paired_watch::kDeviceMacKey);
    const auto currentMac = getDeviceMacFromName(watchName);
    LG_INFO("connectedDeviceMac: %@, currentDeviceMac: %@", orNull(pairedMac), orNull(currentMac));

    // Remembers the subscribed central as the paired one; with no subscription on record there
    // is no name to store it under.
    const auto adoptSubscribedCentral = [&](bool clearHiddenCondition) {
        if (subscribed) {
            defaults_.set(paired_watch::kCentralIdentifierKey, *subscribed);
            defaults_.set(*subscribed, paired_watch::kConnectedMark);
        } else {
            LG_WARN("TQAP: no tempCentralIdentifier, central identifier not stored");
        }
        if (clearHiddenCondition) {
            defaults_.set(kHiddenConditionBitSetKey, false);
        }
        TQUtils::synchronizeDefaults(defaults_, "TQAP");
    };

    if (!central) {
        LG_INFO("PERIPHERAL: central identifier in user default in nil");
        adoptSubscribedCentral(false);
    } else if (subscribed && *central == *subscribed) {
        // The paired watch again.
    } else {
        LG_INFO("PERIPHERAL: old kavo connected with central identifier: %@", orNull(subscribed));
        if (currentMac && pairedMac && *currentMac == *pairedMac) {
            adoptSubscribedCentral(true);
        } else {
            refuseWatch();
            return;
        }
    }
    answerBAPRequest();
}

void TQAP::answerBAPRequest() {
    sendBAPData(makeBAPAcceptPacket());
    bapRequestAnswered_ = true;
    LG_INFO("TQAP: BAP_RESPONSE send to kavo");
}

void TQAP::handleBAPComplete() {
    LG_INFO("TQAP: BAP_COMPLETE received from kavo");
    if (resetKavoFlag_) {
        LG_INFO("TQAP: RESET_KAVO_PRESENT and return");
        disconnect();
        return;
    }
    if (!bapRequestAnswered_) {
        LG_WARN("TQAP: BAP_COMPLETE without an answered BAP_REQUEST ignored");
        return;
    }
    // One connection per answered request.
    bapRequestAnswered_ = false;
    if (const auto receiver = delegate()) {
        receiver->onConnectDevice();
    }
}

// The disconnect request must leave before the subscription goes, or the watch never hears it:
// it goes straight to the protocol, and the subscription is dropped once the protocol is done
// with it, or after a short grace.
void TQAP::refuseWatch() {
    LG_INFO("TQAP: RESET_KAVO_PRESENT and return");
    bleManager_.sendResetKavoRequest(true);
    cancelRefusal();
    refusalGrace_ = loop_.scheduleTimer(kRefusalGrace, false, [weak = weak_.weakPtr()] {
        if (weak) {
            weak->clearRefusedCentral();
        }
    });
    const std::uint8_t body[] = {kDisconnectRequest};
    handDown(TQDataModel{addPriority(1, kDisconnectAppId, body), 1}, Origin::refusal);
}

void TQAP::clearRefusedCentral() {
    if (!refusalGrace_) {
        return;  // nothing refused, or the refusal was cancelled
    }
    cancelRefusal();
    bleManager_.clearConnectedCentral();
}

void TQAP::cancelRefusal() {
    if (refusalGrace_) {
        refusalGrace_->invalidate();
        refusalGrace_.reset();
    }
}

Bytes TQAP::makeBAPAcceptPacket() {
    platform::assertOnLoopThread(loop_);
    Bytes record(kBAPRecordSize, 0);
    record[0] = kBAPResponse;
    writeText(record, kMakerOffset, kTextWidth, kResponseMaker);
    writeText(record, kPhoneNameOffset, kTextWidth, platform::DeviceInfo::current().name());
    writeText(record, kTagOffset, kTagWidth, kResponseTag);
    if (const auto* device = getConnectedDevice()) {
        const auto& uuid = device->identifier().bytes();
        std::copy(uuid.begin(), uuid.end(),
                  record.begin() + static_cast<std::ptrdiff_t>(kDeviceIdOffset));
    }
    return record;
}

Bytes TQAP::makeBAPRejectPacket() {
    Bytes record(kBAPRecordSize, 0);
    record[0] = kBAPReject;
    return record;
}

void TQAP::sendBAPData(std::span<const std::uint8_t> record) {
    platform::assertOnLoopThread(loop_);
    handDown(TQDataModel{Bytes(record.begin(), record.end()), 1}, Origin::direct);
}
