#include "platform/bluetooth/AttClient.h"

#include <algorithm>
#include <cstdio>

namespace platform::bluetooth {

namespace {

std::string opcodeText(std::uint8_t opcode) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(opcode));
    return text;
}

}  // namespace

AttClient::AttClient(std::function<void(Bytes)> sendPdu, std::uint16_t localMtu)
    : sendPdu_(std::move(sendPdu)), localMtu_(att::clampMtu(localMtu)) {}

void AttClient::exchangeMtu() {
    Procedure procedure;
    procedure.kind = Procedure::Kind::mtu;
    enqueue(std::move(procedure));
}

void AttClient::discoverServices(Done<std::vector<ServiceRange>> done) {
    Procedure procedure;
    procedure.kind = Procedure::Kind::services;
    procedure.start = 1;
    procedure.end = 0xFFFF;
    procedure.servicesDone = std::move(done);
    enqueue(std::move(procedure));
}

void AttClient::discoverCharacteristics(std::uint16_t start, std::uint16_t end,
                                        Done<std::vector<CharacteristicEntry>> done) {
    Procedure procedure;
    procedure.kind = Procedure::Kind::characteristics;
    procedure.start = start;
    procedure.end = end;
    procedure.characteristicsDone = std::move(done);
    enqueue(std::move(procedure));
}

void AttClient::discoverDescriptors(std::uint16_t start, std::uint16_t end,
                                    Done<std::vector<DescriptorEntry>> done) {
    Procedure procedure;
    procedure.kind = Procedure::Kind::descriptors;
    procedure.start = start;
    procedure.end = end;
    procedure.descriptorsDone = std::move(done);
    enqueue(std::move(procedure));
}

void AttClient::read(std::uint16_t handle, Done<Bytes> done) {
    Procedure procedure;
    procedure.kind = Procedure::Kind::read;
    procedure.handle = handle;
    procedure.readDone = std::move(done);
    enqueue(std::move(procedure));
}

void AttClient::write(std::uint16_t handle, Bytes value, std::function<void(Result<void>)> done) {
    Procedure procedure;
    procedure.kind = Procedure::Kind::write;
    procedure.handle = handle;
    procedure.value = std::move(value);
    procedure.writeDone = std::move(done);
    enqueue(std::move(procedure));
}

Bytes AttClient::writeCommand(std::uint16_t handle, std::span<const std::uint8_t> value) {
    return att::Writer(att::writeCommand).u16(handle).bytes(value).take();
}

std::uint8_t AttClient::requestOpcode(const Procedure& procedure) {
    switch (procedure.kind) {
        case Procedure::Kind::mtu:
            return att::exchangeMtuRequest;
        case Procedure::Kind::services:
            return att::readByGroupTypeRequest;
        case Procedure::Kind::characteristics:
            return att::readByTypeRequest;
        case Procedure::Kind::descriptors:
            return att::findInformationRequest;
        case Procedure::Kind::read:
            return att::readRequest;
        case Procedure::Kind::write:
            return att::writeRequest;
    }
    return 0;
}

std::uint8_t AttClient::responseOpcode(const Procedure& procedure) {
    return static_cast<std::uint8_t>(requestOpcode(procedure) + 1);
}

void AttClient::enqueue(Procedure procedure) {
    queue_.push_back(std::move(procedure));
    if (!inFlight_) {
        sendNext();
    }
}

void AttClient::sendNext() {
    while (!inFlight_ && !queue_.empty()) {
        Procedure& procedure = queue_.front();
        const bool discovery = procedure.kind == Procedure::Kind::characteristics ||
                               procedure.kind == Procedure::Kind::descriptors;
        if (discovery && (procedure.start == 0 || procedure.start > procedure.end)) {
            finish(std::nullopt);
            continue;
        }
        att::Writer out(requestOpcode(procedure));
        switch (procedure.kind) {
            case Procedure::Kind::mtu:
                out.u16(localMtu_);
                break;
            case Procedure::Kind::services:
                out.u16(procedure.start)
                    .u16(procedure.end)
                    .uuid(Uuid::fromShort(att::kPrimaryService));
                break;
            case Procedure::Kind::characteristics:
                out.u16(procedure.start)
                    .u16(procedure.end)
                    .uuid(Uuid::fromShort(att::kCharacteristic));
                break;
            case Procedure::Kind::descriptors:
                out.u16(procedure.start).u16(procedure.end);
                break;
            case Procedure::Kind::read:
                out.u16(procedure.handle);
                break;
            case Procedure::Kind::write:
                out.u16(procedure.handle).bytes(procedure.value);
                break;
        }
        inFlight_ = true;
        ++serial_;
        sendPdu_(out.take());
    }
}

