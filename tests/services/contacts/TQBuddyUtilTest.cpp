#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "db/TQDBManager.h"
#include "db/TQDBManagerImpl.h"
#include "db/TQDBRecords.h"
#include "platform/contacts/AddressBook.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/image/Canvas.h"
#include "platform/image/Decode.h"
#include "platform/permissions/Permissions.h"
#include "services/contacts/TQBuddyUtil.h"
#include "support/TempDir.h"

namespace contacts_test {
namespace {

using platform::Value;

platform::Bytes jpeg(double width, double height) {
    auto canvas = platform::image::Canvas::create({width, height}, 1.0, true);
    return platform::image::encodeJPEG(canvas.value().image().bitmap(), 80).value();
}

TEST(TQBuddyUtilTest, PhotosLargerThan96PointsAreRedrawnAt96AndOthersKeptAsTaken) {
    const auto large = jpeg(200, 100);
    const auto prepared = TQBuddyUtil::preparePhoto(large);
    ASSERT_TRUE(prepared);
    const auto bytes = platform::base64::decode(*prepared).value();
    EXPECT_EQ(platform::image::sniffFormat(bytes), platform::image::Format::jpeg);
    EXPECT_EQ(platform::image::decodeImage(bytes).value().size(), (platform::image::Size{96, 96}));

    const auto fits = jpeg(96, 96);
    EXPECT_EQ(TQBuddyUtil::preparePhoto(fits), platform::base64::encode(fits));
    // Bytes that only begin like an image are no picture to keep.
    platform::Bytes cut(large.begin(), large.begin() + 40);
    EXPECT_FALSE(TQBuddyUtil::preparePhoto(cut));
}

// The work on a real serial queue, the answers on a loop with a real clock: the thread
// sanitizer's view of the buddy work.
TEST(TQBuddyUtilTest, RequestsRunOneAfterTheOtherOnTheQueueAndAnswerOnTheLoop) {
    testing_support::TempDir folder;
    platform::Container container{folder.path()};
    platform::ScopedInstall<const platform::Container> installContainer{&container};
    platform::UserDefaults defaults{folder.path() / "defaults.plist"};
    platform::ScopedInstall<platform::UserDefaults> installDefaults{&defaults};
    defaults.set("groupKavoInfo", Value{{"kavoModelNumber", "SM-R5"}});
    TQDBManagerImpl database{folder.path() / "TQA_DB.db"};
    platform::ScopedInstall<TQDBManagerImpl> installDatabase{&database};
    platform::RunLoop loop{platform::RunLoop::Clock::real};
    platform::ScriptedPermissionPrompt prompt;
    platform::Permissions permissions{defaults, prompt, [] { return false; }};
    prompt.setAnswer(platform::Feature::contacts, true);
    permissions.request(platform::Feature::contacts, [](platform::Decision) {});

    TQDBManager::getSharedInstance().createModel(TQDBBuddy::tableSchema());
    TQDBManager::getSharedInstance().createModel(TQDBuddyNumber::tableSchema());
    TQDBBuddy buddy;
    buddy.contactId = 5;
    buddy.modelNumber = "SM-R5";
    buddy.displayName = "old";
    ASSERT_TRUE(buddy.save());

    platform::contacts::MemoryAddressBook book;
    platform::contacts::Person person;
    person.identifier = 5;
    person.firstName = "New";
    person.modificationDate = 1000;
    person.phones = {{platform::contacts::LabelKind::home, "home", "555"}};
    book.setPeople({person});

    std::vector<Value> messages;
    platform::SerialQueue work("kavo.buddies.test");
    {
        TQBuddyUtil buddies(book, permissions, loop, work,
                            {[&](const Value& message) { messages.push_back(message); },
                             [](platform::Bytes, std::string, TQFileSendEvent) {}});
        buddies.performNativeSync();
        buddies.performNativeSync();
        bool gaveUp = false;
        const auto bound = loop.scheduleTimer(30, false, [&] { gaveUp = true; });
        loop.runUntil([&] { return messages.size() == 2 || gaveUp; });
        bound->invalidate();
        ASSERT_EQ(messages.size(), 2u);
        for (const Value& message : messages) {
            EXPECT_EQ(message["msgId"], Value("contacts-getbuddy-rsp"));
            EXPECT_EQ(message["rawContacts"]["raw_contact_list"].arrayIf()->at(0)["raw_contact"]
                             ["display_name"],
                      Value("New"));
        }
        // A request still on the queue when the utility goes finds nobody to answer.
        buddies.performNativeSync();
    }
    platform::Semaphore drained;
    work.async([&] { drained.signal(); });
    drained.wait();
    loop.runUntilIdle();
    EXPECT_EQ(messages.size(), 2u);
}

}  // namespace
}  // namespace contacts_test
