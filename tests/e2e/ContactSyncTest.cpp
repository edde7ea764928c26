#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "db/TQDBManager.h"
#include "utils/TQUtils.h"
#include "db/TQDBManagerImpl.h"
#include "db/TQDBRecords.h"
#include "link/TQFileHandler.h"
#include "listener/ListenerWorld.h"
#include "platform/contacts/VCardFolderAddressBook.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/CivilTime.h"
#include "platform/foundation/FileSystem.h"
#include "platform/image/Canvas.h"
#include "platform/image/Decode.h"
#include "platform/permissions/Permissions.h"
#include "services/contacts/TQBuddyUtil.h"
#include "services/contacts/TQContactMgr.h"
#include "sim/WatchContacts.h"

namespace e2e {
namespace {

using kavowatch::ContactFile;
using platform::Value;
using platform::contacts::VCardFolderAddressBook;

// The phone's wall clock moves with the loop's virtual one, from 10 December 2026, 08:00 UTC.
const std::int64_t kStart = platform::secondsFromCivil({2026, 12, 10, 8, 0, 0});

class LoopWallClock final : public TQWallClock {
public:
    explicit LoopWallClock(const platform::RunLoop& loop) : loop_(loop) {}
    std::int64_t millisecondsSince1970() const override {
        return static_cast<std::int64_t>((static_cast<double>(kStart) + loop_.now()) * 1000);
    }

private:
    const platform::RunLoop& loop_;
};

std::string card(const std::string& uid, const std::string& last, const std::string& extra = "") {
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\nN:" + last + ";Kim;;;\r\nFN:Kim " +
           last + "\r\nTEL;TYPE=CELL:+49 30\xC2\xA0" "1234\r\n" + extra + "END:VCARD\r\n";
}

// The element of an array value.
const Value& item(const Value& array, std::size_t index) {
    static const Value none;
    const auto* items = array.arrayIf();
    return items != nullptr && index < items->size() ? (*items)[index] : none;
}

std::int32_t idOf(const std::string& uid) {
    return VCardFolderAddressBook::identifierFor("uid:" + uid);
}

// The phone as the application has it (link with its file transfer, core manager, dispatch,
// the contact copy and the buddies over a folder of vCard files) and the simulated watch's
// contacts on one simulated air.
class ContactSyncTest : public ::testing::Test {
protected:
    ContactSyncTest() {
        prompt.setAnswer(platform::Feature::contacts, true);
        permissions.request(platform::Feature::contacts, [](platform::Decision) {});
        world.ap->setFileHandler(std::make_unique<TQFileHandler>(
            *world.ap, *world.ap, world.loop, world.container.documents() / "QueueFiles"));
        world.handlers.registry.contacts = &manager;
        world.handlers.registry.buddySync = &buddies;
    }