void AttClient::finish(std::optional<Error> error) {
    Procedure procedure = std::move(queue_.front());
    queue_.pop_front();
    inFlight_ = false;
    switch (procedure.kind) {
        case Procedure::Kind::mtu:
            break;
        case Procedure::Kind::services:
            procedure.servicesDone(error ? Result<std::vector<ServiceRange>>(*error)
                                         : std::move(procedure.services));
            break;
        case Procedure::Kind::characteristics:
            procedure.characteristicsDone(error ? Result<std::vector<CharacteristicEntry>>(*error)
                                                : std::move(procedure.characteristics));
            break;
        case Procedure::Kind::descriptors:
            procedure.descriptorsDone(error ? Result<std::vector<DescriptorEntry>>(*error)
                                            : std::move(procedure.descriptors));
            break;
        case Procedure::Kind::read:
            procedure.readDone(error ? Result<Bytes>(*error) : std::move(procedure.value));
            break;
        case Procedure::Kind::write:
            procedure.writeDone(error ? Result<void>(*error) : Result<void>());
            break;
    }
    sendNext();
}

std::optional<std::string> AttClient::receive(std::span<const std::uint8_t> pdu) {
    if (pdu.empty()) {
        return "empty PDU";
    }
    if (pdu.size() > mtu_) {
        return "PDU of " + std::to_string(pdu.size()) + " bytes exceeds the MTU of " +
               std::to_string(mtu_);
    }
    const std::uint8_t opcode = pdu[0];
    if (opcode == att::handleValueNotification || opcode == att::handleValueIndication) {
        if (pdu.size() < 3) {
            return "malformed PDU " + opcodeText(opcode);
        }
        att::Reader in(pdu.subspan(1));
        const std::uint16_t handle = in.u16();
        const auto value = in.rest();
        if (opcode == att::handleValueIndication) {
            // Never asked for; confirmed so that the server is not left waiting.
            sendPdu_(att::Writer(att::handleValueConfirmation).take());
            return std::nullopt;
        }
        if (onNotification_) {
            onNotification_(handle, Bytes(value.begin(), value.end()));
        }
        return std::nullopt;
    }
    if (!att::isServerToClient(opcode)) {
        // This side serves nothing on this bearer.
        if (!att::isCommand(opcode)) {
            sendPdu_(att::makeErrorResponse(opcode, 0, AttError::requestNotSupported));
        }
        return std::nullopt;
    }
    if (!inFlight_) {
        return "response " + opcodeText(opcode) + " without a request";
    }
    Procedure& procedure = queue_.front();
    if (opcode == att::errorResponse) {
        if (pdu.size() != 5) {
            return "malformed Error Response";
        }
        att::Reader in(pdu.subspan(1));
        const std::uint8_t request = in.u8();
        in.u16();
        const auto code = static_cast<AttError>(in.u8());
        if (request != requestOpcode(procedure)) {
            return "Error Response for " + opcodeText(request) + " that was not asked";
        }
        const bool discovery = procedure.kind == Procedure::Kind::services ||
                               procedure.kind == Procedure::Kind::characteristics ||
                               procedure.kind == Procedure::Kind::descriptors;
        if ((discovery && code == AttError::attributeNotFound) ||
            procedure.kind == Procedure::Kind::mtu) {
            finish(std::nullopt);
        } else {
            finish(makeAttError(code));
        }
        return std::nullopt;
    }
    if (opcode != responseOpcode(procedure)) {
        return "response " + opcodeText(opcode) + " to request " +
               opcodeText(requestOpcode(procedure));
    }
    return handleResponse(procedure, pdu);
}

