#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "link/TQFileHandlerInterface.h"
#include "listener/handlers/TQContactHandler.h"
#include "platform/contacts/AddressBook.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"
#include "platform/foundation/WeakPtr.h"
#include "platform/permissions/Permissions.h"
#include "services/contacts/TQContactFile.h"

class TQAP;

// What the contact services need of the link: whether the watch is connected, and a file for
// it on application identifier 3. Main loop.
struct TQContactLink {
    std::function<bool()> isConnected;
    std::function<void(platform::Bytes data, std::string name, TQFileSendEvent event)> sendFile;

    // Over the facade link() gives at each call (none: not connected, nothing sent).
    [[nodiscard]] static TQContactLink over(std::function<TQAP*()> link);
};

// Copies the address book to the watch as files on application identifier 3: a full copy, or
// the changes since the last completed one (a delete file, then the insert files), one insert
// file of at most 500 contacts at a time, the next once the watch has the whole previous one.
// An address-book change starts a change copy 5 seconds after the last notice (heard from the
// first copy or connection on). What the watch holds is kept in "contactLastSyncDate" and
// "contactEventID.plist". One per process, made by the composition root. Main loop.
//
// Beyond the letter of the copy: a copy starts only while the watch is connected, and a lost
// link empties the queue (the link pauses the file that was under way; once the watch is back,
// it is asked to take it up, so the files of later copies are not held behind it); a refused
// or failed insert file goes again after 1, 2, 4, 8 and 16 seconds, then the copy is given up,
// nothing saved; removed identifiers stay in the stored list until their delete file has
// reached the watch; the copy's date is taken before its list is built; nothing leaves when a
// document cannot be serialised.
class TQContactMgr final : public TQContactHandler {
public:
    static constexpr std::uint32_t kAppId = 3;
    static constexpr std::size_t kChunkSize = 500;
    static constexpr double kChangeDelay = 5.0;
    static constexpr int kMaxResends = 5;
    static constexpr double kFirstResendDelay = 1.0;
    static constexpr std::string_view kLastSyncDateKey = "contactLastSyncDate";
    static constexpr std::string_view kRecordFile = "contactEventID.plist";

    // All borrowed; they outlive the manager.
    TQContactMgr(platform::contacts::AddressBook& addressBook, platform::Permissions& permissions,
                 platform::UserDefaults& defaults, platform::NotificationCenter& center,
                 platform::RunLoop& loop, TQContactLink link);
    ~TQContactMgr() override;
    TQContactMgr(const TQContactMgr&) = delete;
    TQContactMgr& operator=(const TQContactMgr&) = delete;

    // TQContactHandler: "Request_Initial_Sync_Contact" or "Request_Resume_Sync_Contact".
    void processResponse(const platform::Value& message) override;

    void processContactSyncRequest(bool delta);
    [[nodiscard]] bool isSyncInProgress() const;
    // The address book changed: a change copy kChangeDelay after the last notice.
    void handleExternalChange();
    void updateDelta();
    void onOOBECompletion();

    // The insert files waiting, the one in flight first.
    [[nodiscard]] std::size_t queuedFiles() const { return contactChunk_.size(); }

private:
    struct Candidates {
        platform::Array records;
        // Stored identifiers of people no longer in the book (change copies with a date only).
        std::vector<std::int32_t> removed;
    };

    // saved: the stored record of what the watch holds.
    Candidates generateCandidateContactList(bool delta, const platform::Dictionary& saved);
    void sendInsert();
    void sendRemovedContactList(std::vector<std::int32_t> removed, platform::Bytes document);
    void onInsertEvent(const std::string& name, int code, const platform::Value& info);
    void onDeleteEvent(const std::string& name, int code, const platform::Value& info);
    void fileProgress(double percent);
    void proceedNextChunk();
    void resendChunk();
    void abandon(std::string_view why);
    void saveSyncInformation();
    void confirmRemoval(const std::vector<std::int32_t>& removed);
    void linkLost();
    void linkBack();
    // From the first copy or connection on.
    void observeAddressBook();
    [[nodiscard]] std::string nextFileName();

    platform::contacts::AddressBook& addressBook_;
    platform::Permissions& permissions_;
    platform::UserDefaults& defaults_;
    platform::NotificationCenter& center_;
    platform::RunLoop& loop_;
    TQContactLink link_;

    bool isExternalChangeOccurred_ = false;
    // The serialised insert files; element 0 is the one in flight.
    std::deque<platform::Bytes> contactChunk_;
    // The name of the insert file in flight: events of any other file change nothing.
    std::string inFlight_;
    int resends_ = 0;
    std::shared_ptr<platform::Timer> resendTimer_;
    platform::Dictionary contactRecordDict_;
    // Removed identifiers whose delete file has not reached the watch: they stay stored.
    std::set<std::int32_t> pendingRemovals_;
    std::map<std::string, std::vector<std::int32_t>> deleteFiles_;
    // One of ours was under way when the link went.
    bool observing_ = false;
    std::optional<platform::Date> lastSyncDate_;
    std::shared_ptr<platform::Timer> contactSyncTimer_;
    TQContactFile::FileNames fileNames_;
    platform::WeakPtrFactory<TQContactMgr> weak_{*this, loop_};
};
