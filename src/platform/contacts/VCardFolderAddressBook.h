#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/contacts/AddressBook.h"
#include "platform/contacts/VCardReader.h"
#include "platform/foundation/FolderWatch.h"

namespace platform::contacts {

// The people of a folder of vCard files, as contact synchronisers and address-book programs
// keep them: every .vcf file in the folder and in its subfolders (one level, an address book
// each), several cards per file allowed. Hidden entries and other files are passed over; a
// file that cannot be read, or a card that is not sound, is skipped with a log line and the
// others count. Files are parsed again only when their size, time or inode changed.
//
// A person's identifier is a hash of the card's UID (of the file's path and the card's place
// for a card without one; nothing is written back), so it lasts across launches; cards whose
// hashes meet are told apart in UID order. The modification date is the later of the file's
// time and the card's REV. people and personWithIdentifier may be called from any thread; the
// change observer is told on the change source's loop.
class VCardFolderAddressBook final : public AddressBook {
public:
    // Files larger than this are skipped whole.
    static constexpr std::size_t kMaxFileBytes = std::size_t{128} << 20;

    VCardFolderAddressBook(std::filesystem::path folder, std::unique_ptr<ChangeSource> changes);
    ~VCardFolderAddressBook() override;
    VCardFolderAddressBook(const VCardFolderAddressBook&) = delete;
    VCardFolderAddressBook& operator=(const VCardFolderAddressBook&) = delete;

    [[nodiscard]] const std::filesystem::path& folder() const { return folder_; }

    void revert() override;
    std::vector<Person> people() override;
    std::optional<Person> personWithIdentifier(std::int32_t identifier) override;
    void observeChanges(std::function<void()> observer) override;

    // Files parsed since the book was made.
    [[nodiscard]] int parses() const;

    // The identifier a key (a UID) starts from before collisions are resolved: 1 to 2^31-1.
    [[nodiscard]] static std::int32_t identifierFor(std::string_view key);

private:
    struct File {
        std::uint64_t size = 0;
        std::int64_t modifiedNanoseconds = 0;
        std::uint64_t inode = 0;
        std::vector<VCard> cards;
    };

    void refreshLocked();
    void readFileLocked(const std::filesystem::path& path, File file);
    void indexLocked();

    const std::filesystem::path folder_;
    std::unique_ptr<ChangeSource> changes_;
    std::function<void()> observer_;

    mutable std::mutex mutex_;
    std::map<std::filesystem::path, File> files_;
    std::vector<Person> people_;
    std::map<std::int32_t, std::size_t> byIdentifier_;
    bool loaded_ = false;
    int parses_ = 0;
};

}  // namespace platform::contacts
