#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "db/TQDBManagerImpl.h"
#include "db/TQDBQueryBuilder.h"
#include "db/TQDBSchema.h"

// A stored record: a value with an ID (0 until it is stored) and the properties its class
// declares in its schema. Records use the shared engine (TQDBManagerImpl::getSharedInstance).
class TQDBObject {
public:
    virtual ~TQDBObject() = default;

    [[nodiscard]] virtual const TQDBSchema& schema() const = 0;

    [[nodiscard]] std::uint32_t ID() const { return id_; }
    void setID(std::uint32_t id) { id_ = id; }

    bool save();
    bool saveAsNew();
    bool remove();

protected:
    TQDBObject() = default;
    TQDBObject(const TQDBObject&) = default;
    TQDBObject& operator=(const TQDBObject&) = default;
    TQDBObject(TQDBObject&&) = default;
    TQDBObject& operator=(TQDBObject&&) = default;

private:
    std::uint32_t id_ = 0;
};

// The operations on the table of the record class Derived, which declares
//   static const TQDBSchema& tableSchema();
template <typename Derived>
class TQDBRecord : public TQDBObject {
public:
    using Args = TQDBQueryBuilder::Args;
    using TQDBObject::remove;

    [[nodiscard]] const TQDBSchema& schema() const override { return Derived::tableSchema(); }
    [[nodiscard]] static const std::string& tableName() { return Derived::tableSchema().table; }

    static std::optional<Derived> getById(std::uint32_t id) {
        return engine().template getById<Derived>(id);
    }
    static std::optional<std::vector<Derived>> getAll() {
        auto text = TQDBQueryBuilder::formSelectQuery(tableName(), {}, std::nullopt, {},
                                                      std::nullopt, std::nullopt);
        return rawQuery(*text);
    }
    // With a limit, "offset, limit" (offset 0 when none); without one the offset is not used.
    static std::optional<std::vector<Derived>> query(std::span<const std::string> columns,
                                                     std::optional<std::string_view> selection,
                                                     const Args& selectionArgs,
                                                     std::optional<std::string_view> orderBy,
                                                     std::optional<std::uint64_t> offset,
                                                     std::optional<std::uint64_t> limit) {
        auto text =
            TQDBQueryBuilder::formSelectQuery(tableName(), columns, selection, selectionArgs,
                                              orderBy, TQDBQueryBuilder::limitText(offset, limit));
        if (!text) {
            return std::nullopt;
        }
        return rawQuery(*text);
    }
    static std::optional<std::vector<Derived>> rawQuery(std::string_view text) {
        return engine().template rawSelectQuery<Derived>(text);
    }
    // The pairs in the caller's order.
    static bool update(const TQDBRow& values, std::optional<std::string_view> where,
                       const Args& whereArgs) {
        return engine().update(tableName(), values, where, whereArgs);
    }
    static bool removeByID(std::uint32_t id) {
        Derived record;
        record.setID(id);
        return record.remove();
    }
    // Removes each in turn; true only when every one was removed.
    static bool removeEntities(std::span<Derived> records) {
        bool all = true;
        for (auto& record : records) {
            all = record.remove() && all;
        }
        return all;
    }
    static bool remove(std::optional<std::string_view> where, const Args& whereArgs) {
        auto text = TQDBQueryBuilder::formDeleteQuery(tableName(), where, whereArgs);
        return text && engine().rawDeleteQuery(*text);
    }
    static bool removeAll() { return remove(std::nullopt, {}); }
    static std::uint32_t count(std::optional<std::string_view> where, const Args& whereArgs,
                               bool isDistinct) {
        auto text = TQDBQueryBuilder::formCountQuery(tableName(), std::nullopt, std::nullopt,
                                                     isDistinct, where, whereArgs);
        return text ? engine().rawCountQuery(*text) : 0;
    }

protected:
    TQDBRecord() = default;

private:
    static TQDBManagerImpl& engine() { return TQDBManagerImpl::getSharedInstance(); }
};
