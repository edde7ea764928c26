#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
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
#include "link/TQFileDelegate.h"
#include "link/TQFileHandlerInterface.h"
#include "link/TQFileTransferDelegate.h"
#include "link/TQPeripheral.h"
#include "link/TQProtocol.h"
#include "link/TQSendOutcome.h"
#include "platform/bluetooth/RemotePeripheral.h"
#include "platform/bluetooth/Uuid.h"
#include "platform/foundation/Replaceable.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"
#include "platform/foundation/WeakPtr.h"

// The one object through which the rest of the application uses the watch link: scanning and
// connecting, sending messages and files, the pairing handshake, and the link's events for one
// delegate.
//
// Every message starts with a header byte: bits 7-6 the priority (0 urgent, 1 normal,
// 2 background, 3 file segment), bits 5-0 the application identifier. Outgoing messages wait
// in a send queue on the run loop and go to the protocol one at a time; received ones are
// routed by that byte: identifier 0 to the handshake, priority 3 to the file handler, anything
// else to the delegate without the header byte.
//
// The facade lives on its run loop. sendData, disconnect, sendEcho and onSendDataRequest may be
// called from any thread: off the loop's thread they are posted to the loop, where the
// connection is checked and the message queued, so messages from one thread keep their order.
// The delegate accessors and resetKavoFlag are also safe anywhere. Everything else (the
// manager's and the protocol's callbacks, the handshake, the file calls, the connection calls)
// is called on the loop's thread, which debug builds check.
//
// A message given a completion hears its outcome exactly once, on the loop and never from
// inside the call that sent it: acknowledged, sent without acknowledgement, or dropped and
// why, also when it never reached the protocol. None is called once the facade is gone. A
// completion may be called from inside the protocol's report, so it must not destroy the
// facade itself; work of that kind is posted to the loop.
class TQAP final : public TQBleResponseDelegate,
                   public TQDataDelegate,
                   public TQFileDelegate,
                   public TQFileTransferDelegate,
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

    // All three are borrowed and must outlive the facade; the handshake keeps the paired
    // watch in defaults.
    TQAP(TQBleManagerInterface& bleManager, platform::RunLoop& loop,
         platform::UserDefaults& defaults);
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
    // Discovered watches the pairing pages keep for each other: filled and emptied by them,
    // never by the facade. The peripherals belong to the Bluetooth manager, which outlives
    // the facade's use of them.
    std::vector<platform::bluetooth::RemotePeripheral*>& scannedDeviceNames() {
        return scannedDeviceNames_;
    }

    // ---- messages ----

    // Queues body behind the header byte of priority (0-2) and appId (below 64). Dropped while
    // the watch is not connected, and for priority 3, which belongs to file segments.
    void sendData(std::span<const std::uint8_t> body, std::uint32_t priority, std::uint32_t appId,
                  bool arq, TQSendCompletion completion = {});
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
                           std::uint32_t appId, bool arq,
                           TQSendCompletion completion = {}) override;
    void onFileReceiveCompleted(std::span<const std::uint8_t> file, std::uint32_t appId) override;
    void onFileInfoReceive(const std::string& name, std::uint64_t size) override;
    void onFileResumeRequestReceive(const std::string& name, std::uint64_t size) override;
    void onFileCancel(const std::string& name) override;
    void onFileReject(const std::string& name);
    void onFileResumeReject(const std::string& name);
    void onFileSendProgress(float progress);
    void onFileReceiveProgress(float progress) override;
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
    void onDataSendCompleted(const TQSendOutcome& outcome) override;
    void onDataReceiveCompleted(std::span<const std::uint8_t> message) override;
    void onPingReceived() override;
    void onResetCmdReceived() override;

private:
    // Who handed a message to the protocol.
    enum class Origin { sendQueue, direct, refusal };
    // A message in the protocol; they are kept in the order they were handed down.
    struct InFlight {
        Origin origin;
        bool arq;
        TQSendCompletion completion;
    };
    // A message on its way to the send queue.
    struct Submission {
        platform::Bytes message;
        bool arq;
        int queuePriority;
        bool reservedPriority;
        TQSendCompletion completion;
    };

    // Runs call later on the loop, unless the facade is gone by then.
    void later(std::function<void(TQAP&)> call);
    void submit(Submission submission);
    void sendDataOperation(TQDataModel model, TQSendCompletion completion);
    void handDown(const TQDataModel& model, Origin origin, TQSendCompletion completion = {});
    InFlight takeInFlight(const TQSendOutcome& outcome);
    void report(TQSendCompletion completion, const TQSendOutcome& outcome);
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
    platform::UserDefaults& defaults_;
    // Built before the protocol, so that nothing the protocol reports can find it missing.
    std::unique_ptr<TQAPSendQueue> qosQueue_;
    std::unique_ptr<TQProtocol> protocol_;
    std::unique_ptr<TQFileHandlerInterface> fileHandler_;
    std::vector<platform::bluetooth::RemotePeripheral*> scannedDeviceNames_;

    mutable std::mutex delegateMutex_;
    std::shared_ptr<TQAPDelegate> delegate_;
    std::shared_ptr<TQAPFileTransferDelegate> fileTransferDelegate_;

    std::atomic<bool> resetKavoFlag_{false};

    // Loop only.
    std::deque<InFlight> inProtocol_;
    // The BAP_REQUEST of the current subscription was answered.
    bool bapRequestAnswered_ = false;
    std::shared_ptr<platform::Timer> refusalGrace_;
    // Posted tasks hold it weakly, so none runs after the facade is gone.
    platform::WeakPtrFactory<TQAP> weak_{*this, loop_};
};
