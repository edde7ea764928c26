#include "services/contacts/TQContactMgr.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <unordered_set>
#include <utility>

#include "link/TQAP.h"
#include "listener/TQWallClock.h"
#include "logging/LGLog.h"
#include "platform/foundation/Json.h"
#include "utils/TQUtils.h"

using platform::Value;

namespace {

std::string keyOf(std::int32_t identifier) {
    return std::to_string(identifier);
}

std::optional<platform::Bytes> serialise(const Value& document) {
    auto text = platform::json::write(document);
    if (!text.ok()) {
        LG_VERBOSE("TQContactMgr: Got an error: %@", text.error().message);
        return std::nullopt;
    }
    platform::Bytes bytes(text.value().size());
    std::memcpy(bytes.data(), text.value().data(), bytes.size());
    return bytes;
}

double nowSeconds() {
    return static_cast<double>(TQWallClock::current().millisecondsSince1970()) / 1000.0;
}

}  // namespace

TQContactLink TQContactLink::over(std::function<TQAP*()> link) {
    return {[link] {
                TQAP* ap = link();
                return ap != nullptr && ap->isConnected();
            },
            [link](platform::Bytes data, std::string name, TQFileSendEvent event) {
                if (TQAP* ap = link()) {
                    ap->sendFile(std::move(data), std::move(name), TQContactMgr::kAppId,
                                 std::move(event));
                }
            }};
}

TQContactMgr::TQContactMgr(platform::contacts::AddressBook& addressBook,
                           platform::Permissions& permissions, platform::UserDefaults& defaults,
                           platform::NotificationCenter& center, platform::RunLoop& loop,
                           TQContactLink link)
    : addressBook_(addressBook),
      permissions_(permissions),
      defaults_(defaults),
      center_(center),
      loop_(loop),
      link_(std::move(link)) {
    center_.addObserver(
        "OOBECompletionNoti", [this](const platform::Notification&) { onOOBECompletion(); }, this);
    center_.addObserver(
        "onDisconnectDeviceNotification", [this](const platform::Notification&) { linkLost(); },
        this);
    center_.addObserver(
        "onConnectDeviceNotification", [this](const platform::Notification&) { linkBack(); }, this);
}

void TQContactMgr::observeAddressBook() {
    // Not at construction: the book's watch starts a thread, and the program blocks its
    // signals only after the composition root is made. Changes count only while the watch is
    // connected, and a copy starts no earlier.
    if (std::exchange(observing_, true)) {
        return;
    }
    addressBook_.observeChanges([weak = weak_.weakPtr()] {
        if (auto* self = weak.get()) {
            LG_VERBOSE("TQContactMgr: externalContactChangeCB Address Book Changed!");
            self->handleExternalChange();
        }
    });
}

TQContactMgr::~TQContactMgr() {
    if (observing_) {
        addressBook_.observeChanges(nullptr);
    }
    center_.removeAll(this);
    for (auto* timer : {&contactSyncTimer_, &resendTimer_}) {
        if (*timer) {
            (*timer)->invalidate();
        }
    }
}

bool TQContactMgr::isSyncInProgress() const {
    const bool running = !contactChunk_.empty();
    LG_VERBOSE(running ? "TQContactMgr: isSyncInProgress TRUE"
                       : "TQContactMgr: isSyncInProgress FALSE");
    return running;
}

void TQContactMgr::processResponse(const Value& message) {
    if (isSyncInProgress()) {
        LG_VERBOSE("TQContactMgr: Contact Sync in Progress, return");
        return;
    }
    const std::string* msgId = message["msgId"].stringIf();
    if (msgId == nullptr) {
        return;
    }
    if (*msgId == "Request_Initial_Sync_Contact") {
        LG_VERBOSE("TQContactMgr: Full Sync Request");
        processContactSyncRequest(false);
    } else if (*msgId == "Request_Resume_Sync_Contact") {
        LG_VERBOSE("TQContactMgr: Delta Sync Request");
        processContactSyncRequest(true);
    }
}

