#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/foundation/Result.h"

namespace platform::fs {

inline constexpr const char* kErrorDomain = "platform.file";

// What makes a write survive a power loss: the file's bytes, then the folder entry the
// rename changed. Tests record the calls.
class Durability {
public:
    virtual ~Durability() = default;
    // fd: an open descriptor of the written file. Returns 0 or an errno value.
    virtual int syncFile(int fd) = 0;
    virtual int syncFolder(const std::filesystem::path& folder) = 0;
    // The fsync(2) of the machine.
    static Durability& system();
};

// Replaces path with data through a temporary file in the same folder and a rename, so a
// crash leaves either the old file or the new one, never half of one; the folder is synced
// after the rename, so the new name survives a power loss too. Creates missing parent
// folders. The temporary file's name is path plus kTemporaryMarker and six characters.
Result<void> writeFileAtomically(const std::filesystem::path& path, std::string_view data,
                                 Durability& durability = Durability::system());

inline constexpr std::string_view kTemporaryMarker = ".kavo-atomic-";

// Whether name is one the atomic writer gives its temporary files.
[[nodiscard]] bool isAtomicWriteLeftover(std::string_view name);

// Creates an empty file beside path, of a name no other file has and that the atomic
// writer's temporaries have, so that the same sweep removes it when a crash leaves it.
Result<std::filesystem::path> createTemporaryFile(const std::filesystem::path& path);

// Removes, in folder and below (without following links), the temporary files of atomic
// writes that a crash interrupted. Only for a folder no writer uses at the time.
// Returns how many went.
std::size_t sweepAtomicWriteLeftovers(const std::filesystem::path& folder);

// Reads a whole file, refusing files larger than maxBytes. The error's code is the errno of
// the failure (ENOENT, EACCES, EISDIR, EIO, EFBIG...).
Result<std::string> readFile(const std::filesystem::path& path,
                             std::size_t maxBytes = std::size_t{64} << 20);

// Whether an error of readFile says the file could not be read at all (permissions, I/O, a
// folder in its place, too large...) rather than that it is absent. Such a file may hold good
// data: it is never to be replaced as if it were empty.
[[nodiscard]] bool isReadFailure(const Error& error);

// A name that stays one entry of the folder it is joined to: not empty, not "." or "..", and
// without a slash, a backslash or a NUL.
[[nodiscard]] bool isSafePathComponent(std::string_view name);

}  // namespace platform::fs
