#include "app/TQSendLogUtil.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <utility>

#include "db/TQDBRecords.h"
#include "http/HCURLRequestSerialization.h"
#include "http/HCURLResponseSerialization.h"
#include "listener/TQCoreManager.h"
#include "logging/LGLog.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Text.h"
#include "platform/system/DeviceInfo.h"
#include "platform/telephony/Telephony.h"
#include "utils/TQDeviceVersion.h"
#include "utils/DataAES.h"
#include "utils/DataGZip.h"
#include "utils/TQKeyChainWrapper.h"
#include "utils/TQUtils.h"

using platform::Value;

namespace {

constexpr const char* kInitialTimeStamp = "KM_initialTimeStamp";
constexpr const char* kPayloadBandwidth = "PayloadBandwidth";
constexpr const char* kSendLogQuota = "SendLogQuota";
constexpr const char* kDeviceUUID = "deviceUUID";
constexpr long kRefusedRecord = 460;
constexpr long kRefusedRecordToo = 462;

// The key generator's constants: a Lehmer multiplier, a bound that keeps every product
// inside a signed 32-bit state, a prime modulus below the bound.
constexpr std::int32_t kStart = 19790301;
constexpr std::int32_t kMultiplier = 48271;
constexpr std::int32_t kBound = 44488;
constexpr std::int32_t kModulus = 44483;
constexpr int kStirsModulo = 5;
constexpr int kDigitRange = 43;   // '0' to 'Z'
constexpr int kLetterRange = 58;  // 'A' to 'z'

std::int32_t stir(std::int32_t state) {
    if (state > kBound) {
        state %= kModulus;
    }
    return state * kMultiplier;
}

// The punctuation between the digits and the small letters, but the capitals.
bool isPunctuation(int code) {
    return (code > '9' && code < 'A') || (code > 'Z' && code < 'a');
}

std::string answerText(const HCResponseObject& answer) {
    const platform::Bytes* bytes = answer.bytesIf();
    return bytes != nullptr ? std::string(bytes->begin(), bytes->end()) : std::string();
}

}  // namespace

TQSendLogUtil::TQSendLogUtil(Environment environment)
    : loop_(environment.loop),
      defaults_(environment.defaults),
      now_(std::move(environment.now)),
      origin_(std::move(environment.origin)),
      configuration_(std::move(environment.configuration)),
      loader_(environment.loader) {
    TQDBManagerImpl::getSharedInstance().createModel(TQDBLog::tableSchema());
}

TQSendLogUtil::~TQSendLogUtil() = default;

HCURLSessionManager& TQSendLogUtil::sessionManager() {
    if (!session_) {
        session_ = std::make_unique<HCURLSessionManager>(configuration_, loader_);
        session_->setResponseSerializer(HCHTTPResponseSerializer::serializer());
    }
    return *session_;
}

std::string TQSendLogUtil::getHash(std::string_view seed) {
    std::string key;
    if (seed.empty()) {
        return key;
    }
    std::int32_t state = kStart;
    for (std::size_t i = 0; i < 16; ++i) {
        const auto code = static_cast<unsigned char>(seed[i % seed.size()]) & 0x7F;
        state += code;
        for (int n = code % kStirsModulo; n > 0; --n) {
            state = stir(state);
        }
        int out = '0' + state % kDigitRange;
        while (isPunctuation(out)) {
            state = stir(state);
            out = 'A' + state % kLetterRange;
        }
        key += static_cast<char>(out);
    }
    return key;
}

std::optional<std::string> TQSendLogUtil::encipheredHex(std::string_view text,
                                                        std::string_view key) {
    const auto enciphered = aes::aes128Encrypted(
        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), key, key);
    if (!enciphered) {
        return std::nullopt;
    }
    return platform::asciiLowercased(aes::hexadecimalString(*enciphered));
}

std::string TQSendLogUtil::getDeviceName(std::string_view machine) {
    return TQDeviceVersion::familyName(machine).value_or("NA");
}