void TQContactMgr::processContactSyncRequest(bool delta) {
    observeAddressBook();
    if (permissions_.decision(platform::Feature::contacts) != platform::Decision::granted) {
        LG_VERBOSE("TQContactMgr: Sync Contact is not authorized");
        return;
    }
    // A copy needs the watch to the end; one begun without it would hold the queue for ever.
    if (!link_.isConnected()) {
        LG_VERBOSE("TQContactMgr: watch not connected, no contact copy");
        return;
    }
    LG_VERBOSE("TQContactMgr: Sync Contact is authorized and start perform");
    // Taken for empty, a record that cannot be read would be replaced by this copy's.
    auto saved = TQUtils::readStoredDictionary(std::nullopt, kRecordFile);
    if (!saved) {
        abandon(std::string(kRecordFile) + " cannot be read: " + saved.error().message);
        return;
    }
    Candidates candidates = generateCandidateContactList(
        delta, std::move(saved).value().value_or(platform::Dictionary()));

    // Everything is serialised before anything leaves: a copy goes whole or not at all.
    std::optional<platform::Bytes> deleteDocument;
    if (delta && !candidates.removed.empty()) {
        deleteDocument = serialise(TQContactFile::deleteDocument(candidates.removed));
        if (!deleteDocument) {
            abandon("its delete file cannot be serialised");
            return;
        }
    }
    std::deque<platform::Bytes> chunks;
    const std::size_t count = candidates.records.size();
    for (std::size_t offset = 0; offset < count; offset += kChunkSize) {
        const std::size_t end = std::min(count, offset + kChunkSize);
        platform::Array piece(std::make_move_iterator(candidates.records.begin() + offset),
                              std::make_move_iterator(candidates.records.begin() + end));
        auto bytes = serialise(TQContactFile::insertDocument(std::move(piece)));
        if (!bytes) {
            abandon("an insert file cannot be serialised");
            return;
        }
        chunks.push_back(std::move(*bytes));
    }

    if (delta) {
        sendRemovedContactList(std::move(candidates.removed),
                               deleteDocument ? std::move(*deleteDocument) : platform::Bytes());
    }
    if (count == 0) {
        LG_VERBOSE("TQContactMgr: No contacts to send");
        return;
    }
    LG_VERBOSE("TQContactMgr: sendDictionaryAsFile total contacts %ld", static_cast<long>(count));
    contactChunk_ = std::move(chunks);
    resends_ = 0;
    sendInsert();
}

TQContactMgr::Candidates TQContactMgr::generateCandidateContactList(
    bool delta, const platform::Dictionary& saved) {
    // Taken before the book is read: an edit made while the list is built is newer than the
    // date saved with this copy, so the next change copy sends it.
    const platform::Date listStart{nowSeconds()};
    contactRecordDict_ = platform::Dictionary();
    pendingRemovals_.clear();
    addressBook_.revert();

    const auto storedValue = defaults_.object(kLastSyncDateKey);
    const std::optional<platform::Date> storedDate =
        storedValue ? storedValue->dateIf() : std::nullopt;

    const std::vector<platform::contacts::Person> people = addressBook_.people();
    LG_VERBOSE("TQContactMgr: generateCandidateContactList() Actual: %ld, Saved: %ld",
               static_cast<long>(people.size()), static_cast<long>(saved.size()));

    Candidates out;
    out.records.reserve(people.size());
    // Stored identifiers matched to a person; only a change copy with a stored date matches.
    std::unordered_set<std::string> matched;
    for (const auto& person : people) {
        const std::string key = keyOf(person.identifier);
        if (storedDate && delta) {
            matched.insert(key);
            if (person.modificationDate &&
                storedDate->secondsSince1970 > *person.modificationDate) {
                contactRecordDict_.set(key, "Y");
                continue;
            }
        }
        auto record = TQContactFile::rawContact(person);
        if (!record) {
            continue;
        }
        out.records.push_back(std::move(*record));
        contactRecordDict_.set(key, "Y");
    }
    lastSyncDate_ = listStart;

    if (delta) {
        for (const auto& [key, value] : saved) {
            if (matched.contains(key)) {
                continue;
            }
            if (auto id = Value(key).intValue();
                id && *id >= INT32_MIN && *id <= INT32_MAX && std::to_string(*id) == key) {
                out.removed.push_back(static_cast<std::int32_t>(*id));
            }
        }
    }
    return out;
}

