// The file handler as the watch's segments and control codes reach it, between the calls the
// upper layer makes. Each record is one step: its flags byte's bits 0-2 move the clock (up to
// past both send timers), bits 3-6 choose the step: 0 a received segment (the record's bytes),
// 1 acceptFile, 2 rejectFile, 3 resumeAccept, 4 resumeReject, 5 queue a file of the record's
// bytes repeated (length x 97, so files run to many segments), 6 the link drops, 7 the resume
// request after a reconnection, 8 cancelFile, 9 resetFileHandler.
//
// Beyond the sanitizers: every data segment the phone sends holds exactly the piece of the
// announced file its sequence number names, at its position and with its CRC; progress is a
// finite percentage.

#include <cmath>
#include <cstdlib>
#include <map>
#include <string>

#include "FuzzSupport.h"
#include "link/TQCrc16.h"
#include "link/TQFileHandler.h"
#include "link/TQFileSegments.h"

namespace {

namespace fs = file_segment;
using platform::Bytes;

constexpr double kSteps[] = {0, 0.5, 5, 20, 75, 149, 150, 301};
constexpr std::size_t kRepeat = 97;

[[noreturn]] void fail() {
    std::abort();
}

// Checks what the phone sends against the files it was given.
class Checker final : public TQFileDelegate, public TQFileTransferDelegate {
public:
    void onSendDataRequest(std::span<const std::uint8_t> segment, std::uint32_t priority,
                           std::uint32_t /*appId*/, bool /*arq*/, TQSendCompletion) override {
        if (priority != TQFileHandler::kPriority || segment.empty()) {
            fail();
        }
        if (segment[0] == fs::kInfo || segment[0] == fs::kResumeRequest) {
            const auto announced = fs::readAnnouncement(segment);
            if (segment.size() != fs::kAnnouncementSize || !announced ||
                !files.contains(announced->name) ||
                files[announced->name].size() != announced->size) {
                fail();
            }
            current = announced->name;
            return;
        }
        if (!fs::isDataSegment(segment)) {
            return;
        }
        const auto data = fs::readData(segment.first(segment.size() - fs::kCrcSize));
        if (!data || !files.contains(current)) {
            fail();
        }
        const Bytes& file = files[current];
        const auto piece = fs::piece(file, data->sequence);
        const auto count = fs::pieceCount(file.size());
        const auto crc = static_cast<std::uint16_t>(segment[segment.size() - 2] |
                                                    segment[segment.size() - 1] << 8);
        if (data->sequence >= count || data->position != fs::positionFor(data->sequence, count) ||
            !std::equal(piece.begin(), piece.end(), data->content.begin(), data->content.end()) ||
            crc != crc16(segment.first(segment.size() - fs::kCrcSize))) {
            fail();
        }
    }
    void onFileReceiveCompleted(std::span<const std::uint8_t>, std::uint32_t) override {}
    void onFileInfoReceive(const std::string&, std::uint64_t) override {}
    void onFileResumeRequestReceive(const std::string&, std::uint64_t) override {}
    void onFileReceiveProgress(float progress) override {
        if (!std::isfinite(progress) || progress < 0) {
            fail();
        }
    }
    void onFileCancel(const std::string&) override {}

    std::map<std::string, Bytes> files;
    std::string current;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::World world;
    Checker checker;
    {
        TQFileHandler handler(checker, checker, world.loop, fuzz::scratchFolder() / "QueueFiles");
        int queued = 0;
        fuzz::Records records(std::span(data, size));
        while (const auto record = records.next()) {
            switch ((record->flags >> 3) & 0x0F) {
                case 0:
                    handler.processFileSegment(record->bytes, 3);
                    break;
                case 1:
                    handler.acceptFile();
                    break;
                case 2:
                    handler.rejectFile();
                    break;
                case 3:
                    handler.resumeAccept();
                    break;
                case 4:
                    handler.resumeReject();
                    break;
                case 5: {
                    Bytes file;
                    for (std::size_t i = 0; i < kRepeat; ++i) {
                        file.insert(file.end(), record->bytes.begin(), record->bytes.end());
                    }
                    const std::string name = "f" + std::to_string(queued++);
                    checker.files[name] = file;
                    handler.processFileData(std::move(file), name, 3, {});
                    break;
                }
                case 6:
                    handler.pauseFileSend();
                    break;
                case 7:
                    handler.resumeRequest();
                    break;
                case 8:
                    handler.cancelFile();
                    break;
                case 9:
                    handler.resetFileHandler();
                    break;
                default:
                    break;
            }
            world.loop.advance(kSteps[record->flags & 0x07]);
        }
        world.loop.advance(400);
    }
    world.loop.runUntilIdle();
    return 0;
}
