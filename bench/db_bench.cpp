#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>

#include "Ratios.h"
#include "db/TQDBManager.h"
#include "db/TQDBRecords.h"
#include "support/TempDir.h"

namespace {

constexpr int kRecords = 10'000;

// A fresh database with the buddy table, installed as the store's.
class Store {
public:
    Store() { TQDBManager(engine_).createModel(TQDBBuddy::tableSchema()); }
    [[nodiscard]] const std::filesystem::path& path() const { return engine_.databasePath(); }

private:
    testing_support::TempDir dir_;
    TQDBManagerImpl engine_{dir_.path() / "TQA_DB.db"};
    platform::ScopedInstall<TQDBManagerImpl> install_{&engine_};
};

TQDBBuddy buddy(int i) {
    TQDBBuddy record;
    record.contactId = i;
    record.displayName = "Buddy " + std::to_string(i);
    record.sortOrder = i;
    record.modificationDate = 1700000000.5 + i;
    record.isFavorite = (i & 1) != 0;
    record.modelNumber = "SM-R5";
    return record;
}

// The reference: the same rows through SQLite's own prepared statements, bound parameters.
class Raw {
public:
    explicit Raw(const std::filesystem::path& path) {
        sqlite3_open(path.c_str(), &db_);
        sqlite3_prepare_v2(db_,
                           "INSERT INTO TQDBBuddy (contact_id, display_name, sort_order, "
                           "modification_date, isFavorite, hasPhoto, model_number) VALUES "
                           "(?, ?, ?, ?, ?, ?, ?)",
                           -1, &insert_, nullptr);
        sqlite3_prepare_v2(db_, "SELECT * FROM TQDBBuddy WHERE ID = ?", -1, &select_, nullptr);
    }
    ~Raw() {
        sqlite3_finalize(insert_);
        sqlite3_finalize(select_);
        sqlite3_close(db_);
    }
    Raw(const Raw&) = delete;
    Raw& operator=(const Raw&) = delete;

    void exec(const char* sql) { sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }
    void insert(int i) {
        const std::string name = "Buddy " + std::to_string(i);
        sqlite3_bind_int(insert_, 1, i);
        sqlite3_bind_text(insert_, 2, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(insert_, 3, i);
        sqlite3_bind_double(insert_, 4, 1700000000.5 + i);
        sqlite3_bind_int(insert_, 5, i & 1);
        sqlite3_bind_int(insert_, 6, 0);
        sqlite3_bind_text(insert_, 7, "SM-R5", -1, SQLITE_STATIC);
        sqlite3_step(insert_);
        sqlite3_reset(insert_);
    }
    // Reads every column, as the store does.
    void select(int id) {
        sqlite3_bind_int(select_, 1, id);
        while (sqlite3_step(select_) == SQLITE_ROW) {
            for (int c = 0; c < sqlite3_column_count(select_); ++c) {
                const unsigned char* text = sqlite3_column_text(select_, c);
                benchmark::DoNotOptimize(text);
            }
        }
        sqlite3_reset(select_);
    }

private:
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    sqlite3_stmt* select_ = nullptr;
};

// state.range(0): 1 runs the work in one transaction, 0 statement by statement.
void BM_StoreSave(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        Store store;
        state.ResumeTiming();
        auto work = [] {
            for (int i = 0; i < kRecords; ++i) {
                TQDBBuddy record = buddy(i);
                if (!record.save()) {
                    return false;
                }
            }
            return true;
        };
        const bool saved =
            state.range(0) != 0 ? TQDBManagerImpl::getSharedInstance().transaction(work) : work();
        if (!saved) {
            state.SkipWithError("a save failed");
        }
    }
}

void BM_RawInsert(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        Store store;
        Raw raw(store.path());
        state.ResumeTiming();
        if (state.range(0) != 0) {
            raw.exec("BEGIN");
        }
        for (int i = 0; i < kRecords; ++i) {
            raw.insert(i);
        }
        if (state.range(0) != 0) {
            raw.exec("COMMIT");
        }
    }
}

void BM_StoreGetById(benchmark::State& state) {
    Store store;
    TQDBManagerImpl::getSharedInstance().transaction([] {
        for (int i = 0; i < kRecords; ++i) {
            TQDBBuddy record = buddy(i);
            record.save();
        }
        return true;
    });
    for (auto _ : state) {
        auto work = [] {
            for (int id = 1; id <= kRecords; ++id) {
                auto record = TQDBBuddy::getById(static_cast<std::uint32_t>(id));
                benchmark::DoNotOptimize(record);
            }
            return true;
        };
        (void)(state.range(0) != 0 ? TQDBManagerImpl::getSharedInstance().transaction(work)
                                   : work());
    }
}

void BM_RawSelectById(benchmark::State& state) {
    Store store;
    {
        Raw raw(store.path());
        raw.exec("BEGIN");
        for (int i = 0; i < kRecords; ++i) {
            raw.insert(i);
        }
        raw.exec("COMMIT");
    }
    Raw raw(store.path());
    for (auto _ : state) {
        if (state.range(0) != 0) {
            raw.exec("BEGIN");
        }
        for (int id = 1; id <= kRecords; ++id) {
            raw.select(id);
        }
        if (state.range(0) != 0) {
            raw.exec("COMMIT");
        }
    }
}

BENCHMARK(BM_StoreSave)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawInsert)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StoreGetById)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawSelectById)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    const bench::Ratio ratios[] = {
        {.benchmark = "BM_StoreSave/0", .reference = "BM_RawInsert/0", .goal = 2},
        {.benchmark = "BM_StoreSave/1", .reference = "BM_RawInsert/1", .goal = 2},
        {.benchmark = "BM_StoreGetById/0", .reference = "BM_RawSelectById/0", .goal = 2},
        {.benchmark = "BM_StoreGetById/1", .reference = "BM_RawSelectById/1", .goal = 2},
    };
    return bench::runWithRatios(argc, argv, ratios);
}
