#include "db/TQDBManager.h"

std::optional<std::vector<platform::Dictionary>> TQDBManager::query(
    std::string_view table, std::span<const std::string> columns,
    std::optional<std::string_view> selection, const Args& selectionArgs,
    std::optional<std::string_view> orderBy, std::optional<std::uint64_t> offset,
    std::optional<std::uint64_t> limit) {
    auto text = TQDBQueryBuilder::formSelectQuery(table, columns, selection, selectionArgs, orderBy,
                                                  TQDBQueryBuilder::limitText(offset, limit));
    if (!text) {
        return std::nullopt;
    }
    return engine_.rawSelectQuery(*text);
}
