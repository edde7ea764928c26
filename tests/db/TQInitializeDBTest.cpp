#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "db/DBFixture.h"
#include "db/TQDBManager.h"
#include "db/TQDBRecords.h"
#include "db/TQInitializeDB.h"
#include "link/TQAP.h"
#include "link/TQBleManager.h"
#include "platform/bluetooth/AbsentRadio.h"
#include "platform/bluetooth/Adapter.h"
#include "platform/foundation/RunLoop.h"

namespace db_test {
namespace {

// Stands in for the template service: records its calls and keeps the current model's two
// predefined quick replies as that service would.
class Templates final : public TQTextTemplateHandler {
public:
    void initializeCallRejectionDataToKavo(TQAP&, bool, bool) override {}
    void initializeGeneralMessageDataToKavo(TQAP&, bool needToDelete,
                                            bool needToInsertTemplate) override {
        calls.push_back({needToDelete, needToInsertTemplate});
        if (needToDelete) {
            TQDBGeneralMessage::deleteForThisModelNumber();
        }
        if (needToInsertTemplate) {
            for (int i = 0; i < 2; ++i) {
                TQDBGeneralMessage message;
                message.templateId = i;
                message.body = "text " + std::to_string(i);
                message.modelNumber = currentKavoModelNumber();
                message.save();
            }
        }
    }
    std::vector<std::pair<bool, bool>> calls;
};

class Weather final : public TQWeatherHandler {
public:
    void processWeatherAck(TQAP&) override {}
    void sendSettingData(TQAP&) override {}
    void createWeatherNotification() override {}
    void initializeWeatherDataIfIsNeedToDelete(bool needToDelete) override {
        resets += needToDelete ? 1 : 0;
    }
    int resets = 0;
};

class TQInitializeDBTest : public DBTest {
protected:
    TQInitializeDBTest() {
        handlers_.textTemplates = &templates_;
        handlers_.weather = &weather_;
    }

    void connect(const std::string& model, const std::string& device) {
        setModel(model);
        defaults_.set("deviceUUID", device);
    }
    void addBuddy(const std::string& model) {
        TQDBBuddy buddy;
        buddy.displayName = "buddy of " + model;
        buddy.modelNumber = model;
        ASSERT_TRUE(buddy.save());
    }
    platform::Dictionary decision(bool needDelete, bool needInsert) {
        return {{"needDeleteForThisModelNumber", needDelete},
                {"needToInsertTemplateData", needInsert}};
    }
    // "model:device" of each history entry.
    std::vector<std::string> history() {
        std::vector<std::string> out;
        if (const auto list = defaults_.object("device_history"); list && list->isArray()) {
            for (const auto& entry : *list->arrayIf()) {
                out.push_back(*entry["model_number"].stringIf() + ":" +
                              *entry["device_uuid"].stringIf() +
                              (entry.find("pending_insert") ? " pending" : ""));
            }
        }
        return out;
    }

    platform::RunLoop loop_{platform::RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop installLoop_{loop_};
    platform::bluetooth::Adapter adapter_{std::make_unique<platform::bluetooth::AbsentRadio>(),
                                          loop_};
    TQBleManager bleManager_{adapter_};
    TQAP ap_{bleManager_, loop_, defaults_};
    Templates templates_;
    Weather weather_;
    TQHandlers handlers_;
    TQInitializeDB setup_{defaults_, handlers_};
};

TEST_F(TQInitializeDBTest, NothingWithoutAModelOrADevice) {
    EXPECT_TRUE(setup_.checkIfNeedToDeleteOrInsertTemplateData().empty());
    setModel("A");
    EXPECT_TRUE(setup_.checkIfNeedToDeleteOrInsertTemplateData().empty());
    setup_.checkAndDoInitializeWithKavoManager(ap_);
    EXPECT_TRUE(templates_.calls.empty());
    EXPECT_FALSE(defaults_.object("device_history").has_value());
    EXPECT_FALSE(std::filesystem::exists(engine_.databasePath()));
}

// One phone meets, in turn: its first watch, that watch again, another watch of the same
// model, and a watch of another model.
TEST_F(TQInitializeDBTest, EachWatchGetsTheDataOfItsModel) {
    struct Step {
        const char* what;
        const char* model;
        const char* device;
        bool needDelete;
        bool needInsert;
        std::vector<std::string> history;
        // "model:body" of every template row, and the models of the buddy rows, after it.
        std::vector<std::string> templates;
        std::vector<std::string> buddies;
    };
    TQDBManager::getSharedInstance().createModel(TQDBBuddy::tableSchema());
    addBuddy("A");
    addBuddy("B");
    const Step steps[] = {
        {"first watch", "A", "1", false, true, {"A:1"}, {"A:text 0", "A:text 1"}, {"A", "B"}},
        {"same watch again", "A", "1", false, false, {"A:1"}, {"A:text 0", "A:text 1"}, {"A", "B"}},
        {"same model, another watch",
         "A",
         "2",
         true,
         true,
         {"A:2"},
         {"A:text 0", "A:text 1"},
         {"B"}},
        {"another model",
         "B",
         "3",
         false,
         true,
         {"A:2", "B:3"},
         {"A:text 0", "A:text 1", "B:text 0", "B:text 1"},
         {"B"}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        connect(step.model, step.device);
        templates_.calls.clear();
        // The core manager asks first; the decision stands until the initialisation ran.
        EXPECT_EQ(setup_.checkIfNeedToDeleteOrInsertTemplateData(),
                  decision(step.needDelete, step.needInsert));
        EXPECT_EQ(setup_.needsInitialization(), step.needDelete || step.needInsert);
        setup_.checkAndDoInitializeWithKavoManager(ap_);
        EXPECT_EQ(templates_.calls,
                  (std::vector<std::pair<bool, bool>>{{step.needDelete, step.needInsert}}));
        EXPECT_EQ(history(), step.history);
        EXPECT_FALSE(setup_.needsInitialization());
        EXPECT_EQ(shell("SELECT model_number || ':' || body FROM TQDBGeneralMessage ORDER BY "
                        "model_number, _id"),
                  step.templates);
        EXPECT_EQ(shell("SELECT model_number FROM TQDBBuddy ORDER BY model_number"), step.buddies);
        EXPECT_EQ(defaults_.string("IS_DB_INITIALIZATION_DONE"), "YES");
    }
    EXPECT_EQ(weather_.resets, 1);
}

TEST_F(TQInitializeDBTest, WithoutTheTemplateServiceTheModelStaysPending) {
    handlers_.textTemplates = nullptr;
    connect("A", "1");
    setup_.checkAndDoInitializeWithKavoManager(ap_);
    EXPECT_EQ(history(), std::vector<std::string>{"A:1 pending"});
    EXPECT_FALSE(defaults_.object("IS_DB_INITIALIZATION_DONE").has_value());
    handlers_.textTemplates = &templates_;
    setup_.checkAndDoInitializeWithKavoManager(ap_);
    EXPECT_EQ(templates_.calls, (std::vector<std::pair<bool, bool>>{{false, true}}));
    EXPECT_EQ(history(), std::vector<std::string>{"A:1"});
}

// A history written before entries had their pending marks counts as set up.
TEST_F(TQInitializeDBTest, AnEarlierHistoryEntryIsSetUp) {
    defaults_.set("device_history", platform::Value(platform::Array{platform::Value{
                                        {"model_number", "A"}, {"device_uuid", "1"}}}));
    connect("A", "1");
    EXPECT_EQ(setup_.checkIfNeedToDeleteOrInsertTemplateData(), decision(false, false));
}

}  // namespace
}  // namespace db_test
