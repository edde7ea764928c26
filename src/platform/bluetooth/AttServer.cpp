#include "platform/bluetooth/AttServer.h"

#include <algorithm>
#include <cstdio>

namespace platform::bluetooth {

namespace {

bool readable(const GattAttribute& attribute) {
    return has(attribute.permissions, AttributePermissions::readable) ||
           has(attribute.permissions, AttributePermissions::readEncryptionRequired);
}

// Every link of the air counts as paired, so the encryption-required permissions are met.
bool writeable(const GattAttribute& attribute) {
    return has(attribute.permissions, AttributePermissions::writeable) ||
           has(attribute.permissions, AttributePermissions::writeEncryptionRequired);
}

std::string opcodeText(std::uint8_t opcode) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(opcode));
    return text;
}

}  // namespace

AttServer::AttServer(const GattDatabase& database, Host& host, std::uint16_t localMtu)
    : database_(database), host_(host), localMtu_(att::clampMtu(localMtu)) {}

std::optional<std::string> AttServer::checkShape(std::span<const std::uint8_t> pdu) {
    const std::uint8_t opcode = pdu[0];
    if (att::isServerToClient(opcode) || opcode == att::handleValueConfirmation) {
        return "unexpected PDU " + opcodeText(opcode) + " from a client";
    }
    bool fits = true;
    switch (opcode) {
        case att::exchangeMtuRequest:
        case att::readRequest:
            fits = pdu.size() == 3;
            break;
        case att::findInformationRequest:
            fits = pdu.size() == 5;
            break;
        case att::readByTypeRequest:
        case att::readByGroupTypeRequest:
            fits = pdu.size() == 7 || pdu.size() == 21;
            break;
        case att::writeRequest:
        case att::writeCommand:
            fits = pdu.size() >= 3;
            break;
        default:
            break;
    }
    if (!fits) {
        return "malformed PDU " + opcodeText(opcode) + " of " + std::to_string(pdu.size()) +
               " bytes";
    }
    return std::nullopt;
}

std::optional<std::string> AttServer::receive(std::span<const std::uint8_t> pdu) {
    if (pdu.empty()) {
        return "empty PDU";
    }
    if (pdu.size() > mtu_) {
        return "PDU of " + std::to_string(pdu.size()) + " bytes exceeds the MTU of " +
               std::to_string(mtu_);
    }
    if (auto bad = checkShape(pdu)) {
        return bad;
    }
    if (att::isCommand(pdu[0]) || !awaiting_) {
        process(pdu);
        return std::nullopt;
    }
    if (held_.size() >= kMaxHeldRequests) {
        return "too many requests without waiting for the responses";
    }
    held_.emplace_back(pdu.begin(), pdu.end());
    return std::nullopt;
}

void AttServer::respondToRead(AttError result, std::span<const std::uint8_t> value) {
    if (awaiting_ != att::readRequest) {
        return;
    }
    awaiting_.reset();
    if (result == AttError::success) {
        const std::size_t length = std::min<std::size_t>(value.size(), mtu_ - 1u);
        host_.sendPdu(att::Writer(att::readResponse).bytes(value.first(length)).take());
    } else {
        sendError(att::readRequest, awaitingHandle_, result);
    }
    drainHeld();
}

void AttServer::respondToWrite(AttError result) {
    if (awaiting_ != att::writeRequest) {
        return;
    }
    awaiting_.reset();
    if (result == AttError::success) {
        host_.sendPdu(att::Writer(att::writeResponse).take());
    } else {
        sendError(att::writeRequest, awaitingHandle_, result);
    }
    drainHeld();
}

bool AttServer::isSubscribed(std::uint16_t valueHandle) const {
    return std::find(subscriptions_.begin(), subscriptions_.end(), valueHandle) !=
           subscriptions_.end();
}

Bytes AttServer::notification(std::uint16_t valueHandle, std::span<const std::uint8_t> value) {
    return att::Writer(att::handleValueNotification).u16(valueHandle).bytes(value).take();
}

void AttServer::drainHeld() {
    while (!awaiting_ && !held_.empty()) {
        const Bytes pdu = std::move(held_.front());
        held_.pop_front();
        process(pdu);
    }
}

void AttServer::sendError(std::uint8_t opcode, std::uint16_t handle, AttError code) {
    host_.sendPdu(att::makeErrorResponse(opcode, handle, code));
}

Bytes AttServer::storedValue(const GattAttribute& attribute) const {
    if (attribute.kind == GattAttribute::Kind::clientConfiguration) {
        return {static_cast<std::uint8_t>(isSubscribed(attribute.valueHandle) ? 1 : 0), 0};
    }
    return attribute.value;
}

