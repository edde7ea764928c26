#include "services/contacts/TQBuddyUtil.h"

#include <utility>

#include "db/TQDBManager.h"
#include "db/TQDBManagerImpl.h"
#include "db/TQDBRecords.h"
#include "link/TQAP.h"
#include "link/TQKMCommand.h"
#include "logging/LGLog.h"
#include "platform/foundation/Base64.h"
#include "platform/image/Canvas.h"
#include "platform/image/Decode.h"
#include "services/contacts/TQContactFile.h"

using platform::Value;

namespace {

void photoEvent(int code, const Value& info) {
    switch (code) {
        case 1:
            LG_VERBOSE("[TQBuddyUtil]: Buddy Photo File Accepted");
            break;
        case 2:
            LG_VERBOSE("[TQBuddyUtil]: Buddy Photo File Rejected");
            break;
        case 3:
            LG_VERBOSE("[TQBuddyUtil]: Buddy Photo File Progress - %lf",
                       info["progress"].doubleValue().value_or(0));
            break;
        case 5:
            LG_VERBOSE("[TQBuddyUtil]: Buddy Photo File Error");
            break;
        case 6:
            LG_VERBOSE("[TQBuddyUtil]: Buddy Photo File Resume Accepted");
            break;
        case 7:
            LG_VERBOSE("[TQBuddyUtil]: Buddy Photo File Resume Rejected");
            break;
        default:
            break;
    }
}

// Takes the person's values over into the buddy and its number rows; false when the person
// has no number left and the buddy went.
bool takeOver(TQDBBuddy& buddy, const platform::contacts::Person& person, double modified,
              const std::string& model) {
    buddy.firstName = person.firstName;
    buddy.middleName = person.middleName;
    buddy.lastName = person.lastName;
    buddy.company = person.organization;
    buddy.modificationDate = modified;
    buddy.modelNumber = model;
    // A picture removed from the contact leaves the buddy too.
    buddy.photoData =
        person.imageData ? TQBuddyUtil::preparePhoto(*person.imageData) : std::nullopt;
    buddy.hasPhoto = buddy.photoData.has_value();
    buddy.displayName = TQContactFile::generateName(
        {buddy.firstName, buddy.middleName, buddy.lastName, buddy.company});
    buddy.save();
    // A save keeps the stored text of a value that is none: what the contact lost is cleared
    // apart.
    TQDBRow cleared;
    const std::pair<const char*, const std::optional<std::string>*> texts[] = {
        {"display_name", &buddy.displayName}, {"first_name", &buddy.firstName},
        {"middle_name", &buddy.middleName},   {"last_name", &buddy.lastName},
        {"company", &buddy.company},          {"photo_data", &buddy.photoData}};
    for (const auto& [column, value] : texts) {
        if (!*value) {
            cleared.emplace_back(column, nullptr);
        }
    }
    if (!cleared.empty()) {
        TQDBBuddy::update(cleared, "ID = ?", {TQDBValue(std::to_string(buddy.ID()))});
    }

    TQDBuddyNumber::deleteForThisModelNumberByContactId(buddy.contactId);
    if (person.phones.empty()) {
        buddy.remove();
        return false;
    }
    for (const auto& phone : person.phones) {
        TQDBuddyNumber number;
        number.type = TQContactFile::phoneType(phone.kind);
        number.number = TQContactFile::cleanNumber(phone.value);
        number.contactId = buddy.contactId;
        number.modelNumber = model;
        number.save();
    }
    return true;
}

}  // namespace

TQBuddyUtil::Sender TQBuddyUtil::Sender::over(std::function<TQAP*()> link) {
    return {[link](const Value& message) {
                if (TQAP* ap = link()) {
                    TQKMCommand::processOutCommand(ap, message, kAppId, kPriority);
                }
            },
            [link](platform::Bytes data, std::string name, TQFileSendEvent event) {
                if (TQAP* ap = link()) {
                    ap->sendFile(std::move(data), std::move(name), kAppId, std::move(event));
                }
            }};
}

TQBuddyUtil::TQBuddyUtil(platform::contacts::AddressBook& addressBook,
                         platform::Permissions& permissions, platform::RunLoop& loop,
                         platform::DispatchQueue& work, Sender sender)
    : addressBook_(addressBook),
      permissions_(permissions),
      loop_(loop),
      work_(work),
      sender_(std::move(sender)) {}

void TQBuddyUtil::performNativeSync() {
    const bool granted =
        permissions_.decision(platform::Feature::contacts) == platform::Decision::granted;
    if (granted) {
        LG_VERBOSE("Sync Buddy is authorized and start perform");
    } else {
        LG_VERBOSE("TQBuddyUtil: no address-book permission, the stored buddies are sent");
    }
    // Only the book (which outlives the queue's work) and a weak pointer cross to the queue.
    work_.async([book = &addressBook_, granted, weak = weak_.weakPtr(), loop = &loop_] {
        if (granted) {
            syncWithNativeAddressBook(*book);
        }
        loop->post([weak, response = buildResponse("contacts-getbuddy-rsp")]() mutable {
            if (auto* self = weak.get()) {
                self->send(std::move(response));
            }
        });
    });
}