std::optional<std::string> TQSendLogUtil::generateJSONWithType(int type) const {
    const platform::DeviceInfo& device = platform::DeviceInfo::current();
    const auto carrier = platform::Telephony::current().subscriberCarrier();
    const auto orZero = [](const std::string& code) { return code.empty() ? "0" : code; };
    const std::string localeId = device.localeIdentifier();
    const auto underscore = localeId.find('_');
    const std::string language = localeId.substr(0, underscore);
    std::string country =
        underscore == std::string::npos ? std::string() : localeId.substr(underscore + 1);
    country = country.substr(0, country.find_first_of("_@."));
    const auto group = TQUtils::getPreferenceByGroup(TQUtils::kGroupKavoInfo);
    std::string kavoModel;
    if (group) {
        if (const Value* model = group->find("kavoModelNumber"); model != nullptr) {
            kavoModel = model->stringValue().value_or("");
        }
    }
    char timestamp[32];
    std::snprintf(timestamp, sizeof timestamp, "%.0f", std::ceil(now_() * 1000));

    const Value record{
        {"svc", "kmgr"},
        {"type", type != 0 ? "appln" : "connbyusr"},
        {"data", Value{{"appver", HCClientFacts::current().shortVersion},
                       {"mcc", carrier ? orZero(carrier->mobileCountryCode) : "0"},
                       {"mnc", carrier ? orZero(carrier->mobileNetworkCode) : "0"},
                       {"locale", platform::asciiLowercased(language) + "_" +
                                      platform::asciiUppercased(country)},
                       {"model", getDeviceName(device.machineIdentifier())},
                       {"ts", std::string(timestamp)},
                       {"os", "LO"},
                       {"osver", device.systemVersion()},
                       {"kavomodel", kavoModel},
                       {"isConn", TQCoreManager::isWMSConnected() ? "1" : "0"}}},
    };
    auto text = platform::json::write(record);
    if (!text.ok()) {
        LG_ERROR("Got an error: %@", text.error().message);
        return std::nullopt;
    }
    LG_VERBOSE("%@", *text);
    return std::move(text).value();
}

void TQSendLogUtil::generateJSONForAppLaunch() {
    sendJSONLogWithType(1, getHash(kKeySeed));
}

void TQSendLogUtil::generateJSONForConnByUsr() {
    sendJSONLogWithType(0, getHash(kKeySeed));
}

void TQSendLogUtil::generateJSONForFailedLog() {
    sendJSONFailedLogWithType(getHash(kKeySeed));
}

void TQSendLogUtil::chargeBudget(float cost, bool absentStampIsZero) {
    const double now = now_();
    // Kept as "%f" would keep it: to the microsecond.
    const double stamp = std::round(now * 1e6) / 1e6;
    std::optional<double> opened = defaults_.real(kInitialTimeStamp);
    if (!opened && absentStampIsZero) {
        opened = 0;
    }
    if (!opened) {
        defaults_.set(kInitialTimeStamp, stamp);
        initialPayload_ = cost;
    } else if (now - kWindow > *opened) {
        defaults_.remove(kPayloadBandwidth);
        initialPayload_ = cost;
        defaults_.set(kInitialTimeStamp, stamp);
    } else {
        const double left = defaults_.real(kPayloadBandwidth).value_or(0);
        defaults_.set(kPayloadBandwidth, left - static_cast<double>(cost));
    }
}

bool TQSendLogUtil::budgetAllows() const {
    const auto left = defaults_.real(kPayloadBandwidth);
    return !left || *left > 0;
}

void TQSendLogUtil::giveBack(float cost) {
    const double left = defaults_.real(kPayloadBandwidth).value_or(0);
    defaults_.set(kPayloadBandwidth, left + static_cast<double>(cost));
}

void TQSendLogUtil::sendJSONLogWithType(int type, const std::string& key) {
    const auto uuid = TQKeyChainWrapper::keychainStringFromMatchingIdentifier(kDeviceUUID);
    if (!uuid) {
        return;
    }
    const auto json = generateJSONWithType(type);
    const auto recordIdentifier = encipheredHex(*uuid, key);
    if (!json || !recordIdentifier) {
        return;
    }
    const auto body = encipheredHex(*json, recordIdentifier->substr(0, 16));
    if (!body) {
        return;
    }
    TQDBLog log;
    log.encBodyStr = *body;
    if (!log.saveAsNew()) {
        LG_ERROR("TQSendLogUtil: the usage log was not stored");
        return;
    }
    const float cost = 0.6f * static_cast<float>(body->size());
    chargeBudget(cost, false);
    if (budgetAllows()) {
        post({log.ID(), *body, *recordIdentifier, false});
        return;
    }
    if (waitingCount() > kMaxStored) {
        deleteOldestWaiting();
    }
    giveBack(cost);
}

void TQSendLogUtil::sendJSONFailedLogWithType(const std::string& key) {
    const auto uuid = TQKeyChainWrapper::keychainStringFromMatchingIdentifier(kDeviceUUID);
    if (!uuid) {
        return;
    }
    const auto recordIdentifier = encipheredHex(*uuid, key);
    const auto oldest = oldestWaiting();
    if (!recordIdentifier || !oldest) {
        return;
    }
    const float cost = 0.6f * static_cast<float>(oldest->second.size());
    chargeBudget(cost, true);
    if (!budgetAllows()) {
        giveBack(cost);
        return;
    }
    post({oldest->first, oldest->second, *recordIdentifier, true});
}

