#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/TQAPDelegate.h"
#include "link/TQAPFileTransferDelegate.h"
#include "link/TQAPSendQueue.h"
#include "link/TQBleManagerInterface.h"
#include "link/TQBleResponseDelegate.h"
#include "link/TQDataDelegate.h"
#include "link/TQError.h"
#include "link/TQFileHandlerInterface.h"
#include "link/TQPeripheral.h"
#include "link/TQProtocol.h"
#include "platform/bluetooth/RemotePeripheral.h"
#include "platform/bluetooth/Uuid.h"
#include "platform/foundation/Replaceable.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"

// The one object through which the rest of the application uses the watch link: scanning and
// connecting, sending messages and files, the pairing handshake, and the link's events for one
// delegate.
//
// Every message starts with a header byte: bits 7-6 the priority (0 urgent, 1 normal,
// 2 background, 3 file segment), bits 5-0 the application identifier. Outgoing messages wait
// in a send queue on the main run loop and go to the protocol one at a time; received ones are
// routed by that byte: identifier 0 to the handshake, priority 3 to the file handler, anything
// else to the delegate without the header byte.
//
// Sending may be asked for from any thread. Everything else (the manager's and the protocol's
// callbacks, the handshake, the file calls) runs on the main run loop, which must be the one
// installed when the facade is made.
class TQAP final : public TQBleResponseDelegate,
                   public TQDataDelegate,
                   public platform::Replaceable<TQAP> {
public:
    // The link's GATT service.
    static constexpr std::string_view kServiceUUID = TQPeripheral::kServiceUuid;

    static constexpr std::uint32_t kHandshakeAppId = 0;
    static constexpr std::uint32_t kDisconnectAppId = 60;
    static constexpr std::uint8_t kDisconnectRequest = 0x3C;
    static constexpr std::uint32_t kFileSegmentPriority = 3;

    // Handshake records: the header byte gives the type.
    static constexpr std::size_t kBAPRecordSize = 148;
    static constexpr std::uint8_t kBAPRequest = 0x00;
    static constexpr std::uint8_t kBAPResponse = 0x40;
    static constexpr std::uint8_t kBAPComplete = 0x80;
    static constexpr std::uint8_t kBAPReject = 0xC0;

    // How long a refused watch's subscription is kept for the disconnect request to leave.
    static constexpr double kRefusalGrace = 1.0;

    // The application's facade, which its composition root made and installed.
    static TQAP& initializeWithANCS(bool ancs);

    // The manager is borrowed and must outlive the facade.
    explicit TQAP(TQBleManagerInterface& bleManager);
    ~TQAP() override;
    TQAP(const TQAP&) = delete;
    TQAP& operator=(const TQAP&) = delete;

    // ---- delegates (held strongly; replaceable at any time) ----

    void setDelegate(std::shared_ptr<TQAPDelegate> delegate);
    [[nodiscard]] std::shared_ptr<TQAPDelegate> delegate() const;
    void setFileTransferDelegate(std::shared_ptr<TQAPFileTransferDelegate> delegate);
    [[nodiscard]] std::shared_ptr<TQAPFileTransferDelegate> fileTransferDelegate() const;
    // The file transfer; segments and events pass through the facade.
    void setFileHandler(std::unique_ptr<TQFileHandlerInterface> fileHandler);

    // ---- connection ----

    [[nodiscard]] bool isConnected();
    [[nodiscard]] bool isBleEnabled();
    void scanForDevices();
    void stopScanForDevices();
    // Ignored while a watch is connected.
    void connectDevice(platform::bluetooth::RemotePeripheral& peripheral);
    [[nodiscard]] platform::bluetooth::RemotePeripheral* getConnectedDevice();
    [[nodiscard]] platform::bluetooth::RemotePeripheral* getNearestPeripheral();
    std::vector<platform::bluetooth::RemotePeripheral*> getConnectedPeripherals(
        std::span<const platform::bluetooth::Uuid> identifiers);
    // Names of discovered watches, kept by the pairing screens.
    std::vector<std::string>& scannedDeviceNames() { return scannedDeviceNames_; }

    // ---- messages ----

    // Queues body behind the header byte of priority (0-2) and appId (below 64). Dropped while
    // the watch is not connected, and for priority 3, which belongs to file segments. The
    // caller is never told whether the message arrived.
    void sendData(std::span<const std::uint8_t> body, std::uint32_t priority, std::uint32_t appId,
                  bool arq);
    // Asks the watch to drop the link: 0x3C on identifier 60, priority 1, acknowledged.
    void disconnect();
    // A ping control packet, straight to the manager.
    void sendEcho();
    // The header byte followed by body.
    [[nodiscard]] static platform::Bytes addPriority(std::uint32_t priority, std::uint32_t appId,
                                                     std::span<const std::uint8_t> body);

    // ---- files ----

    // While not connected the file delegate gets TQError 9 and event is not called.
    void sendFile(platform::Bytes data, std::string name, std::uint32_t appId,
                  TQFileSendEvent event);
    void acceptFile();
    void rejectFile();
    void cancelFile();
    void resumeFileRequest();
    void resumeFileAccept();
    void resumeFileReject();
    void resetFileHandler();

    // ---- the file handler's calls ----

    // One segment as a link message of priority 3, behind every waiting message.
    void onSendDataRequest(std::span<const std::uint8_t> segment, std::uint32_t priority,
                           std::uint32_t appId, bool arq);
    void onFileReceiveCompleted(std::span<const std::uint8_t> file, std::uint32_t appId);
    void onFileInfoReceive(const std::string& name, std::uint64_t size);
    void onFileResumeRequestReceive(const std::string& name, std::uint64_t size);
    void onFileCancel(const std::string& name);
    void onFileReject(const std::string& name);
    void onFileResumeReject(const std::string& name);
    void onFileSendProgress(float progress);
    void onFileReceiveProgress(float progress);
    void onFileError(const TQError& error);

    // ---- pairing handshake (application identifier 0) ----

    // One handshake message, header byte included; only its first 148 bytes are read.
    void processBAPSequence(std::uint32_t header, std::span<const std::uint8_t> data);
    // The 148-byte BAP_RESPONSE that describes this phone.
    [[nodiscard]] platform::Bytes makeBAPAcceptPacket();
    [[nodiscard]] static platform::Bytes makeBAPRejectPacket();
    [[nodiscard]] static std::optional<std::string> getDeviceMacFromName(std::string_view name);
    // A handshake record straight to the protocol, acknowledged, past the send queue.
    void sendBAPData(std::span<const std::uint8_t> record);
    [[nodiscard]] bool resetKavoFlag() const { return resetKavoFlag_.load(); }

    [[nodiscard]] TQProtocol& protocol() { return *protocol_; }

    // TQBleResponseDelegate
    void onConnect() override;
    void onDisconnect() override;
    void onBleManagerStateChange(bool enabled) override;
    void onPeripheralDiscovered(
        const std::vector<platform::bluetooth::RemotePeripheral*>& peripherals) override;
    void onDataSendingFailed(const platform::Value& object) override;
    void onError(const TQError& error) override;
    // true: the watch is to be sent away; false: a new subscription starts clean.
    void sendResetKavoRequest(bool flag) override;
    void autoConnectionInProgress() override;

    // TQDataDelegate
    void onDataSendCompleted() override;
    void onDataReceiveCompleted(std::span<const std::uint8_t> message) override;
    void onPingReceived() override;
    void onResetCmdReceived() override;

private:
    // Who handed a message to the protocol; its completions come back in that order.
    enum class Origin { sendQueue, direct, refusal };

    void enqueue(std::span<const std::uint8_t> body, std::uint32_t priority, std::uint32_t appId,
                 bool arq, int queuePriority);
    void sendDataOperation(const TQDataModel& model);
    void handDown(const TQDataModel& model, Origin origin);
    void setSendQueueSuspended(bool suspended);
    [[nodiscard]] TQFileHandlerInterface* fileHandlerFor(const char* call);

    void handleBAPRequest(std::span<const std::uint8_t, kBAPRecordSize> record);
    void handleBAPComplete();
    void answerBAPRequest();
    void refuseWatch();
    void clearRefusedCentral();
    void cancelRefusal();

    TQBleManagerInterface& bleManager_;
    platform::RunLoop& loop_;
    // Built before the protocol, so that nothing the protocol reports can find it missing.
    std::unique_ptr<TQAPSendQueue> qosQueue_;
    std::unique_ptr<TQProtocol> protocol_;
    std::unique_ptr<TQFileHandlerInterface> fileHandler_;
    std::vector<std::string> scannedDeviceNames_;

    mutable std::mutex delegateMutex_;
    std::shared_ptr<TQAPDelegate> delegate_;
    std::shared_ptr<TQAPFileTransferDelegate> fileTransferDelegate_;

    std::atomic<bool> resetKavoFlag_{false};

    // Main loop only.
    std::deque<Origin> inProtocol_;
    // The BAP_REQUEST of the current subscription was answered.
    bool bapRequestAnswered_ = false;
    std::shared_ptr<platform::Timer> refusalGrace_;
    // Posted tasks hold this weakly, so none runs after the facade is gone.
    std::shared_ptr<TQAP*> self_;
};