void TQBuddyUtil::sendAllBuddyResponse(std::string_view msgId) {
    work_.async([weak = weak_.weakPtr(), loop = &loop_, msgId = std::string(msgId)] {
        loop->post([weak, response = buildResponse(msgId)]() mutable {
            if (auto* self = weak.get()) {
                self->send(std::move(response));
            }
        });
    });
}

void TQBuddyUtil::send(Response response) {
    sender_.sendMessage(response.message);
    for (Photo& photo : response.photos) {
        sender_.sendFile(std::move(photo.data), std::move(photo.name), &photoEvent);
    }
}

bool TQBuddyUtil::syncWithNativeAddressBook(platform::contacts::AddressBook& addressBook) {
    const auto model = currentKavoModelNumber();
    if (!model) {
        return false;
    }
    bool changed = false;
    // The screens write the same rows; the lock keeps a refresh whole against them.
    TQDBManagerImpl::getSharedInstance().transaction([&] {
        TQDBManager database = TQDBManager::getSharedInstance();
        database.createModel(TQDBBuddy::tableSchema());
        database.createModel(TQDBuddyNumber::tableSchema());
        database.createRelationship(1, TQDBBuddy::tableName(), TQDBuddyNumber::tableName(), {});
        for (TQDBBuddy& buddy : TQDBBuddy::getAllForThisModelNumberInOrdered().value_or(
                 std::vector<TQDBBuddy>())) {
            LG_VERBOSE("Address Book access authorized");
            const auto person = addressBook.personWithIdentifier(buddy.contactId);
            if (!person) {
                TQDBuddyNumber::deleteForThisModelNumberByContactId(buddy.contactId);
                buddy.remove();
                changed = true;
                continue;
            }
            LG_VERBOSE("TQBuddyUtil: modificationDate - %@",
                       person->modificationDate ? Value(platform::Date{*person->modificationDate})
                                                : Value());
            if (!person->modificationDate) {
                continue;
            }
            const double modified = *person->modificationDate;
            LG_VERBOSE("TQBuddyUtil: lastModificationDate - %lf", modified);
            if (modified == buddy.modificationDate) {
                continue;
            }
            changed = true;
            takeOver(buddy, *person, modified, *model);
        }
        return true;
    });
    return changed;
}

TQBuddyUtil::Response TQBuddyUtil::buildResponse(std::string_view msgId) {
    Response response;
    platform::Array buddyList;
    platform::Array records;
    TQDBManagerImpl::getSharedInstance().transaction([&] {
        const auto buddies =
            TQDBBuddy::getAllForThisModelNumberInOrdered().value_or(std::vector<TQDBBuddy>());
        for (const TQDBBuddy& buddy : buddies) {
            buddyList.push_back(Value{{"contact_id", buddy.contactId}});
            TQContactFile::Buddy entry{buddy.contactId,
                                       buddy.displayName,
                                       {buddy.firstName, buddy.middleName, buddy.lastName,
                                        buddy.company},
                                       buddy.photoData.has_value(),
                                       {}};
            for (const auto& number :
                 TQDBuddyNumber::getAllForThisModelNumberWithContactId(buddy.contactId)
                     .value_or(std::vector<TQDBuddyNumber>())) {
                entry.numbers.push_back({number.number, number.type});
            }
            records.push_back(TQContactFile::buddyRecord(entry));
            if (buddy.photoData) {
                if (auto bytes = platform::base64::decode(*buddy.photoData)) {
                    response.photos.push_back(
                        {"photo_" + std::to_string(buddy.contactId) + ".jpg", std::move(*bytes)});
                }
            }
        }
        return true;
    });
    const auto count = static_cast<std::int64_t>(records.size());
    response.message = Value{{"msgId", msgId},
                             {"requestId", 0},
                             {"buddyList", Value(std::move(buddyList))},
                             {"rawContacts", Value{{"number_of_raw_contacts", count},
                                                   {"raw_contact_list", Value(std::move(records))}}}};
    return response;
}

std::optional<std::string> TQBuddyUtil::preparePhoto(const platform::Bytes& imageData) {
    auto image = platform::image::decodeImage(imageData);
    if (!image.ok() || image.value().isNull()) {
        LG_WARN("TQBuddyUtil: a contact picture that does not decode is not kept");
        return std::nullopt;
    }
    const auto size = image.value().size();
    if (size.width <= kPhotoSide && size.height <= kPhotoSide) {
        return platform::base64::encode(imageData);
    }
    auto canvas = platform::image::Canvas::create({kPhotoSide, kPhotoSide}, 1.0, true);
    if (!canvas.ok()) {
        return std::nullopt;
    }
    canvas.value().draw(image.value(), {0, 0, kPhotoSide, kPhotoSide});
    auto jpeg = platform::image::encodeJPEG(canvas.value().image().bitmap(), kPhotoQuality);
    if (!jpeg.ok()) {
        LG_WARN("TQBuddyUtil: a contact picture could not be encoded: %@", jpeg.error().message);
        return std::nullopt;
    }
    return platform::base64::encode(jpeg.value());
}
