#pragma once

#include <filesystem>
#include <system_error>

namespace platform {

// Visits the entries of a folder another program may be changing: an error (the folder went,
// cannot be read) ends the walk and stays in `error`, never an exception.
template <typename Visit>
void forEachEntry(const std::filesystem::path& folder, std::error_code& error, Visit&& visit) {
    std::filesystem::directory_iterator entry(folder, error);
    const std::filesystem::directory_iterator end;
    while (!error && entry != end) {
        visit(*entry);
        entry.increment(error);
    }
}

}  // namespace platform