    // Written by another program at `modified` seconds on the phone's clock (default: long
    // before any copy).
    void write(const std::string& name, const std::string& text, double modified = -86400) {
        const auto path = folder / name;
        ASSERT_TRUE(platform::fs::writeFileAtomically(path, text).ok());
        const double at = static_cast<double>(kStart) + modified;
        const auto seconds = static_cast<time_t>(at);
        const timespec times[2] = {{seconds, static_cast<long>((at - seconds) * 1e9)},
                                   {seconds, static_cast<long>((at - seconds) * 1e9)}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }

    // 1200 people: 1197 in twelve files, and three of one card each.
    void writeBook() {
        for (int file = 0; file < 12; ++file) {
            std::string text;
            for (int i = file * 100; i < std::min(1197, file * 100 + 100); ++i) {
                text += card("u" + std::to_string(i), "P" + std::to_string(i));
            }
            write("bulk-" + std::to_string(file) + ".vcf", text);
        }
        write("edit.vcf", card("edit", "Before"));
        write("gone1.vcf", card("gone1", "Gone"));
        write("gone2.vcf", card("gone2", "Gone"));
    }

    void connect() {
        world.connectWatch();
        ASSERT_FALSE(HasFatalFailure());
        world.defaults.set("isWMSConnected", 1);
    }

    static std::vector<std::size_t> sizes(const std::vector<ContactFile>& files) {
        std::vector<std::size_t> out;
        for (const auto& file : files) {
            out.push_back(file.identifiers.size());
        }
        return out;
    }

    std::set<std::string> storedIdentifiers() {
        std::set<std::string> out;
        if (auto stored = TQUtils::retrieveDictionary(std::nullopt, TQContactMgr::kRecordFile)) {
            for (const auto& [key, value] : *stored) {
                out.insert(key);
            }
        }
        return out;
    }

    listener_test::ListenerWorld world;
    LoopWallClock clock{world.loop};
    platform::ScopedInstall<TQWallClock> installClock{&clock};
    TQDBManagerImpl database{world.container.documents() / TQDBManagerImpl::kFileName};
    platform::ScopedInstall<TQDBManagerImpl> installDatabase{&database};
    std::filesystem::path folder = world.folder.path() / "contacts";
    // Another program edits the folder; its change notices come through here.
    platform::ManualChangeSource* changes = new platform::ManualChangeSource;
    VCardFolderAddressBook book{folder, std::unique_ptr<platform::ChangeSource>(changes)};
    platform::ScriptedPermissionPrompt prompt;
    platform::Permissions permissions{world.defaults, prompt, [] { return false; }};
    TQContactMgr manager{book,       permissions, world.defaults, world.center, world.loop,
                         TQContactLink::over([this] { return world.ap.get(); })};
    TQBuddyUtil buddies{book, permissions, world.loop, platform::DispatchQueue::main(),
                        TQBuddyUtil::Sender::over([this] { return world.ap.get(); })};
    kavowatch::WatchContacts watchContacts{world.watch};
};

TEST_F(ContactSyncTest, AFullCopyThenTheChangesAnotherProgramMadeInTheFolder) {
    writeBook();
    connect();
    ASSERT_TRUE(watchContacts.requestFullCopy().ok());
    // One file at a time: the next is queued only once the watch holds the whole previous one.
    const auto first = watchContacts.waitForFiles(1);
    ASSERT_TRUE(first);
    EXPECT_TRUE(world.watch.waitUntil([&] { return manager.queuedFiles() == 2; }));
    const auto rest = watchContacts.waitForFiles(2);
    ASSERT_TRUE(rest);
    EXPECT_EQ(sizes(*first), (std::vector<std::size_t>{500}));
    EXPECT_EQ(sizes(*rest), (std::vector<std::size_t>{500, 200}));
    ASSERT_TRUE(world.watch.waitUntil([&] { return !manager.isSyncInProgress(); }));
    EXPECT_EQ(watchContacts.contacts().size(), 1200u);
    EXPECT_EQ(watchContacts.problems(), std::vector<std::string>());
    EXPECT_EQ(storedIdentifiers().size(), 1200u);
    const auto saved = world.defaults.object(TQContactMgr::kLastSyncDateKey);
    ASSERT_TRUE(saved && saved->dateIf());
    const Value& edited = watchContacts.contacts().at(idOf("edit"));
    EXPECT_EQ(edited["raw_contact"]["display_name"], Value("Kim Before"));
    EXPECT_EQ(item(edited["data_list"], 0)["data"]["number"], Value("+49 301234"));

    // Another program edits one contact, deletes two and adds one; its notices come in a
    // burst, and the copy starts 5 s after the last.
    world.loop.advance(60);
    write("edit.vcf", card("edit", "After"), world.loop.now());
    std::filesystem::remove(folder / "gone1.vcf");
    std::filesystem::remove(folder / "gone2.vcf");
    ASSERT_TRUE(changes->fire());
    world.loop.advance(2);
    write("new.vcf", card("new", "New"), world.loop.now());
    ASSERT_TRUE(changes->fire());
    world.loop.advance(TQContactMgr::kChangeDelay - 0.1);
    EXPECT_TRUE(watchContacts.takeFiles().empty());
    const auto delta = watchContacts.waitForFiles(2, 10);
    ASSERT_TRUE(delta);
    ASSERT_EQ(delta->size(), 2u);
    EXPECT_EQ((*delta)[0].kind, ContactFile::Kind::remove);
    EXPECT_EQ(std::set<std::int64_t>((*delta)[0].identifiers.begin(), (*delta)[0].identifiers.end()),
              (std::set<std::int64_t>{idOf("gone1"), idOf("gone2")}));
    EXPECT_EQ((*delta)[1].kind, ContactFile::Kind::insert);
    EXPECT_EQ(std::set<std::int64_t>((*delta)[1].identifiers.begin(), (*delta)[1].identifiers.end()),
              (std::set<std::int64_t>{idOf("edit"), idOf("new")}));
    ASSERT_TRUE(world.watch.waitUntil([&] { return !manager.isSyncInProgress(); }));
    EXPECT_EQ(watchContacts.contacts().size(), 1199u);
    EXPECT_EQ(watchContacts.contacts().at(idOf("edit"))["raw_contact"]["display_name"],
              Value("Kim After"));
    EXPECT_EQ(watchContacts.problems(), std::vector<std::string>());
    const auto stored = storedIdentifiers();
    EXPECT_EQ(stored.size(), 1199u);
    EXPECT_FALSE(stored.contains(std::to_string(idOf("gone1"))));

    // Nothing changed since: a change request sends nothing.
    ASSERT_TRUE(watchContacts.requestChanges().ok());
    world.loop.advance(10);
    EXPECT_TRUE(watchContacts.takeFiles().empty());
}

TEST_F(ContactSyncTest, AWatchThatRefusesEveryInsertFileEndsTheCopyAfterTheRetries) {
    write("few.vcf", card("a", "A") + card("b", "B"));
    connect();
    world.watch.files().setAccepting(false);
    ASSERT_TRUE(watchContacts.requestFullCopy().ok());
    ASSERT_TRUE(world.watch.waitUntil([&] { return manager.isSyncInProgress(); }));
    // 1 + 2 + 4 + 8 + 16 seconds of back-off between the six tries.
    ASSERT_TRUE(world.watch.waitUntil([&] { return !manager.isSyncInProgress(); }, 120));
    EXPECT_EQ(world.watch.files().counters().announcements, 1 + TQContactMgr::kMaxResends);
    world.loop.advance(120);
    EXPECT_EQ(world.watch.files().counters().announcements, 1 + TQContactMgr::kMaxResends);
    EXPECT_FALSE(world.defaults.object(TQContactMgr::kLastSyncDateKey));
    EXPECT_TRUE(storedIdentifiers().empty());
    EXPECT_EQ(world.logs->count("TQContactMgr: contact copy given up, nothing saved: the watch "
                                "refused its file 6 times"),
              1);

    // A later request starts a copy of its own.
    world.watch.files().setAccepting(true);
    ASSERT_TRUE(watchContacts.requestFullCopy().ok());
    ASSERT_TRUE(watchContacts.waitForFiles(1));
    ASSERT_TRUE(world.watch.waitUntil([&] { return !manager.isSyncInProgress(); }));
    EXPECT_EQ(storedIdentifiers().size(), 2u);
}

TEST_F(ContactSyncTest, ALinkLostMidCopyLeavesNothingStuckAndTheNextCopyCompletes) {
    writeBook();
    connect();
    ASSERT_TRUE(watchContacts.requestFullCopy().ok());
    ASSERT_TRUE(watchContacts.waitForFiles(1));
    ASSERT_TRUE(manager.isSyncInProgress());
    const int disconnects = world.events.count("note:onDisconnectDeviceNotification");
    world.watch.vanish();
    ASSERT_TRUE(world.watch.waitUntil(
        [&] { return world.events.count("note:onDisconnectDeviceNotification") > disconnects; }));
    EXPECT_FALSE(manager.isSyncInProgress());

    // Asked while the watch is away: nothing starts, so nothing waits for ever.
    manager.processContactSyncRequest(false);
    EXPECT_FALSE(manager.isSyncInProgress());

    world.defaults.set("isWMSConnected", 0);
    connect();
    // The home's choice once the watch is back: the file the loss cut is taken up first; its
    // end changes nothing here. The new copy's three files follow it.
    world.ap->resumeFileRequest();
    ASSERT_TRUE(watchContacts.requestFullCopy().ok());
    ASSERT_TRUE(world.watch.waitUntil([&] { return manager.isSyncInProgress(); }));
    ASSERT_TRUE(world.watch.waitUntil([&] { return !manager.isSyncInProgress(); }));
    auto files = watchContacts.takeFiles();
    ASSERT_GE(files.size(), 3u);
    files.erase(files.begin(), files.end() - 3);
    EXPECT_EQ(sizes(files), (std::vector<std::size_t>{500, 500, 200}));
    EXPECT_EQ(watchContacts.problems(), std::vector<std::string>());
    EXPECT_EQ(storedIdentifiers().size(), 1200u);
}

// Buddies of the paired model, as the buddy screens stored them.
class BuddySyncTest : public ContactSyncTest {
protected:
    BuddySyncTest() {
        world.defaults.set("groupKavoInfo", Value{{"kavoModelNumber", "SM-R5"}});
        TQDBManager db = TQDBManager::getSharedInstance();
        db.createModel(TQDBBuddy::tableSchema());
        db.createModel(TQDBuddyNumber::tableSchema());
    }

