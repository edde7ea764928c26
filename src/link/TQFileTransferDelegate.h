#pragma once

#include <cstdint>
#include <span>
#include <string>

// What the file handler tells of files coming from the watch.
class TQFileTransferDelegate {
public:
    virtual ~TQFileTransferDelegate() = default;

    virtual void onFileReceiveCompleted(std::span<const std::uint8_t> file,
                                        std::uint32_t appId) = 0;
    // The watch announces a file; the answer is acceptFile or rejectFile.
    virtual void onFileInfoReceive(const std::string& name, std::uint64_t size) = 0;
    // The watch asks to continue an interrupted file; the answer is resumeAccept or
    // resumeReject.
    virtual void onFileResumeRequestReceive(const std::string& name, std::uint64_t size) = 0;
    // Percent of the announced segments received.
    virtual void onFileReceiveProgress(float progress) = 0;
    virtual void onFileCancel(const std::string& name) = 0;
};
