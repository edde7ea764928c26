#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "link/TQFileDelegate.h"
#include "link/TQFileHandler.h"
#include "link/TQFileSegments.h"
#include "link/TQFileTransferDelegate.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"
#include "support/TempDir.h"

namespace file_test {

using platform::Bytes;
using platform::Value;

// What the handler sent: one link message each.
struct Sent {
    Bytes segment;
    std::uint32_t appId = 0;
    bool arq = false;
};

class RecordingSegments final : public TQFileDelegate {
public:
    void onSendDataRequest(std::span<const std::uint8_t> segment, std::uint32_t priority,
                           std::uint32_t appId, bool arq,
                           TQSendCompletion /*completion*/) override {
        EXPECT_EQ(priority, 3U);
        sent.push_back({Bytes(segment.begin(), segment.end()), appId, arq});
    }
    std::vector<Sent> sent;
};

// Every upward call, as a line of text, and the files handed up.
class RecordingFiles final : public TQFileTransferDelegate {
public:
    void onFileReceiveCompleted(std::span<const std::uint8_t> file, std::uint32_t appId) override {
        files.emplace_back(file.begin(), file.end());
        calls.push_back("completed " + std::to_string(appId));
    }
    void onFileInfoReceive(const std::string& name, std::uint64_t size) override {
        calls.push_back("info " + name + " " + std::to_string(size));
    }
    void onFileResumeRequestReceive(const std::string& name, std::uint64_t size) override {
        calls.push_back("resume " + name + " " + std::to_string(size));
    }
    void onFileReceiveProgress(float progress) override { this->progress.push_back(progress); }
    void onFileCancel(const std::string& name) override { calls.push_back("cancel " + name); }

    std::vector<std::string> calls;
    std::vector<Bytes> files;
    std::vector<float> progress;
};

// One event of a file being sent.
struct Event {
    int code = 0;
    Value info;
};

// A handler between recording delegates, on a virtual clock.
class FileHandlerTest : public ::testing::Test {
protected:
    static constexpr std::uint32_t kAppId = 3;

    Bytes bytesOf(std::size_t size, std::uint8_t seed = 1) {
        Bytes data(size);
        for (std::size_t i = 0; i < size; ++i) {
            data[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 251);
        }
        return data;
    }
    // Queues a file whose events land in events (under its name).
    void send(const std::string& name, Bytes data) {
        handler->processFileData(std::move(data), name, kAppId,
                                 [this](int code, const Value& info) {
                                     events.push_back({code, info});
                                 });
    }
    void receive(Bytes segment, std::uint32_t appId = kAppId) {
        handler->processFileSegment(segment, appId);
    }
    void control(file_segment::Code code) { receive(file_segment::control(code)); }
    [[nodiscard]] std::vector<Sent>& sent() { return segments.sent; }
    [[nodiscard]] const Bytes& last() { return segments.sent.back().segment; }
    [[nodiscard]] std::vector<int> codes() const {
        std::vector<int> result;
        for (const auto& event : events) {
            result.push_back(event.code);
        }
        return result;
    }
    // The files waiting in the queue folder.
    [[nodiscard]] std::size_t queueFiles() const {
        std::size_t count = 0;
        for ([[maybe_unused]] const auto& entry :
             std::filesystem::directory_iterator(folder.path() / "QueueFiles")) {
            ++count;
        }
        return count;
    }

    testing_support::TempDir folder;
    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
    RecordingSegments segments;
    RecordingFiles files;
    std::vector<Event> events;
    std::unique_ptr<TQFileHandler> handler =
        std::make_unique<TQFileHandler>(segments, files, loop, folder.path() / "QueueFiles");
};

}  // namespace file_test
