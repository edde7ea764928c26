#include "platform/contacts/VCardFolderAddressBook.h"

#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <tuple>

#include "platform/foundation/FileSystem.h"
#include "platform/foundation/FolderEntries.h"
#include "platform/foundation/LogSink.h"

namespace platform::contacts {

namespace {

constexpr std::uint32_t kIdentifierSpace = 0x7FFFFFFF;

bool isHidden(const std::filesystem::path& path) {
    return path.filename().string().starts_with('.');
}

bool isCardFile(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".vcf" || extension == ".vcard";
}

}  // namespace

VCardFolderAddressBook::VCardFolderAddressBook(std::filesystem::path folder,
                                               std::unique_ptr<ChangeSource> changes)
    : folder_(std::move(folder)), changes_(std::move(changes)) {}

VCardFolderAddressBook::~VCardFolderAddressBook() {
    if (changes_) {
        changes_->start(nullptr);
    }
}

std::int32_t VCardFolderAddressBook::identifierFor(std::string_view key) {
    // FNV-1a: the same on every machine and every launch.
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (char c : key) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return static_cast<std::int32_t>(hash % kIdentifierSpace + 1);
}

void VCardFolderAddressBook::observeChanges(std::function<void()> observer) {
    observer_ = std::move(observer);
    if (!changes_) {
        return;
    }
    if (!observer_) {
        changes_->start(nullptr);
        return;
    }
    changes_->start([this] {
        {
            std::lock_guard lock(mutex_);
            loaded_ = false;
        }
        if (observer_) {
            observer_();
        }
    });
}

int VCardFolderAddressBook::parses() const {
    std::lock_guard lock(mutex_);
    return parses_;
}

void VCardFolderAddressBook::revert() {
    std::lock_guard lock(mutex_);
    refreshLocked();
}

std::vector<Person> VCardFolderAddressBook::people() {
    std::lock_guard lock(mutex_);
    if (!loaded_) {
        refreshLocked();
    }
    return people_;
}

std::optional<Person> VCardFolderAddressBook::personWithIdentifier(std::int32_t identifier) {
    std::lock_guard lock(mutex_);
    if (!loaded_) {
        refreshLocked();
    }
    const auto found = byIdentifier_.find(identifier);
    if (found == byIdentifier_.end()) {
        return std::nullopt;
    }
    return people_[found->second];
}

void VCardFolderAddressBook::refreshLocked() {
    loaded_ = true;
    std::map<std::filesystem::path, File> seen;
    const auto visitFile = [&](const std::filesystem::path& path) {
        if (isHidden(path) || !isCardFile(path)) {
            return;
        }
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
            return;
        }
        File file;
        file.size = static_cast<std::uint64_t>(status.st_size);
        file.modifiedNanoseconds =
            static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 +
            status.st_mtim.tv_nsec;
        file.inode = status.st_ino;
        const auto known = files_.find(path);
        if (known != files_.end() && known->second.size == file.size &&
            known->second.modifiedNanoseconds == file.modifiedNanoseconds &&
            known->second.inode == file.inode) {
            seen.emplace(path, std::move(known->second));
            return;
        }
        readFileLocked(path, std::move(file));
        seen.emplace(path, std::move(files_[path]));
    };
    std::error_code error;
    forEachEntry(folder_, error, [&](const std::filesystem::directory_entry& entry) {
        std::error_code kind;
        if (entry.is_directory(kind)) {
            if (isHidden(entry.path())) {
                return;
            }
            std::error_code inner;
            forEachEntry(entry.path(), inner,
                         [&](const std::filesystem::directory_entry& file) { visitFile(file.path()); });
            return;
        }
        visitFile(entry.path());
    });
    if (error && error != std::errc::no_such_file_or_directory) {
        PLATFORM_LOG_WARN("contacts: cannot read ", folder_.string(), ": ", error.message());
    }
    files_ = std::move(seen);
    indexLocked();
}

void VCardFolderAddressBook::readFileLocked(const std::filesystem::path& path, File file) {
    ++parses_;
    auto text = fs::readFile(path, kMaxFileBytes);
    if (!text.ok()) {
        PLATFORM_LOG_WARN("contacts: ", path.string(), " skipped: ", text.error().message);
        files_[path] = std::move(file);
        return;
    }
    VCardFile read = readVCards(text.value());
    for (const VCardIssue& issue : read.issues) {
        PLATFORM_LOG_WARN("contacts: ", path.string(), ":", static_cast<std::int64_t>(issue.line),
                          issue.cardRejected ? ": card skipped: " : ": ", issue.message);
    }
    file.cards = std::move(read.cards);
    files_[path] = std::move(file);
}

void VCardFolderAddressBook::indexLocked() {
    struct Entry {
        std::string key;
        const VCard* card;
        double modified;
    };
    std::vector<Entry> entries;
    std::map<std::string, int> occurrences;
    for (const auto& [path, file] : files_) {
        const double modified = static_cast<double>(file.modifiedNanoseconds) / 1e9;
        const std::string relative = path.lexically_relative(folder_).string();
        for (std::size_t index = 0; index < file.cards.size(); ++index) {
            const VCard& card = file.cards[index];
            std::string key = card.uid ? "uid:" + *card.uid
                                       : "file:" + relative + "#" + std::to_string(index);
            // The same UID twice (a card copied into two books) still gives two people.
            if (const int seen = occurrences[key]++; seen > 0) {
                key += "\x1f" + std::to_string(seen);
            }
            entries.push_back({std::move(key), &card, modified});
        }
    }
    // Collisions are resolved in key order, so the result does not depend on file order.
    std::vector<std::size_t> order(entries.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return entries[a].key < entries[b].key; });
    std::vector<std::int32_t> identifiers(entries.size());
    std::set<std::int32_t> taken;
    for (std::size_t i : order) {
        auto identifier = static_cast<std::uint32_t>(identifierFor(entries[i].key));
        while (!taken.insert(static_cast<std::int32_t>(identifier)).second) {
            identifier = identifier % kIdentifierSpace + 1;
        }
        identifiers[i] = static_cast<std::int32_t>(identifier);
    }
    people_.clear();
    people_.reserve(entries.size());
    byIdentifier_.clear();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        Person person = entries[i].card->person;
        person.identifier = identifiers[i];
        double modified = entries[i].modified;
        if (entries[i].card->revision) {
            modified = std::max(modified, static_cast<double>(*entries[i].card->revision));
        }
        person.modificationDate = modified;
        byIdentifier_.emplace(person.identifier, people_.size());
        people_.push_back(std::move(person));
    }
}

}  // namespace platform::contacts