    void addBuddy(const std::string& uid, int sortOrder, double modified,
                  std::optional<std::string> photo = std::nullopt) {
        TQDBBuddy buddy;
        buddy.contactId = idOf(uid);
        buddy.sortOrder = sortOrder;
        buddy.modificationDate = modified;
        buddy.lastName = uid;
        buddy.displayName = uid;
        buddy.photoData = std::move(photo);
        buddy.modelNumber = "SM-R5";
        ASSERT_TRUE(buddy.save());
        TQDBuddyNumber number;
        number.contactId = idOf(uid);
        number.number = "stored " + uid;
        number.type = 1;
        number.modelNumber = "SM-R5";
        ASSERT_TRUE(number.save());
    }

    static std::string jpeg(int width, int height) {
        auto canvas = platform::image::Canvas::create(
            {static_cast<double>(width), static_cast<double>(height)}, 1.0, true);
        EXPECT_TRUE(canvas.ok());
        auto bytes = platform::image::encodeJPEG(canvas.value().image().bitmap(), 80);
        EXPECT_TRUE(bytes.ok());
        return platform::base64::encode(bytes.value());
    }
};

TEST_F(BuddySyncTest, TheListInSortOrderWithPhotosAndTheBooksEditsTakenOver) {
    // Edited since stored (a 200 x 100 picture and a new name), unedited, edited to lose its
    // picture, deleted, and edited to lose its only number.
    write("edited.vcf",
          card("edited", "Edited", "PHOTO;ENCODING=b;TYPE=JPEG:" + jpeg(200, 100) + "\r\n"), 10);
    write("same.vcf", card("same", "Same"), 20);
    write("nophoto.vcf", card("nophoto", "NoPhoto"), 30);
    write("nonumber.vcf",
          "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:nonumber\r\nN:NoNumber;;;;\r\nEND:VCARD\r\n", 40);
    addBuddy("edited", 2, 1);
    addBuddy("same", 0, static_cast<double>(kStart) + 20);
    addBuddy("nophoto", 1, 1, jpeg(10, 10));
    addBuddy("gone", 3, 1);
    addBuddy("nonumber", 4, 1);
    connect();

    const auto list = watchContacts.requestBuddies();
    ASSERT_TRUE(list);
    EXPECT_EQ(watchContacts.problems(), std::vector<std::string>());
    EXPECT_EQ(list->order,
              (std::vector<std::int64_t>{idOf("same"), idOf("nophoto"), idOf("edited")}));
    const Value& records = list->message["rawContacts"]["raw_contact_list"];
    // Unedited: as stored, numbers included.
    EXPECT_EQ(item(records, 0)["raw_contact"]["display_name"], Value("same"));
    EXPECT_EQ(item(item(records, 0)["data_list"], 0)["data"]["number"], Value("stored same"));
    // Edited: names, numbers (no-break spaces gone) and the picture taken over.
    EXPECT_EQ(item(records, 2)["raw_contact"]["display_name"], Value("Kim Edited"));
    EXPECT_EQ(item(item(records, 2)["data_list"], 0)["data"]["number"], Value("+49 301234"));
    EXPECT_EQ(item(item(records, 2)["data_list"], 0)["data"]["type"], Value(2));
    EXPECT_EQ(item(records, 2)["raw_contact"]["has_photo"], Value(true));
    // A picture removed from the contact leaves the buddy.
    EXPECT_EQ(item(records, 1)["raw_contact"]["has_photo"], Value(false));
    ASSERT_EQ(list->photos.size(), 1u);
    const auto& photo = list->photos.at("photo_" + std::to_string(idOf("edited")) + ".jpg");
    const auto decoded = platform::image::decodeImage(photo);
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded.value().size(), (platform::image::Size{96, 96}));
    EXPECT_EQ(platform::image::sniffFormat(photo), platform::image::Format::jpeg);