void TQSendLogUtil::post(Upload upload) {
    platform::net::URLRequest request;
    request.url = origin_ + kUploadPath + upload.recordIdentifier;
    request.method = "POST";
    request.timeoutInterval = kTimeout;
    request.limits = platform::net::TransferLimits::call();
    auto zipped = gzip::compress(
        std::span(reinterpret_cast<const std::uint8_t*>(upload.body.data()), upload.body.size()));
    if (!zipped.ok()) {
        LG_ERROR("TQSendLogUtil: %@", zipped.error().message);
        return;
    }
    request.body = std::move(zipped).value();
    const auto weak = weak_.weakPtr();
    auto task = sessionManager().dataTask(
        std::move(request),
        [weak, upload](const std::optional<platform::net::URLResponse>&,
                       const HCResponseObject& answer, const std::optional<HCError>& error) {
            auto* self = weak.get();
            if (self == nullptr) {
                return;
            }
            self->inFlight_.erase(upload.row);
            if (error) {
                self->failed(upload, *error);
            } else {
                self->succeeded(upload, answer);
            }
        });
    if (!task.ok()) {
        LG_ERROR("POST Request Failed!");
        LG_ERROR("[Error] %@", task.error().message);
        return;
    }
    inFlight_.insert(upload.row);
    (*task)->resume();
}

void TQSendLogUtil::takeQuota(const HCResponseObject& answer) {
    const std::string text = answerText(answer);
    auto parsed = platform::json::parse(text);
    if (parsed.ok()) {
        if (const std::string* msg = (*parsed)["msg"].stringIf(); msg != nullptr) {
            defaults_.set(kSendLogQuota, Value(*msg).doubleValue().value_or(0) * 1000000);
        }
    }
    if (!defaults_.real(kPayloadBandwidth)) {
        defaults_.set(kPayloadBandwidth,
                      defaults_.real(kSendLogQuota).value_or(0) - initialPayload_);
    }
}

void TQSendLogUtil::succeeded(const Upload& upload, const HCResponseObject& answer) {
    LG_VERBOSE(upload.stored ? "POSTFailed Request Success!" : "POST Request Success!");
    LG_VERBOSE("%@", answerText(answer));
    takeQuota(answer);
    deleteRow(upload.row);
    logCount();
    if (!upload.stored) {
        startSendingFailedLog_ = true;
        if (waitingCount() > 0) {
            sentFailedLogCount_ = kResendRun;
            generateJSONForFailedLog();
        }
        return;
    }
    if (waitingCount() > 0 && sentFailedLogCount_ >= 2) {
        --sentFailedLogCount_;
        generateJSONForFailedLog();
    }
}

void TQSendLogUtil::failed(const Upload& upload, const HCError& error) {
    LG_ERROR("POST Request Failed!");
    LG_ERROR("[Error] %@", error.localizedDescription);
    if (upload.stored) {
        startSendingFailedLog_ = false;
        return;
    }
    if (!defaults_.object(kSendLogQuota)) {
        defaults_.remove(kPayloadBandwidth);
        defaults_.remove(kInitialTimeStamp);
    }
    // The server refused this very record: it would never be taken.
    const long status = error.response ? error.response->statusCode : error.code;
    if (status == kRefusedRecord || status == kRefusedRecordToo) {
        deleteRow(upload.row);
    }
    if (waitingCount() > kMaxStored) {
        deleteOldestWaiting();
    }
}

std::optional<std::pair<std::uint32_t, std::string>> TQSendLogUtil::oldestWaiting() const {
    const auto rows = TQDBLog::query({}, std::nullopt, {}, "ID ASC", std::nullopt, std::nullopt);
    if (!rows) {
        return std::nullopt;
    }
    for (const TQDBLog& row : *rows) {
        if (!inFlight_.contains(row.ID()) && row.encBodyStr) {
            return std::pair{row.ID(), *row.encBodyStr};
        }
    }
    return std::nullopt;
}

int TQSendLogUtil::waitingCount() const {
    int waiting = TQDBLog::count();
    for (const std::uint32_t row : inFlight_) {
        waiting -= TQDBLog::getById(row) ? 1 : 0;
    }
    return waiting;
}

void TQSendLogUtil::deleteOldestWaiting() {
    if (const auto oldest = oldestWaiting()) {
        deleteRow(oldest->first);
    }
}

void TQSendLogUtil::deleteRow(std::uint32_t row) {
    if (!TQDBLog::removeByID(row)) {
        LG_ERROR("TQSendLogUtil: the usage log %d was not deleted", row);
    }
}

void TQSendLogUtil::logCount() {
    LG_VERBOSE("count: %d", TQDBLog::count());
}
