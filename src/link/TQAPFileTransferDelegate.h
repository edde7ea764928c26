#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "link/TQError.h"

// What the link facade reports about files going to and coming from the watch.
class TQAPFileTransferDelegate {
public:
    virtual ~TQAPFileTransferDelegate() = default;

    virtual void onFileReceiveCompleted(std::span<const std::uint8_t> file,
                                        std::uint32_t appId) = 0;
    // Percent done.
    virtual void onFileSendProgress(float progress) = 0;
    virtual void onFileReceiveProgress(float progress) = 0;
    // The watch announces a file; answer with acceptFile or rejectFile.
    virtual void onFileReceiveRequest(const std::string& name, std::uint64_t size) = 0;
    virtual void onFileReject(const std::string& name) = 0;
    virtual void onFileCancel(const std::string& name) = 0;
    // The watch asks to continue an interrupted file; answer with resumeFileAccept or
    // resumeFileReject.
    virtual void onFileResumeRequest(const std::string& name, std::uint64_t size) = 0;
    virtual void onFileResumeReject(const std::string& name) = 0;
    virtual void onFileError(const TQError& error) = 0;
};
