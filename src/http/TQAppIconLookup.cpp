#include "http/TQAppIconLookup.h"

#include <utility>

#include "http/HCURLResponseSerialization.h"
#include "link/TQKMCommand.h"
#include "logging/LGLog.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Json.h"

using platform::Value;

namespace {

constexpr std::uint32_t kNotificationAppId = 7;
constexpr std::size_t kLineLength = 64;

std::optional<platform::Value> jsonOf(const Value& body) {
    const platform::Bytes* data = body.bytesIf();
    if (data == nullptr) {
        return std::nullopt;
    }
    auto parsed = platform::json::parse(
        std::string_view(reinterpret_cast<const char*>(data->data()), data->size()));
    if (!parsed.ok()) {
        return std::nullopt;
    }
    return std::move(parsed).value();
}

}  // namespace

TQAppIconLookup::TQAppIconLookup(TQAP& kavoManager, platform::RunLoop& loop,
                                 std::string_view baseAddress, platform::net::URLLoader* loader)
    : kavoManager_(kavoManager),
      loop_(loop),
      client_(
          std::make_unique<HCHTTPSessionManager>(std::string(baseAddress), std::nullopt, loader)) {
    client_->requestSerializer()->setTimeoutInterval(kTimeout);
    client_->setResponseSerializer(HCHTTPResponseSerializer::serializer());
    if (!client_->baseURL()) {
        LG_ERROR("TQAppIconLookup: %@ is no address, icons cannot be looked up",
                 std::string(baseAddress));
    }
}

TQAppIconLookup::~TQAppIconLookup() = default;

std::string TQAppIconLookup::encodeIcon(std::span<const std::uint8_t> data) {
    const std::string flat = platform::base64::encode(data);
    std::string lines;
    lines.reserve(flat.size() + flat.size() / kLineLength * 2);
    for (std::size_t at = 0; at < flat.size(); at += kLineLength) {
        if (at != 0) {
            lines += "\r\n";
        }
        lines.append(flat, at, kLineLength);
    }
    return lines;
}

std::optional<std::string> TQAppIconLookup::artworkAddress(const Value& body) {
    const auto json = jsonOf(body);
    if (!json) {
        return std::nullopt;
    }
    const platform::Array* results = (*json)["results"].arrayIf();
    if (results == nullptr || results->empty()) {
        return std::nullopt;
    }
    const std::string* address = results->front()["artworkUrl60"].stringIf();
    if (address == nullptr) {
        return std::nullopt;
    }
    return *address;
}

void TQAppIconLookup::processAppIcon(const Value& message) {
    const Value bundleId = message["bundle_id"];
    if (!client_->baseURL()) {
        answer(bundleId, Value());
        return;
    }
    ++pending_;
    const auto weak = weak_.weakPtr();
    // The serializer percent-encodes the identifier into the query.
    client_->GET(
        "lookup", Value{{"bundleId", bundleId.stringValue().value_or("")}},
        [weak, bundleId](const auto&, const HCResponseObject& body) {
            if (auto* self = weak.get()) {
                self->lookedUp(bundleId, artworkAddress(body));
            }
        },
        [weak, bundleId](const auto&, const HCError& error) {
            LG_WARN("TQAppIconLookup: lookup failed: %@", error.localizedDescription);
            if (auto* self = weak.get()) {
                self->lookedUp(bundleId, std::nullopt);
            }
        });
}

void TQAppIconLookup::lookedUp(const Value& bundleId, const std::optional<std::string>& artwork) {
    if (!artwork) {
        --pending_;
        answer(bundleId, Value());
        return;
    }
    const auto weak = weak_.weakPtr();
    client_->GET(
        *artwork, Value(),
        [weak, bundleId](const auto&, const HCResponseObject& body) {
            if (auto* self = weak.get()) {
                --self->pending_;
                const platform::Bytes* data = body.bytesIf();
                self->answer(bundleId, data != nullptr ? Value(encodeIcon(*data)) : Value());
            }
        },
        [weak, bundleId](const auto&, const HCError& error) {
            LG_WARN("TQAppIconLookup: icon not fetched: %@", error.localizedDescription);
            if (auto* self = weak.get()) {
                --self->pending_;
                self->answer(bundleId, Value());
            }
        });
}

void TQAppIconLookup::answer(const Value& bundleId, const Value& icon) {
    const Value reply{
        {"msgId", "msg_notification_app_icon_res"}, {"bundle_id", bundleId}, {"icon", icon}};
    LG_VERBOSE("%@", reply);
    TQKMCommand::processOutCommand(&kavoManager_, reply, kNotificationAppId,
                                   TQKMCommand::kNormalPriority);
}
