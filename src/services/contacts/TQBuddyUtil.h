#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "listener/handlers/TQBuddySyncHandler.h"
#include "platform/contacts/AddressBook.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"
#include "platform/foundation/WeakPtr.h"
#include "platform/permissions/Permissions.h"
#include "services/contacts/TQContactMgr.h"

class TQAP;

// The user's favourite contacts for the current watch model (TQDBBuddy and TQDBuddyNumber
// rows): refreshed from the address book when the watch asks, then sent as the buddy list
// message and one "photo_<id>.jpg" file per buddy photo, on application identifier 3.
//
// All buddy work runs on one serial queue, under the database's lock, so two requests never
// interleave their rows; the message and the files leave from the main loop. Without address-
// book permission the stored list is still sent, unrefreshed.
class TQBuddyUtil final : public TQBuddySyncHandler {
public:
    static constexpr std::uint32_t kAppId = 3;
    static constexpr std::uint32_t kPriority = 1;
    // Photos wider or higher than this many points are redrawn at exactly this size.
    static constexpr double kPhotoSide = 96;
    static constexpr int kPhotoQuality = 100;

    // What leaves for the watch: the list message, then the photo files. Main loop.
    struct Sender {
        std::function<void(const platform::Value& message)> sendMessage;
        std::function<void(platform::Bytes data, std::string name, TQFileSendEvent event)> sendFile;

        // Through the facade link() gives at each call (none: nothing is sent).
        [[nodiscard]] static Sender over(std::function<TQAP*()> link);
    };

    // All borrowed; they outlive the utility. work runs the buddy work one task at a time.
    TQBuddyUtil(platform::contacts::AddressBook& addressBook, platform::Permissions& permissions,
                platform::RunLoop& loop, platform::DispatchQueue& work, Sender sender);
    ~TQBuddyUtil() override = default;
    TQBuddyUtil(const TQBuddyUtil&) = delete;
    TQBuddyUtil& operator=(const TQBuddyUtil&) = delete;

    // TQBuddySyncHandler: on the main loop; the work goes to the queue.
    void performNativeSync() override;

    // A photo file for the watch.
    struct Photo {
        std::string name;
        platform::Bytes data;
    };
    struct Response {
        platform::Value message;
        std::vector<Photo> photos;
    };

    // Refreshes the current model's buddies from the book, inside the database's lock; whether
    // a buddy was removed or taken over. On the work queue.
    static bool syncWithNativeAddressBook(platform::contacts::AddressBook& addressBook);
    // The list message of the stored buddies, ordered by sort order, and their photo files.
    [[nodiscard]] static Response buildResponse(std::string_view msgId);
    // Builds on the work queue, sends from the main loop.
    void sendAllBuddyResponse(std::string_view msgId);

    // The photo as stored: taken as it is unless larger than kPhotoSide, then redrawn at
    // kPhotoSide x kPhotoSide as JPEG; Base64. Nothing when the data is not an image.
    [[nodiscard]] static std::optional<std::string> preparePhoto(const platform::Bytes& imageData);

private:
    void send(Response response);

    platform::contacts::AddressBook& addressBook_;
    platform::Permissions& permissions_;
    platform::RunLoop& loop_;
    platform::DispatchQueue& work_;
    Sender sender_;
    platform::WeakPtrFactory<TQBuddyUtil> weak_{*this, loop_};
};
