#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "listener/TQWallClock.h"
#include "platform/contacts/AddressBook.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/permissions/Permissions.h"
#include "services/contacts/TQContactMgr.h"
#include "support/TempDir.h"
#include "utils/TQUtils.h"

namespace contacts_test {
namespace {

using platform::Value;
using platform::contacts::Person;

// The wall clock follows the loop's virtual one, from 2026-12-10 08:00 UTC, plus what a test
// adds to stand for time spent inside a call.
class LoopWallClock final : public TQWallClock {
public:
    explicit LoopWallClock(const platform::RunLoop& loop) : loop_(loop) {}
    std::int64_t millisecondsSince1970() const override {
        return static_cast<std::int64_t>((kStart + loop_.now() + extra) * 1000);
    }
    static constexpr double kStart = 1796889600;
    double extra = 0;

private:
    const platform::RunLoop& loop_;
};

Person person(std::int32_t id, double modified) {
    Person out;
    out.identifier = id;
    out.lastName = "P" + std::to_string(id);
    out.modificationDate = LoopWallClock::kStart + modified;
    return out;
}

// The people, and a hook that runs while the copy reads them.
class ScriptedBook final : public platform::contacts::AddressBook {
public:
    void revert() override {}
    std::vector<Person> people() override {
        if (whileRead) {
            whileRead();
        }
        return people_;
    }
    std::optional<Person> personWithIdentifier(std::int32_t) override { return std::nullopt; }
    void observeChanges(std::function<void()> observer) override {
        observer_ = std::move(observer);
    }

    std::vector<Person> people_;
    std::function<void()> whileRead;
    std::function<void()> observer_;
};

// A link that keeps what it is given; the test plays the watch's events.
struct SentFile {
    std::string name;
    Value document;
    TQFileSendEvent event;
};

class TQContactMgrTest : public ::testing::Test {
protected:
    TQContactMgrTest() {
        prompt.setAnswer(platform::Feature::contacts, true);
        permissions.request(platform::Feature::contacts, [](platform::Decision) {});
    }

    TQContactLink link() {
        return {[this] { return connected; },
                [this](platform::Bytes data, std::string name, TQFileSendEvent event) {
                    sent.push_back(
                        {std::move(name),
                         platform::json::parse(std::string(data.begin(), data.end())).value(),
                         std::move(event)});
                }};
    }

    // The watch has the whole file.
    static void complete(const SentFile& file) {
        file.event(1, Value{{"fileName", file.name}});
        file.event(3, Value{{"fileName", file.name}, {"progress", 100.0}});
    }
    static std::size_t records(const SentFile& file) {
        return file.document["insert"]["raw_contact_list"].arrayIf()->size();
    }
    static std::set<std::int64_t> removed(const SentFile& file) {
        std::set<std::int64_t> out;
        for (const Value& entry : *file.document["delete"]["raw_contact_list"].arrayIf()) {
            out.insert(*entry["raw_contact"]["id"].intValue());
        }
        return out;
    }
    std::set<std::string> stored() {
        std::set<std::string> out;
        for (const auto& [key, value] :
             TQUtils::retrieveDictionary(std::nullopt, TQContactMgr::kRecordFile)
                 .value_or(platform::Dictionary())) {
            out.insert(key);
        }
        return out;
    }
    // A completed full copy of the book as it is.
    void fullCopy() {
        manager.processResponse(Value{{"msgId", "Request_Initial_Sync_Contact"}});
        while (manager.isSyncInProgress()) {
            complete(sent.back());
        }
    }

