#include "services/TQNotificationObject.h"

#include <string_view>

#include "services/TQKeyedArchive.h"

namespace {

constexpr std::string_view kClassName = "TQNotificationObject";

platform::Value text(const std::optional<std::string>& value) {
    return value ? platform::Value(*value) : platform::Value();
}

}  // namespace

platform::Bytes TQNotificationObject::encoded() const {
    return keyed_archive::encode(kClassName, {{"name", text(name)},
                                              {"identifier", text(identifier)},
                                              {"notification", notification},
                                              {"categoryid", text(categoryid)}});
}

std::optional<TQNotificationObject> TQNotificationObject::decodedWithObject(
    const platform::Value& data) {
    const auto archive = keyed_archive::decode(data, kClassName);
    if (!archive) {
        return std::nullopt;
    }
    TQNotificationObject entry;
    entry.name = archive->text("name");
    entry.identifier = archive->text("identifier");
    entry.notification = archive->value("notification").boolValue().value_or(false);
    entry.categoryid = archive->text("categoryid");
    return entry;
}