    // The deleted and the number-less contacts left the database too.
    const auto stored = TQDBBuddy::getAllForThisModelNumber().value();
    EXPECT_EQ(stored.size(), 3u);
}

TEST_F(BuddySyncTest, WithoutPermissionTheStoredListIsStillSent) {
    world.defaults.set(platform::Permissions::defaultsKey(platform::Feature::contacts),
                       static_cast<int>(platform::Decision::denied));
    addBuddy("kept", 0, 1);
    TQDBBuddy nameless;
    nameless.contactId = 77;
    nameless.sortOrder = 1;
    nameless.modelNumber = "SM-R5";
    ASSERT_TRUE(nameless.save());
    TQDBuddyNumber empty;
    empty.contactId = 77;
    empty.modelNumber = "SM-R5";
    ASSERT_TRUE(empty.save());
    connect();

    const auto list = watchContacts.requestBuddies();
    ASSERT_TRUE(list);
    EXPECT_EQ(watchContacts.problems(), std::vector<std::string>());
    EXPECT_EQ(list->order, (std::vector<std::int64_t>{idOf("kept"), 77}));
    const Value& records = list->message["rawContacts"]["raw_contact_list"];
    EXPECT_EQ(item(item(records, 0)["data_list"], 0)["data"]["number"], Value("stored kept"));
    // No display name and no number text: an empty name, and only the name entry.
    EXPECT_EQ(item(records, 1)["raw_contact"]["display_name"], Value(""));
    EXPECT_EQ(item(records, 1)["data_list"].arrayIf()->size(), 1u);
}

}  // namespace
}  // namespace e2e
