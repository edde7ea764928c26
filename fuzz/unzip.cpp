// Zip archives from anywhere, unpacked into a scratch folder: whatever they say, nothing lands
// outside it, nothing there is a link or carries more than permission bits, and what was
// unpacked zips and unpacks again.

#include <cstdlib>
#include <fstream>
#include <system_error>

#include "FuzzSupport.h"
#include "utils/ZAZipArchive.h"

namespace {

namespace fs = std::filesystem;

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

// Only regular files and folders, with permission bits alone.
void checkUnpacked(const fs::path& folder) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const auto status = it->symlink_status();
        check(fs::is_regular_file(status) || fs::is_directory(status));
        check((status.permissions() & (fs::perms::set_uid | fs::perms::set_gid |
                                       fs::perms::sticky_bit)) == fs::perms::none);
        // A mode without the owner's access would stop the walk and the clean-up.
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path scratch = fuzz::scratchFolder() / "unzip";
    const fs::path archive = scratch / "input.zip";
    const fs::path out = scratch / "out";
    std::error_code ec;
    fs::remove_all(scratch, ec);
    fs::create_directories(scratch);
    {
        std::ofstream file(archive, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    ZAZipArchive::UnzipOptions options;
    options.limits.maxTotalBytes = std::uint64_t{8} << 20;
    options.limits.maxEntries = 512;
    const bool unpacked = ZAZipArchive::unzipFileAtPath(archive, out, options).ok();

    // The scratch folder holds the input and the destination, nothing beside them.
    for (const auto& item : fs::directory_iterator(scratch)) {
        check(item.path() == archive || item.path() == out);
    }
    if (fs::exists(out)) {
        checkUnpacked(out);
    }
    if (unpacked && fs::exists(out)) {
        const fs::path again = scratch / "again.zip";
        check(ZAZipArchive::createZipFileAtPath(again, out));
        check(ZAZipArchive::unzipFileAtPath(again, scratch / "again", options).ok());
    }
    fs::remove_all(scratch, ec);
    return 0;
}
