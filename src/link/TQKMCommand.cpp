#include "link/TQKMCommand.h"

#include <utility>

#include "link/TQAP.h"
#include "link/TQJSONParser.h"
#include "logging/LGLog.h"
#include "logging/LGRedaction.h"

namespace {

// Sends on the general channel; the encoded text's size is given to the caller's logging.
std::optional<platform::Bytes> sendGeneral(TQAP* ap, const platform::Value& dictionary) {
    auto encoded = TQJSONParser::getInstance().encodeToJSON(dictionary);
    if (ap != nullptr && encoded) {
        ap->sendData(*encoded, TQKMCommand::kNormalPriority, TQKMCommand::kGeneralAppId, true);
    }
    return encoded;
}

}  // namespace

void TQKMCommand::processOutCommand(TQAP* ap, const platform::Value& dictionary,
                                    std::uint32_t appId, std::uint32_t priority) {
    LG_DEBUG("%@", lg::redacted(dictionary));
    const auto encoded = TQJSONParser::getInstance().encodeToJSON(dictionary);
    if (ap != nullptr && encoded) {
        ap->sendData(*encoded, priority, appId, true);
    }
}

void TQKMCommand::processOutCommand(TQAP* ap, const platform::Value& dictionary) {
    processOutCommand(ap, dictionary, kFindMyDeviceAppId, kNormalPriority);
}

void TQKMCommand::processOutFile(TQAP* ap, const platform::Value& dictionary, std::string name,
                                 std::uint32_t appId) {
    auto encoded = TQJSONParser::getInstance().encodeToJSON(dictionary);
    if (ap != nullptr && encoded) {
        ap->sendFile(std::move(*encoded), std::move(name), appId, nullptr);
    }
}

std::optional<platform::Value> TQKMCommand::processInCommand(std::span<const std::uint8_t> data) {
    return TQJSONParser::getInstance().decodeFromJSON(data);
}

void TQKMCommand::sendApp(TQAP* ap, const platform::Value& dictionary) {
    sendGeneral(ap, dictionary);
}

void TQKMCommand::sendNotificationFilter(TQAP* ap, const platform::Value& dictionary) {
    sendGeneral(ap, dictionary);
}

void TQKMCommand::sendFindMyKavoCmd(TQAP* ap, const platform::Value& dictionary) {
    sendGeneral(ap, dictionary);
}

void TQKMCommand::sendFindMyDeviceCmd(TQAP* ap, const platform::Value& dictionary) {
    sendGeneral(ap, dictionary);
}

void TQKMCommand::sendProcessEmailNotification(TQAP* ap, const platform::Value& dictionary) {
    sendGeneral(ap, dictionary);
}

void TQKMCommand::sendProcessMusicControl(TQAP* ap, const platform::Value& dictionary) {
    LG_VERBOSE("JSON: %@", lg::redacted(dictionary));
    const auto encoded = sendGeneral(ap, dictionary);
    LG_VERBOSE("Music control Data size: %ld", encoded ? encoded->size() : 0);
}

void TQKMCommand::sendProcessCameraControl(TQAP* ap, const platform::Value& dictionary) {
    sendGeneral(ap, dictionary);
}

void TQKMCommand::sendProcessContactSync(TQAP* ap, const platform::Value& dictionary) {
    sendGeneral(ap, dictionary);
}

void TQKMCommand::sendProcessCalendarSync(TQAP* ap, const platform::Value& dictionary) {
    sendGeneral(ap, dictionary);
}

void TQKMCommand::sendProcessReminderSync(TQAP* ap, const platform::Value& dictionary) {
    sendGeneral(ap, dictionary);
}

void TQKMCommand::sendWebProxyData(TQAP* ap, const platform::Value& dictionary) {
    sendGeneral(ap, dictionary);
}

void TQKMCommand::sendJsonWithCmd(TQAP* ap, const platform::Value& dictionary) {
    sendGeneral(ap, dictionary);
}

void TQKMCommand::sendPhoto(TQAP* ap, const platform::Value& dictionary) {
    sendGeneral(ap, dictionary);
}

void TQKMCommand::sendWeatherData(TQAP* ap, const platform::Value& dictionary) {
    sendGeneral(ap, dictionary);
}

void TQKMCommand::sendBuddyData(TQAP* ap, const platform::Value& dictionary) {
    sendGeneral(ap, dictionary);
}