std::optional<std::string> AttClient::handleResponse(Procedure& procedure,
                                                     std::span<const std::uint8_t> pdu) {
    att::Reader in(pdu.subspan(1));
    switch (procedure.kind) {
        case Procedure::Kind::mtu: {
            if (pdu.size() != 3) {
                return "malformed Exchange MTU Response";
            }
            const std::uint16_t serverMtu = in.u16();
            mtu_ = att::clampMtu(std::min(serverMtu, localMtu_));
            finish(std::nullopt);
            return std::nullopt;
        }
        case Procedure::Kind::services:
            return servicesResponse(procedure, in, pdu.size());
        case Procedure::Kind::characteristics:
            return characteristicsResponse(procedure, in, pdu.size());
        case Procedure::Kind::descriptors:
            return descriptorsResponse(procedure, in, pdu.size());
        case Procedure::Kind::read: {
            const auto value = in.rest();
            procedure.value.assign(value.begin(), value.end());
            finish(std::nullopt);
            return std::nullopt;
        }
        case Procedure::Kind::write:
            if (pdu.size() != 1) {
                return "malformed Write Response";
            }
            finish(std::nullopt);
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::string> AttClient::servicesResponse(Procedure& procedure, att::Reader& in,
                                                       std::size_t size) {
    const std::size_t length = in.u8();
    if ((length != 6 && length != 20) || size < 2 + length || (size - 2) % length != 0) {
        return "malformed Read By Group Type Response";
    }
    std::uint16_t last = 0;
    while (in.remaining() > 0) {
        const std::uint16_t start = in.u16();
        const std::uint16_t end = in.u16();
        const auto uuid = Uuid::fromLittleEndian(in.bytes(length - 4));
        // Handles must move forward, or discovery could go round for ever.
        if (start < procedure.start || end < start || (last != 0 && start <= last) || !uuid) {
            return "Read By Group Type Response with handles out of order";
        }
        procedure.services.push_back({*uuid, start, end});
        last = end;
    }
    if (last == 0xFFFF) {
        finish(std::nullopt);
    } else {
        procedure.start = static_cast<std::uint16_t>(last + 1);
        inFlight_ = false;
        sendNext();
    }
    return std::nullopt;
}

std::optional<std::string> AttClient::characteristicsResponse(Procedure& procedure, att::Reader& in,
                                                              std::size_t size) {
    const std::size_t length = in.u8();
    if ((length != 7 && length != 21) || size < 2 + length || (size - 2) % length != 0) {
        return "malformed Read By Type Response";
    }
    std::uint16_t last = 0;
    while (in.remaining() > 0) {
        const std::uint16_t declaration = in.u16();
        const auto properties = static_cast<CharacteristicProperties>(in.u8());
        const std::uint16_t value = in.u16();
        const auto uuid = Uuid::fromLittleEndian(in.bytes(length - 5));
        if (declaration < procedure.start || declaration > procedure.end ||
            (last != 0 && declaration <= last) || !uuid) {
            return "Read By Type Response with handles out of order";
        }
        procedure.characteristics.push_back({*uuid, properties, declaration, value});
        last = declaration;
    }
    if (last >= procedure.end) {
        finish(std::nullopt);
    } else {
        procedure.start = static_cast<std::uint16_t>(last + 1);
        inFlight_ = false;
        sendNext();
    }
    return std::nullopt;
}

std::optional<std::string> AttClient::descriptorsResponse(Procedure& procedure, att::Reader& in,
                                                          std::size_t size) {
    const std::uint8_t format = in.u8();
    const std::size_t length = format == 1 ? 4 : format == 2 ? 18 : 0;
    if (length == 0 || size < 2 + length || (size - 2) % length != 0) {
        return "malformed Find Information Response";
    }
    std::uint16_t last = 0;
    while (in.remaining() > 0) {
        const std::uint16_t handle = in.u16();
        const auto type = Uuid::fromLittleEndian(in.bytes(length - 2));
        if (handle < procedure.start || handle > procedure.end || (last != 0 && handle <= last) ||
            !type) {
            return "Find Information Response with handles out of order";
        }
        procedure.descriptors.push_back({*type, handle});
        last = handle;
    }
    if (last >= procedure.end) {
        finish(std::nullopt);
    } else {
        procedure.start = static_cast<std::uint16_t>(last + 1);
        inFlight_ = false;
        sendNext();
    }
    return std::nullopt;
}

}  // namespace platform::bluetooth