    testing_support::TempDir folder;
    platform::Container container{folder.path()};
    platform::ScopedInstall<const platform::Container> installContainer{&container};
    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop mainLoop{loop};
    LoopWallClock clock{loop};
    platform::ScopedInstall<TQWallClock> installClock{&clock};
    platform::UserDefaults defaults{folder.path() / "defaults.plist"};
    platform::NotificationCenter center;
    platform::ScriptedPermissionPrompt prompt;
    platform::Permissions permissions{defaults, prompt, [] { return false; }};
    ScriptedBook book;
    bool connected = true;
    std::vector<SentFile> sent;
    TQContactMgr manager{book, permissions, defaults, center, loop, link()};
};

TEST_F(TQContactMgrTest, InsertFilesOfFiveHundredLeaveOneAfterTheOtherAndTheEndIsSaved) {
    for (int id = 1; id <= 1001; ++id) {
        book.people_.push_back(person(id, -100));
    }
    Person nameless;  // no name: never sent, never stored
    nameless.identifier = 2000;
    book.people_.push_back(nameless);
    manager.processResponse(Value{{"msgId", "Request_Initial_Sync_Contact"}});
    ASSERT_EQ(sent.size(), 1u);
    sent[0].event(3, Value{{"progress", 99.9}});
    EXPECT_EQ(sent.size(), 1u);
    // A second request while files are queued is dropped.
    manager.processResponse(Value{{"msgId", "Request_Resume_Sync_Contact"}});
    EXPECT_EQ(sent.size(), 1u);
    complete(sent[0]);
    ASSERT_EQ(sent.size(), 2u);
    complete(sent[1]);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ((std::vector<std::size_t>{records(sent[0]), records(sent[1]), records(sent[2])}),
              (std::vector<std::size_t>{500, 500, 1}));
    EXPECT_FALSE(defaults.object(TQContactMgr::kLastSyncDateKey));
    complete(sent[2]);
    EXPECT_FALSE(manager.isSyncInProgress());
    EXPECT_EQ(stored().size(), 1001u);
    EXPECT_FALSE(stored().contains("2000"));
    EXPECT_EQ(defaults.object(TQContactMgr::kLastSyncDateKey)->dateIf(),
              platform::Date{LoopWallClock::kStart});
    // The same name is never given twice, though the clock did not move.
    EXPECT_NE(sent[0].name, sent[1].name);
    EXPECT_NE(sent[1].name, sent[2].name);
}

TEST_F(TQContactMgrTest, ARefusedInsertFileGoesAgainAfterABackOffThenTheCopyIsGivenUp) {
    book.people_ = {person(1, -100)};
    manager.processContactSyncRequest(false);
    ASSERT_EQ(sent.size(), 1u);
    const std::vector<double> delays = {1, 2, 4, 8, 16};
    const std::vector<int> codes = {2, 5, 7, 2, 5};
    for (std::size_t i = 0; i < delays.size(); ++i) {
        sent.back().event(codes[i], Value{{"fileName", sent.back().name}});
        loop.advance(delays[i] - 0.01);
        EXPECT_EQ(sent.size(), i + 1) << "too early, try " << i;
        loop.advance(0.01);
        ASSERT_EQ(sent.size(), i + 2) << "try " << i;
        // A late event of the refused file changes nothing.
        sent[i].event(2, Value{{"fileName", sent[i].name}});
        sent[i].event(3, Value{{"progress", 100.0}});
        EXPECT_TRUE(manager.isSyncInProgress());
    }
    sent.back().event(2, Value{{"fileName", sent.back().name}});
    EXPECT_FALSE(manager.isSyncInProgress());
    loop.advance(100);
    EXPECT_EQ(sent.size(), 6u);
    EXPECT_FALSE(defaults.object(TQContactMgr::kLastSyncDateKey));
    EXPECT_TRUE(stored().empty());
}

TEST_F(TQContactMgrTest, RemovedIdentifiersStayStoredUntilTheirDeleteFileArrives) {
    book.people_ = {person(1, -100), person(2, -100), person(3, -100)};
    fullCopy();
    loop.advance(60);
    book.people_ = {person(1, -100), person(4, 30)};
    sent.clear();
    manager.processResponse(Value{{"msgId", "Request_Resume_Sync_Contact"}});
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(removed(sent[0]), (std::set<std::int64_t>{2, 3}));
    EXPECT_EQ(records(sent[1]), 1u);
    // The delete file is lost; the insert file arrives.
    sent[0].event(5, Value{{"fileName", sent[0].name}});
    complete(sent[1]);
    EXPECT_EQ(stored(), (std::set<std::string>{"1", "2", "3", "4"}));

    // The next change copy sends the deletions again; once they arrive they leave the list.
    loop.advance(60);
    sent.clear();
    manager.processContactSyncRequest(true);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(removed(sent[0]), (std::set<std::int64_t>{2, 3}));
    complete(sent[0]);
    EXPECT_EQ(stored(), (std::set<std::string>{"1", "4"}));
    sent.clear();
    manager.processContactSyncRequest(true);
    EXPECT_TRUE(sent.empty());
}

TEST_F(TQContactMgrTest, AContactEditedWhileTheListIsBuiltGoesWithTheNextCopy) {
    book.people_ = {person(1, -100)};
    // Building takes ten seconds; the contact is edited in the middle of them.
    book.whileRead = [&] {
        clock.extra = 10;
        book.people_[0].modificationDate = LoopWallClock::kStart + 5;
    };
    fullCopy();
    book.whileRead = nullptr;
    sent.clear();
    manager.processContactSyncRequest(true);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(records(sent[0]), 1u);
}

TEST_F(TQContactMgrTest, WhatCannotBeSerialisedLeavesNothing) {
    book.people_ = {person(1, -100), person(2, -100)};
    book.people_[1].lastName = "bad \xFF text";
    manager.processContactSyncRequest(false);
    EXPECT_TRUE(sent.empty());
    EXPECT_FALSE(manager.isSyncInProgress());
}

// What the watch holds is not known while its record cannot be read: a copy would replace the
// record as if the watch held nothing, so none starts and the file stays.
TEST_F(TQContactMgrTest, ARecordThatCannotBeReadStartsNoCopy) {
    book.people_ = {person(1, -100), person(2, -100)};
    const auto record = container.documents() / "common" / TQContactMgr::kRecordFile;
    std::filesystem::create_directories(record);  // reading it fails with EISDIR
    for (const bool delta : {false, true}) {
        manager.processContactSyncRequest(delta);
        EXPECT_TRUE(sent.empty()) << (delta ? "change copy" : "full copy");
        EXPECT_FALSE(manager.isSyncInProgress());
    }
    EXPECT_TRUE(std::filesystem::is_directory(record));
    EXPECT_FALSE(defaults.object(TQContactMgr::kLastSyncDateKey));
}

TEST_F(TQContactMgrTest,
       CopiesStartOnlyWithPermissionAndWhileConnectedAndALostLinkEmptiesTheQueue) {
    book.people_ = {person(1, -100)};
    connected = false;
    manager.processContactSyncRequest(false);
    EXPECT_TRUE(sent.empty());
    connected = true;
    defaults.set(platform::Permissions::defaultsKey(platform::Feature::contacts),
                 static_cast<int>(platform::Decision::denied));
    manager.processContactSyncRequest(false);
    EXPECT_TRUE(sent.empty());
    defaults.set(platform::Permissions::defaultsKey(platform::Feature::contacts),
                 static_cast<int>(platform::Decision::granted));

    manager.processContactSyncRequest(false);
    ASSERT_TRUE(manager.isSyncInProgress());
    center.post("onDisconnectDeviceNotification");
    EXPECT_FALSE(manager.isSyncInProgress());
    center.post("onConnectDeviceNotification");
    manager.processContactSyncRequest(false);
    EXPECT_EQ(sent.size(), 2u);
    center.post("OOBECompletionNoti");
    EXPECT_FALSE(manager.isSyncInProgress());
}

TEST_F(TQContactMgrTest, ChangesAreGatheredAndOneDuringACopyFollowsIt) {
    book.people_ = {person(1, -100)};
    fullCopy();
    sent.clear();
    loop.advance(60);
    book.people_.push_back(person(2, 60));
    book.observer_();
    loop.advance(2);
    book.observer_();
    loop.advance(TQContactMgr::kChangeDelay - 0.01);
    EXPECT_TRUE(sent.empty());
    loop.advance(0.01);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(records(sent[0]), 1u);

    // A change while that copy runs: one change copy right after it.
    loop.advance(1);
    book.people_.push_back(person(3, 68));
    book.observer_();
    loop.advance(TQContactMgr::kChangeDelay);
    EXPECT_EQ(sent.size(), 1u);
    complete(sent[0]);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(records(sent[1]), 1u);
    EXPECT_EQ(sent[1].document["insert"]["raw_contact_list"].arrayIf()->at(0)["raw_contact"]["id"],
              Value(3));
}

}  // namespace
}  // namespace contacts_test