void TQContactMgr::sendRemovedContactList(std::vector<std::int32_t> removed,
                                          platform::Bytes document) {
    if (removed.empty()) {
        LG_VERBOSE("TQContactMgr: No contacts for removal");
        return;
    }
    LG_VERBOSE("TQContactMgr: removed contacts %@", std::string(document.begin(), document.end()));
    pendingRemovals_.insert(removed.begin(), removed.end());
    const std::string name = nextFileName();
    deleteFiles_[name] = std::move(removed);
    link_.sendFile(std::move(document), name,
                   [weak = weak_.weakPtr(), name](int code, const Value& info) {
                       if (auto* self = weak.get()) {
                           self->onDeleteEvent(name, code, info);
                       }
                   });
}

void TQContactMgr::sendInsert() {
    if (contactChunk_.empty()) {
        return;
    }
    inFlight_ = nextFileName();
    link_.sendFile(contactChunk_.front(), inFlight_,
                   [weak = weak_.weakPtr(), name = inFlight_](int code, const Value& info) {
                       if (auto* self = weak.get()) {
                           self->onInsertEvent(name, code, info);
                       }
                   });
}

std::string TQContactMgr::nextFileName() {
    return fileNames_.next(TQWallClock::current().millisecondsSince1970());
}

namespace {

// What a file event means for the copy; its log lines are written here.
enum class FileEvent { progress, lost, other };

FileEvent logFileEvent(int code) {
    switch (code) {
        case 1:
            LG_VERBOSE("TQContactMgr: Contact File Accepted");
            return FileEvent::other;
        case 3:
            return FileEvent::progress;
        case 5:
            LG_VERBOSE("TQContactMgr: Contact File Error");
            LG_VERBOSE("TQContactMgr: Contact File Resume Rejected");
            LG_VERBOSE("TQContactMgr: Contact File Rejected");
            return FileEvent::lost;
        case 6:
            LG_VERBOSE("TQContactMgr: Contact File Resume Accepted");
            return FileEvent::other;
        case 7:
            LG_VERBOSE("TQContactMgr: Contact File Resume Rejected");
            [[fallthrough]];
        case 2:
            LG_VERBOSE("TQContactMgr: Contact File Rejected");
            return FileEvent::lost;
        default:
            return FileEvent::other;
    }
}

double progressOf(const Value& info) {
    return info["progress"].doubleValue().value_or(0);
}

}  // namespace

void TQContactMgr::onInsertEvent(const std::string& name, int code, const Value& info) {
    const FileEvent event = logFileEvent(code);
    // An event of a file the queue no longer holds (a reset, a lost link, a copy given up)
    // changes nothing.
    if (contactChunk_.empty() || name != inFlight_) {
        return;
    }
    if (event == FileEvent::progress) {
        fileProgress(progressOf(info));
    } else if (event == FileEvent::lost) {
        resendChunk();
    }
}

void TQContactMgr::onDeleteEvent(const std::string& name, int code, const Value& info) {
    const FileEvent event = logFileEvent(code);
    const auto file = deleteFiles_.find(name);
    if (file == deleteFiles_.end()) {
        return;
    }
    if (event == FileEvent::progress && progressOf(info) >= 100.0) {
        confirmRemoval(file->second);
        deleteFiles_.erase(file);
    } else if (event == FileEvent::lost) {
        // Its identifiers stay stored, so the next change copy sends them again.
        deleteFiles_.erase(file);
    }
}

void TQContactMgr::confirmRemoval(const std::vector<std::int32_t>& removed) {
    for (const std::int32_t id : removed) {
        pendingRemovals_.erase(id);
    }
    // The watch dropped them: they leave the stored list now.
    auto stored = TQUtils::retrieveDictionary(std::nullopt, kRecordFile);
    if (!stored) {
        return;
    }
    for (const std::int32_t id : removed) {
        stored->remove(keyOf(id));
    }
    if (auto saved = TQUtils::saveDictionary(*stored, std::nullopt, kRecordFile); !saved.ok()) {
        LG_WARN("TQContactMgr: %@ not saved: %@", kRecordFile, saved.error().message);
    }
}