void AttServer::process(std::span<const std::uint8_t> pdu) {
    att::Reader in(pdu);
    const std::uint8_t opcode = in.u8();
    switch (opcode) {
        case att::exchangeMtuRequest:
            exchangeMtu(in);
            break;
        case att::findInformationRequest:
            findInformation(in);
            break;
        case att::readByGroupTypeRequest:
            readByGroupType(in, pdu.size() - 5);
            break;
        case att::readByTypeRequest:
            readByType(in, pdu.size() - 5);
            break;
        case att::readRequest:
            read(in);
            break;
        case att::writeRequest:
            write(in, true);
            break;
        case att::writeCommand:
            write(in, false);
            break;
        default:
            // Commands we do not know are ignored; requests we do not serve get an answer.
            if (!att::isCommand(opcode)) {
                sendError(opcode, 0, AttError::requestNotSupported);
            }
            break;
    }
}

void AttServer::exchangeMtu(att::Reader& in) {
    const std::uint16_t clientMtu = in.u16();
    // The MTU is settled once per connection; a repeated request only learns ours again.
    if (!mtuExchanged_) {
        mtuExchanged_ = true;
        mtu_ = att::clampMtu(std::min(clientMtu, localMtu_));
    }
    host_.sendPdu(att::Writer(att::exchangeMtuResponse).u16(localMtu_).take());
}

void AttServer::findInformation(att::Reader& in) {
    const std::uint16_t start = in.u16();
    const std::uint16_t end = in.u16();
    if (start == 0 || start > end) {
        sendError(att::findInformationRequest, start, AttError::invalidHandle);
        return;
    }
    const auto attributes = database_.attributes();
    att::Writer out(att::findInformationResponse);
    std::uint8_t format = 0;
    for (std::size_t h = start; h <= end && h <= attributes.size(); ++h) {
        const GattAttribute& attribute = attributes[h - 1];
        const std::uint8_t entryFormat = attribute.type.isShort() ? 1 : 2;
        if (format == 0) {
            format = entryFormat;
            out.u8(format);
        } else if (entryFormat != format) {
            break;
        }
        const std::size_t entryLength = format == 1 ? 4 : 18;
        if (out.size() + entryLength > mtu_) {
            break;
        }
        out.u16(attribute.handle).uuid(attribute.type);
    }
    if (format == 0) {
        sendError(att::findInformationRequest, start, AttError::attributeNotFound);
        return;
    }
    host_.sendPdu(out.take());
}

void AttServer::readByGroupType(att::Reader& in, std::size_t typeLength) {
    const std::uint16_t start = in.u16();
    const std::uint16_t end = in.u16();
    const auto type = Uuid::fromLittleEndian(in.bytes(typeLength));
    if (start == 0 || start > end) {
        sendError(att::readByGroupTypeRequest, start, AttError::invalidHandle);
        return;
    }
    if (!type || (*type != Uuid::fromShort(att::kPrimaryService) &&
                  *type != Uuid::fromShort(att::kSecondaryService))) {
        sendError(att::readByGroupTypeRequest, start, AttError::unsupportedGroupType);
        return;
    }
    const auto attributes = database_.attributes();
    att::Writer out(att::readByGroupTypeResponse);
    std::size_t entryLength = 0;
    for (std::size_t h = start; h <= end && h <= attributes.size(); ++h) {
        const GattAttribute& attribute = attributes[h - 1];
        if (attribute.kind != GattAttribute::Kind::service || attribute.type != *type) {
            continue;
        }
        const std::size_t length = 4 + attribute.value.size();
        if (entryLength == 0) {
            entryLength = length;
            out.u8(static_cast<std::uint8_t>(length));
        } else if (length != entryLength) {
            break;
        }
        if (out.size() + length > mtu_) {
            break;
        }
        out.u16(attribute.handle).u16(attribute.groupEnd).bytes(attribute.value);
    }
    if (entryLength == 0) {
        sendError(att::readByGroupTypeRequest, start, AttError::attributeNotFound);
        return;
    }
    host_.sendPdu(out.take());
}

