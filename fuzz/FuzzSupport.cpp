#include "FuzzSupport.h"

#include <cstdlib>
#include <string>
#include <system_error>

namespace fuzz {

std::optional<Records::Record> Records::next() {
    if (data_.size() < 2) {
        return std::nullopt;
    }
    Record record;
    record.flags = data_[0];
    const std::size_t length = std::min<std::size_t>(data_[1], data_.size() - 2);
    record.bytes = data_.subspan(2, length);
    data_ = data_.subspan(2 + length);
    return record;
}

void Records::append(platform::Bytes& out, std::uint8_t flags,
                     std::span<const std::uint8_t> bytes) {
    const std::size_t length = std::min<std::size_t>(bytes.size(), 255);
    out.push_back(flags);
    out.push_back(static_cast<std::uint8_t>(length));
    out.insert(out.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
}

namespace {

class ScratchFolder {
public:
    ScratchFolder() {
        std::error_code ec;
        std::filesystem::path base = "/dev/shm";
        if (!std::filesystem::is_directory(base, ec)) {
            base = std::filesystem::temp_directory_path();
        }
        std::string pattern = (base / "kavo-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace

const std::filesystem::path& scratchFolder() {
    static const ScratchFolder folder;
    return folder.path();
}

World::World() = default;

World::~World() {
    // The defaults write themselves out as they go; the next input starts without them.
    (void)defaults.synchronize();
    (void)standardDefaults.synchronize();
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(scratchFolder(), ec)) {
        std::filesystem::remove_all(entry.path(), ec);
    }
}

}  // namespace fuzz