void TQContactMgr::fileProgress(double percent) {
    if (percent < 100.0) {
        return;
    }
    proceedNextChunk();
    if (contactChunk_.empty()) {
        LG_VERBOSE("TQContactMgr: file send completed, saving data");
        saveSyncInformation();
    } else {
        LG_VERBOSE("TQContactMgr: file Segment send completed, remaining segment %d",
                   static_cast<int>(contactChunk_.size()));
    }
}

void TQContactMgr::proceedNextChunk() {
    contactChunk_.pop_front();
    resends_ = 0;
    inFlight_.clear();
    LG_VERBOSE("TQContactMgr: proceedNextChunk");
    sendInsert();
}

void TQContactMgr::resendChunk() {
    if (resends_ >= kMaxResends) {
        abandon("the watch refused its file " + std::to_string(kMaxResends + 1) + " times");
        return;
    }
    // Backs off: a watch that refuses is often full or busy, and asking at once only repeats.
    const double delay = kFirstResendDelay * std::ldexp(1.0, resends_);
    ++resends_;
    inFlight_.clear();
    resendTimer_ = loop_.scheduleTimer(delay, false, [weak = weak_.weakPtr()] {
        auto* self = weak.get();
        if (self == nullptr || self->contactChunk_.empty()) {
            return;
        }
        if (!self->link_.isConnected()) {
            self->abandon("the watch is not connected");
            return;
        }
        LG_VERBOSE("TQContactMgr: resendChunk");
        self->sendInsert();
    });
}

void TQContactMgr::abandon(std::string_view why) {
    LG_WARN("TQContactMgr: contact copy given up, nothing saved: %@", why);
    contactChunk_.clear();
    inFlight_.clear();
    resends_ = 0;
    if (resendTimer_) {
        resendTimer_->invalidate();
        resendTimer_.reset();
    }
}

void TQContactMgr::linkLost() {
    deleteFiles_.clear();
    if (!contactChunk_.empty()) {
        abandon("the link was lost");
    }
}

void TQContactMgr::linkBack() {
    // A file the loss cut is taken up by the home's resume after the handshake; its events
    // then find no copy to change.
    observeAddressBook();
}

void TQContactMgr::saveSyncInformation() {
    if (lastSyncDate_) {
        defaults_.set(kLastSyncDateKey, Value(*lastSyncDate_));
    }
    platform::Dictionary stored = contactRecordDict_;
    for (const std::int32_t id : pendingRemovals_) {
        stored.set(keyOf(id), "Y");
    }
    if (auto saved = TQUtils::saveDictionary(stored, std::nullopt, kRecordFile); !saved.ok()) {
        LG_WARN("TQContactMgr: %@ not saved: %@", kRecordFile, saved.error().message);
    }
    TQUtils::synchronizeDefaults(defaults_, "TQContactMgr");
    LG_VERBOSE("TQContactMgr: Successfully sync at: %@ allIDList: %@",
               lastSyncDate_ ? Value(*lastSyncDate_) : Value(), Value(contactRecordDict_));
    if (isExternalChangeOccurred_) {
        isExternalChangeOccurred_ = false;
        LG_VERBOSE("TQContactMgr: process isExternalChangeOccurred");
        processContactSyncRequest(true);
    }
}

void TQContactMgr::handleExternalChange() {
    if (contactSyncTimer_) {
        contactSyncTimer_->invalidate();
    }
    LG_VERBOSE("TQContactMgr: handleExternalChange Start timer for 5 seconds for update delta");
    contactSyncTimer_ = loop_.scheduleTimer(kChangeDelay, false, [weak = weak_.weakPtr()] {
        if (auto* self = weak.get()) {
            self->updateDelta();
        }
    });
}

void TQContactMgr::updateDelta() {
    if (isSyncInProgress()) {
        isExternalChangeOccurred_ = true;
        LG_VERBOSE("TQContactMgr: updateDelta contact sync is in progress");
        return;
    }
    LG_VERBOSE("TQContactMgr: updateDelta processContactSyncRequest");
    processContactSyncRequest(true);
}

void TQContactMgr::onOOBECompletion() {
    LG_VERBOSE("TQContactMgr: Reset onOOBECompletion Notification");
    isExternalChangeOccurred_ = false;
    contactChunk_.clear();
    inFlight_.clear();
    if (resendTimer_) {
        resendTimer_->invalidate();
        resendTimer_.reset();
    }
}
