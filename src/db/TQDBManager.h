#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "db/TQDBManagerImpl.h"

// What screens and services use to make tables and relationships and to run statements on
// plain dictionaries: a thin view of an engine.
class TQDBManager {
public:
    using Args = TQDBQueryBuilder::Args;

    explicit TQDBManager(TQDBManagerImpl& engine) : engine_(engine) {}
    // Over the shared engine.
    static TQDBManager getSharedInstance() {
        return TQDBManager(TQDBManagerImpl::getSharedInstance());
    }

    bool createModel(const TQDBSchema& schema) { return engine_.createModel(schema); }
    bool createRelationship(int kind, std::string_view class1, std::string_view class2,
                            std::span<const TQDBColumnDef> extraColumns) {
        return engine_.createRelationship(kind, class1, class2, extraColumns);
    }
    [[nodiscard]] std::optional<std::string> getJoinTableName(std::string_view class1,
                                                              std::string_view class2) const {
        return engine_.getJoinTableName(class1, class2);
    }
    std::optional<std::vector<platform::Dictionary>> rawSelectQuery(std::string_view text) {
        return engine_.rawSelectQuery(text);
    }
    bool insert(std::string_view table, const TQDBRow& values) {
        return engine_.insert(table, values);
    }
    bool remove(std::string_view table, std::optional<std::string_view> where,
                const Args& whereArgs) {
        return engine_.remove(table, where, whereArgs);
    }
    [[nodiscard]] std::int64_t getLastInsertId() { return engine_.getLastInsertId(); }
    // The pairs in the caller's order.
    bool update(std::string_view table, const TQDBRow& values,
                std::optional<std::string_view> where, const Args& whereArgs) {
        return engine_.update(table, values, where, whereArgs);
    }
    // With a limit, "offset, limit" (offset 0 when none); without one the offset is not used.
    std::optional<std::vector<platform::Dictionary>> query(
        std::string_view table, std::span<const std::string> columns,
        std::optional<std::string_view> selection, const Args& selectionArgs,
        std::optional<std::string_view> orderBy, std::optional<std::uint64_t> offset,
        std::optional<std::uint64_t> limit);

private:
    TQDBManagerImpl& engine_;
};