void AttServer::readByType(att::Reader& in, std::size_t typeLength) {
    const std::uint16_t start = in.u16();
    const std::uint16_t end = in.u16();
    const auto type = Uuid::fromLittleEndian(in.bytes(typeLength));
    if (start == 0 || start > end || !type) {
        sendError(att::readByTypeRequest, start, AttError::invalidHandle);
        return;
    }
    const auto attributes = database_.attributes();
    att::Writer out(att::readByTypeResponse);
    std::size_t entryLength = 0;
    const std::size_t maxValue = std::min<std::size_t>(mtu_ - 4u, 253);
    for (std::size_t h = start; h <= end && h <= attributes.size(); ++h) {
        const GattAttribute& attribute = attributes[h - 1];
        if (attribute.type != *type) {
            continue;
        }
        if (attribute.kind == GattAttribute::Kind::value &&
            (attribute.dynamic || !readable(attribute))) {
            // Values the application answers are read one by one with Read Requests.
            if (entryLength == 0) {
                sendError(
                    att::readByTypeRequest, attribute.handle,
                    attribute.dynamic ? AttError::requestNotSupported : AttError::readNotPermitted);
                return;
            }
            break;
        }
        Bytes value = storedValue(attribute);
        value.resize(std::min(value.size(), maxValue));
        const std::size_t length = 2 + value.size();
        if (entryLength == 0) {
            entryLength = length;
            out.u8(static_cast<std::uint8_t>(length));
        } else if (length != entryLength) {
            break;
        }
        if (out.size() + length > mtu_) {
            break;
        }
        out.u16(attribute.handle).bytes(value);
    }
    if (entryLength == 0) {
        sendError(att::readByTypeRequest, start, AttError::attributeNotFound);
        return;
    }
    host_.sendPdu(out.take());
}

void AttServer::read(att::Reader& in) {
    const std::uint16_t handle = in.u16();
    const GattAttribute* attribute = database_.find(handle);
    if (attribute == nullptr) {
        sendError(att::readRequest, handle, AttError::invalidHandle);
        return;
    }
    if (attribute->kind == GattAttribute::Kind::value) {
        if (!readable(*attribute)) {
            sendError(att::readRequest, handle, AttError::readNotPermitted);
            return;
        }
        if (attribute->dynamic) {
            awaiting_ = att::readRequest;
            awaitingHandle_ = handle;
            host_.readRequested(*attribute);
            return;
        }
    }
    const Bytes value = storedValue(*attribute);
    const std::size_t length = std::min<std::size_t>(value.size(), mtu_ - 1u);
    host_.sendPdu(att::Writer(att::readResponse).bytes(std::span(value).first(length)).take());
}

void AttServer::write(att::Reader& in, bool withResponse) {
    const std::uint16_t handle = in.u16();
    const auto data = in.rest();
    const std::uint8_t opcode = withResponse ? att::writeRequest : att::writeCommand;
    const auto refuse = [&](AttError code) {
        if (withResponse) {
            sendError(opcode, handle, code);
        }
    };
    const GattAttribute* attribute = database_.find(handle);
    if (attribute == nullptr) {
        refuse(AttError::invalidHandle);
        return;
    }
    switch (attribute->kind) {
        case GattAttribute::Kind::service:
        case GattAttribute::Kind::characteristic:
            refuse(AttError::writeNotPermitted);
            return;
        case GattAttribute::Kind::clientConfiguration:
            configure(*attribute, data, withResponse);
            return;
        case GattAttribute::Kind::value:
            break;
    }
    if (!attribute->dynamic || !writeable(*attribute)) {
        refuse(AttError::writeNotPermitted);
        return;
    }
    if (data.size() > att::kMaxAttributeLength) {
        refuse(AttError::invalidAttributeValueLength);
        return;
    }
    if (withResponse) {
        awaiting_ = att::writeRequest;
        awaitingHandle_ = handle;
    }
    host_.writeRequested(*attribute, Bytes(data.begin(), data.end()), withResponse);
}

void AttServer::configure(const GattAttribute& configuration, std::span<const std::uint8_t> data,
                          bool withResponse) {
    AttError result = AttError::success;
    if (data.size() != 2) {
        result = AttError::invalidAttributeValueLength;
    } else {
        const unsigned value = data[0] | data[1] << 8;
        // Notifications only: this stack sends no indications.
        if (value > 1 ||
            (value == 1 && !has(configuration.properties, CharacteristicProperties::notify))) {
            result = AttError::clientConfigurationImproperlyConfigured;
        } else {
            setSubscribed(configuration.valueHandle, value == 1);
        }
    }
    if (!withResponse) {
        return;
    }
    if (result == AttError::success) {
        host_.sendPdu(att::Writer(att::writeResponse).take());
    } else {
        sendError(att::writeRequest, configuration.handle, result);
    }
}

void AttServer::setSubscribed(std::uint16_t valueHandle, bool subscribed) {
    const auto found = std::find(subscriptions_.begin(), subscriptions_.end(), valueHandle);
    if (subscribed == (found != subscriptions_.end())) {
        return;
    }
    if (subscribed) {
        subscriptions_.push_back(valueHandle);
    } else {
        subscriptions_.erase(found);
    }
    if (const GattAttribute* value = database_.find(valueHandle)) {
        host_.subscriptionChanged(*value, subscribed);
    }
}

}  // namespace platform::bluetooth
