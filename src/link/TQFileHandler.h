#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "link/TQFileDelegate.h"
#include "link/TQFileHandlerInterface.h"
#include "link/TQFileSendQueue.h"
#include "link/TQFileTransferDelegate.h"
#include "link/TQIncomingFile.h"
#include "link/TQOutgoingFile.h"
#include "platform/foundation/RunLoop.h"

// The file conversation of the link, in both roles: files to the watch wait in a queue on
// disk and go one at a time; a file from the watch is gathered and handed up. Every segment is
// one link message of priority 3 on the file's application identifier. Lives on its loop.
class TQFileHandler final : public TQFileHandlerInterface {
public:
    static constexpr std::uint32_t kPriority = 3;

    // Both delegates are borrowed and must outlive the handler. Files waiting in queueFolder
    // from an earlier run are deleted.
    TQFileHandler(TQFileDelegate& segments, TQFileTransferDelegate& files, platform::RunLoop& loop,
                  std::filesystem::path queueFolder);
    TQFileHandler(const TQFileHandler&) = delete;
    TQFileHandler& operator=(const TQFileHandler&) = delete;

    void processFileData(platform::Bytes data, std::string name, std::uint32_t appId,
                         TQFileSendEvent event) override;
    void processFileSegment(std::span<const std::uint8_t> segment, std::uint32_t appId) override;
    void acceptFile() override { incoming_.accept(); }
    void rejectFile() override { incoming_.reject(); }
    void cancelFile() override { outgoing_.cancel(); }
    void resumeRequest() override { outgoing_.resumeRequest(); }
    void resumeAccept() override { incoming_.resumeAccept(); }
    void resumeReject() override { incoming_.resumeReject(); }
    void resetFileHandler() override;
    void pauseFileSend() override { outgoing_.pause(); }

    [[nodiscard]] const TQFileSendQueue& queue() const { return queue_; }
    [[nodiscard]] const TQOutgoingFile& outgoing() const { return outgoing_; }
    [[nodiscard]] const TQIncomingFile& incoming() const { return incoming_; }

private:
    // The next queued file, unless one is current or sending is paused.
    void sendNext();
    void onControl(std::span<const std::uint8_t> segment, std::uint32_t appId);

    TQFileDelegate& segments_;
    platform::RunLoop& loop_;
    TQFileSendQueue queue_;
    TQOutgoingFile outgoing_;
    TQIncomingFile incoming_;
};
