// Writes the seed inputs of every fuzz target, made with the project's own writers, into
// <folder>/<target>/<name>: fuzz_seeds fuzz/corpus

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "LinkService.h"
#include "image/support/ImageFixtures.h"
#include "link/TQAP.h"
#include "link/TQFileSegments.h"
#include "link/TQProtocol.h"
#include "link/TQXMLParser.h"
#include "listener/TQWebProxyFrame.h"
#include "platform/bluetooth/Advertisement.h"
#include "platform/bluetooth/AttClient.h"
#include "platform/bluetooth/AttServer.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/PropertyList.h"
#include "utils/DataCompression.h"
#include "utils/DataGZip.h"
#include "utils/XMLDictParser.h"
#include "utils/ZAZipArchive.h"

namespace {

using namespace platform::bluetooth;
using platform::Bytes;
using platform::Value;

std::filesystem::path root;

template <typename T>
T must(std::optional<T> value) {
    if (!value) {
        std::fprintf(stderr, "fuzz_seeds: a writer failed\n");
        std::exit(1);
    }
    return std::move(*value);
}
template <typename T>
T must(platform::Result<T> value) {
    if (!value) {
        std::fprintf(stderr, "fuzz_seeds: %s\n", value.error().message.c_str());
        std::exit(1);
    }
    return std::move(*value);
}

void seed(std::string_view target, std::string_view name, std::string_view bytes) {
    const auto folder = root / target;
    std::filesystem::create_directories(folder);
    std::ofstream file(folder / name, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
void seed(std::string_view target, std::string_view name, const Bytes& bytes) {
    seed(target, name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

const Value kAppOrder = {
    {"msgId", "mgr_apps_order_res"},
    {"data", Value::array({Value{{"name", "Clock"}, {"order", 1}},
                           Value{{"name", "Weather"}, {"order", 2}, {"size", 4.5}}})},
    {"uid", std::uint64_t{18446744073709551615U}},
    {"enabled", true},
    {"note", "caf\xC3\xA9 \"quoted\"\n"},
};

void jsonSeeds() {
    seed("json", "message", must(platform::json::write(kAppOrder)));
    seed("json", "pretty", must(platform::json::write(kAppOrder, platform::json::Style::Pretty)));
    seed("json", "array", must(platform::json::write(Value::array({1, -2, 3.25, "x", Value()}))));
}

void plistSeeds() {
    Value settings = {{"isWMSConnected", true},
                      {"currentSendWindowSet", 1},
                      {"volume", 0.75},
                      {"token", Bytes{0xDE, 0xAD, 0xBE, 0xEF}},
                      {"watches", Value::array({"Kavo R5 (1A2B)", "Kavo R5 (3C4D)"})},
                      {"lastSeen", platform::Date{631152000.5}}};
    seed("plist", "preferences", must(platform::plist::write(settings)));
    seed("plist", "array", must(platform::plist::write(Value::array({-1, "two", false}))));
    seed("plist", "binary", must(platform::plist::writeBinary(settings)));
}

void xmlSeeds() {
    const platform::Dictionary apps{
        {"applications",
         Value{{"application", Value::array({Value{{"name", "Clock"}, {"id", "com.kavo.clock"}},
                                             Value{{"name", "Weather"}, {"id", "w&x"}}})},
               {"count", "2"}}}};
    seed("xml", "applications", TQXMLParser::convertDictionaryToXML(apps, std::nullopt, true));
    seed("xml", "status",
         std::string_view("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<status version=\"2\"><feature name=\"gps\" on=\"true\"/>"
                          "<battery>80</battery><![CDATA[a<b]]>&amp;&#x41;</status>\n"));
}

void advertisementSeeds() {
    AdvertisementData watch;
    watch.localName = "Kavo R5 (1A2B)";
    watch.manufacturerData = Bytes{0x51, 0x7E, 0x10, 0x20, 0x30, 0x40, 0x50, 0x01, 0x03};
    seed("advertisement", "watch", must(encodeAdvertisement(watch)));
    AdvertisementData phone;
    phone.serviceUuids = {Uuid::fromShort(0x180F),
                          *Uuid::parse("9A3F68E0-86CE-11E5-A309-0002A5D5C51B")};
    phone.solicitedServiceUuids = {Uuid::fromShort(0x1811)};
    seed("advertisement", "services", must(encodeAdvertisement(phone)));
}

Bytes textBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// A link message: the header byte, then the body.
Bytes linkMessage(std::uint8_t priority, std::uint8_t appId, const Bytes& body) {
    return TQAP::addPriority(priority, appId, body);
}

// Text that barely compresses, so its message takes several packets.
Bytes noisyText(std::size_t size) {
    Bytes text(size);
    std::uint32_t state = 12345;
    for (auto& byte : text) {
        state = state * 1103515245 + 12345;
        byte = static_cast<std::uint8_t>('!' + (state >> 16) % 90);
    }
    return text;
}

// The packets of a message as the watch sends it, numbered from firstSequence.
std::vector<Bytes> messagePackets(const Bytes& message, bool arq, int firstSequence) {
    auto packets =
        TQProtocol::packetsFromPayload(must(compression::dataDeflate(message)), arq ? 1 : 0);
    int sequence = firstSequence;
    for (auto& packet : packets) {
        packet[0] = static_cast<std::uint8_t>((packet[0] & 0xF0) | (arq ? sequence++ : 0));
    }
    return packets;
}

Bytes control(std::uint32_t command, std::uint32_t payload) {
    return TQProtocol::packetsFromControlModel({command, payload}).front();
}

Bytes ackPacket(std::uint16_t mask) {
    Bytes packet = control(TQProtocol::ack, 0);
    packet[1] = static_cast<std::uint8_t>(mask >> 8);
    packet[2] = static_cast<std::uint8_t>(mask & 0xFF);
    return packet;
}

void protocolSeeds() {
    const Bytes json = linkMessage(1, 1, textBytes(must(platform::json::write(kAppOrder))));
    const auto records = [](const std::vector<Bytes>& packets, std::uint8_t flags) {
        Bytes out;
        for (const Bytes& packet : packets) {
            fuzz::Records::append(out, flags, packet);
        }
        return out;
    };
    seed("protocol_receive", "message", records(messagePackets(json, true, 0), 0));
    seed("protocol_receive", "unacknowledged", records(messagePackets(json, false, 0), 0));
    seed("protocol_receive", "two-windows",
         records(messagePackets(linkMessage(1, 2, noisyText(1300)), true, 0), 0));
    // The last packet arrives late, after T_RECV and T_ACK ran out.
    auto late = messagePackets(linkMessage(2, 3, noisyText(400)), true, 0);
    Bytes lateRecords = records({late.begin(), late.end() - 1}, 0x06);
    fuzz::Records::append(lateRecords, 0x00, late.back());
    seed("protocol_receive", "late", lateRecords);
    // The phone sends; the watch pings, acknowledges, and resets.
    Bytes controls;
    fuzz::Records::append(controls, 0x20 | 0x02, control(TQProtocol::ping, 0));
    fuzz::Records::append(controls, 0x00, ackPacket(0x8000));
    fuzz::Records::append(controls, 0x20 | 0x08, ackPacket(0x0000));
    fuzz::Records::append(controls, 0x00, control(TQProtocol::reset, 0));
    seed("protocol_receive", "controls", controls);
}

// A handshake record: the type, then the watch's name at its offset.
Bytes bapRecord(std::uint8_t type, std::string_view name) {
    Bytes record(TQAP::kBAPRecordSize, 0);
    record[0] = type;
    std::copy(name.begin(), name.end(), record.begin() + 33);
    return record;
}

void handshakeSeeds() {
    const Bytes message = linkMessage(1, 1, textBytes(must(platform::json::write(kAppOrder))));
    const auto run = [&](std::uint8_t stage, std::string_view name) {
        Bytes out{stage};
        fuzz::Records::append(out, 0x00, bapRecord(TQAP::kBAPRequest, name));
        fuzz::Records::append(out, 0x02, bapRecord(TQAP::kBAPComplete, ""));
        fuzz::Records::append(out, 0x00, message);
        fuzz::Records::append(out, 0x00, linkMessage(3, 5, Bytes{1, 2, 3}));
        return out;
    };
    seed("handshake", "new-watch", run(0x00, "Kavo R5 (1A2B)"));
    seed("handshake", "paired-watch", run(0x0B, "Kavo R5 (1A2B)"));
    seed("handshake", "paired-watch-new-central", run(0x09, "Kavo R5 (1A2B)"));
    seed("handshake", "other-watch", run(0x09, "Kavo R5 (9F9F)"));
    Bytes sentAway{0x10};
    fuzz::Records::append(sentAway, 0x00, bapRecord(TQAP::kBAPRequest, "Kavo R5 (1A2B)"));
    fuzz::Records::append(sentAway, 0x0B, bapRecord(TQAP::kBAPComplete, ""));
    fuzz::Records::append(sentAway, 0x00, TQAP::makeBAPRejectPacket());
    seed("handshake", "sent-away", sentAway);
}

// Steps of the file handler target: the action in bits 3-6, the clock step in bits 0-2.
void fileSegmentSeeds() {
    namespace fs = file_segment;
    constexpr std::uint8_t kSegment = 0 << 3, kAccept = 1 << 3, kQueue = 5 << 3, kLinkLost = 6 << 3,
                           kResume = 7 << 3, kResumeAccept = 3 << 3;
    const Bytes content(200, 0x5A);
    const auto watchSegment = [](std::uint8_t position, std::uint16_t sequence, std::size_t n) {
        Bytes segment{position, static_cast<std::uint8_t>(sequence),
                      static_cast<std::uint8_t>(sequence >> 8)};
        segment.resize(3 + n, 0x33);
        return segment;
    };

    Bytes sending;
    fuzz::Records::append(sending, kQueue, content);
    fuzz::Records::append(sending, kQueue, Bytes{1});
    fuzz::Records::append(sending, kSegment, fs::control(fs::kAccept));
    fuzz::Records::append(sending, kSegment, fs::control(fs::kAck));
    fuzz::Records::append(sending, kSegment, fs::control(fs::kNak));
    fuzz::Records::append(sending, kSegment | 6, fs::control(fs::kAck));
    fuzz::Records::append(sending, kSegment | 7, fs::control(fs::kReject));
    seed("file_segments", "sending", sending);

    Bytes resuming;
    fuzz::Records::append(resuming, kQueue, content);
    fuzz::Records::append(resuming, kSegment, fs::control(fs::kAccept));
    fuzz::Records::append(resuming, kSegment, fs::control(fs::kAck));
    fuzz::Records::append(resuming, kSegment, fs::control(fs::kAck));
    fuzz::Records::append(resuming, kLinkLost | 4, {});
    fuzz::Records::append(resuming, kResume, {});
    fuzz::Records::append(resuming, kSegment, fs::resumeAccept(1));
    fuzz::Records::append(resuming, kSegment, fs::control(fs::kAck));
    fuzz::Records::append(resuming, kSegment, fs::resumeAccept(0xFFFF));
    seed("file_segments", "resuming", resuming);

    Bytes receiving;
    fuzz::Records::append(receiving, kSegment, fs::announcement(fs::kInfo, "in.bin", 300));
    fuzz::Records::append(receiving, kAccept, {});
    fuzz::Records::append(receiving, kSegment, watchSegment(fs::kFirst, 0, 100));
    fuzz::Records::append(receiving, kSegment, watchSegment(fs::kMiddle, 2, 100));
    fuzz::Records::append(receiving, kSegment, watchSegment(fs::kMiddle, 1, 100));
    fuzz::Records::append(receiving, kSegment, fs::announcement(fs::kResumeRequest, "in.bin", 300));
    fuzz::Records::append(receiving, kResumeAccept, {});
    fuzz::Records::append(receiving, kSegment, watchSegment(fs::kLast, 2, 100));
    fuzz::Records::append(receiving, kSegment, fs::announcement(fs::kInfo, "next", 0));
    fuzz::Records::append(receiving, kAccept, {});
    fuzz::Records::append(receiving, kSegment, watchSegment(fs::kOnly, 0, 0));
    fuzz::Records::append(receiving, kSegment, fs::control(fs::kCancel));
    seed("file_segments", "receiving", receiving);
}

void attServerSeeds() {
    using namespace platform::bluetooth::att;
    const Uuid service = *Uuid::parse("9A3F68E0-86CE-11E5-A309-0002A5D5C51B");
    Bytes discovery;
    fuzz::Records::append(discovery, 0x01, Writer(exchangeMtuRequest).u16(185).take());
    fuzz::Records::append(
        discovery, 0x01,
        Writer(readByGroupTypeRequest).u16(1).u16(0xFFFF).u16(kPrimaryService).take());
    fuzz::Records::append(discovery, 0x01,
                          Writer(readByTypeRequest).u16(1).u16(0xFFFF).u16(kCharacteristic).take());
    fuzz::Records::append(discovery, 0x01,
                          Writer(findInformationRequest).u16(1).u16(0xFFFF).take());
    fuzz::Records::append(discovery, 0x01,
                          Writer(readByTypeRequest).u16(1).u16(0xFFFF).uuid(service).take());
    seed("att_server", "discovery", discovery);
    Bytes values;
    fuzz::Records::append(values, 0x01, Writer(readRequest).u16(3).take());
    fuzz::Records::append(values, 0x20 | 0x02, Writer(readRequest).u16(6).take());
    fuzz::Records::append(values, 0x01, Writer(writeRequest).u16(7).u16(1).take());
    fuzz::Records::append(values, 0x08 | 0x02, Writer(writeRequest).u16(9).u8(0x41).take());
    fuzz::Records::append(values, 0x00, Writer(writeCommand).u16(9).u8(0x42).take());
    fuzz::Records::append(values, 0x00, Writer(readRequest).u16(6).take());
    fuzz::Records::append(values, 0x00, Writer(readRequest).u16(3).take());
    fuzz::Records::append(values, 0x02, Writer(handleValueConfirmation).take());
    seed("att_server", "values", values);
}

// What a server of the project answers to a client that discovers everything, in order.
class Loopback final : public AttServer::Host {
public:
    Loopback() {
        (void)database.add(MutableService{Uuid::fromShort(0x180F),
                                          true,
                                          {{Uuid::fromShort(0x2A19), CharacteristicProperties::read,
                                            AttributePermissions::readable, Bytes{99}}}});
        (void)database.add(fuzz::linkService());
    }
    void sendPdu(Bytes pdu) override { toClient.push_back(std::move(pdu)); }
    void readRequested(const GattAttribute&) override {
        server.respondToRead(AttError::success, Bytes{'v'});
    }
    void writeRequested(const GattAttribute&, Bytes, bool withResponse) override {
        if (withResponse) {
            server.respondToWrite(AttError::success);
        }
    }
    void subscriptionChanged(const GattAttribute&, bool) override {}

    void pump() {
        while (!toServer.empty() || !toClient.empty()) {
            if (!toServer.empty()) {
                const Bytes pdu = toServer.front();
                toServer.pop_front();
                (void)server.receive(pdu);
            }
            if (!toClient.empty()) {
                const Bytes pdu = toClient.front();
                toClient.pop_front();
                fuzz::Records::append(answers, 0, pdu);
                (void)client.receive(pdu);
            }
        }
    }

    GattDatabase database;
    AttServer server{database, *this};
    std::deque<Bytes> toServer;
    std::deque<Bytes> toClient;
    AttClient client{[this](Bytes pdu) { toServer.push_back(std::move(pdu)); }};
    Bytes answers;
};

void attClientSeeds() {
    Loopback loopback;
    loopback.client.exchangeMtu();
    loopback.client.discoverServices([&](auto services) {
        if (!services) {
            return;
        }
        for (const auto& service : *services) {
            loopback.client.discoverCharacteristics(service.start, service.end, [&](auto found) {
                if (!found) {
                    return;
                }
                for (const auto& characteristic : *found) {
                    loopback.client.discoverDescriptors(
                        static_cast<std::uint16_t>(characteristic.value + 1),
                        static_cast<std::uint16_t>(characteristic.value + 2), [](auto) {});
                    loopback.client.read(characteristic.value, [](auto) {});
                    loopback.client.write(characteristic.value, Bytes{1, 0}, [](auto) {});
                }
            });
        }
    });
    loopback.pump();
    seed("att_client", "discovery", loopback.answers);
    Bytes notified;
    fuzz::Records::append(notified, 0, AttServer::notification(3, Bytes{1, 2, 3}));
    fuzz::Records::append(
        notified, 0,
        att::makeErrorResponse(att::exchangeMtuRequest, 0, AttError::requestNotSupported));
    fuzz::Records::append(
        notified, 0,
        att::makeErrorResponse(att::readByGroupTypeRequest, 1, AttError::attributeNotFound));
    seed("att_client", "notification-and-errors", notified);
}

// A frame of the local-socket air: the length, least significant byte first, then the bytes.
void appendFrame(Bytes& out, const Bytes& payload) {
    out.push_back(static_cast<std::uint8_t>(payload.size() & 0xFF));
    out.push_back(static_cast<std::uint8_t>(payload.size() >> 8));
    out.insert(out.end(), payload.begin(), payload.end());
}

void socketSeeds() {
    Bytes hello = textBytes("KAIR");
    hello.push_back(1);
    const Uuid peer = *Uuid::parse("E87988E0-4990-487F-A502-9CFEDA7ED834");
    hello.insert(hello.end(), peer.bytes().begin(), peer.bytes().end());
    Bytes greeting;
    appendFrame(greeting, hello);
    seed("socket_frames", "greeting", greeting);
    Bytes exchange = greeting;
    appendFrame(exchange, att::Writer(att::exchangeMtuRequest).u16(517).take());
    appendFrame(exchange, AttServer::notification(3, noisyText(300)));
    appendFrame(exchange, att::Writer(att::writeCommand).u16(9).u8(0x41).take());
    seed("socket_frames", "exchange", exchange);
    Bytes cut = greeting;
    appendFrame(cut, att::Writer(att::readRequest).u16(3).take());
    cut.pop_back();
    seed("socket_frames", "cut-short", cut);
}

void inflateSeeds() {
    const Bytes json = linkMessage(1, 1, textBytes(must(platform::json::write(kAppOrder))));
    seed("inflate", "gzip", must(compression::dataDeflate(json)));
    seed("inflate", "zlib", must(gzip::compress(json, 9, 15)));
    seed("inflate", "gzip-noisy", must(compression::dataDeflate(noisyText(2000))));
}

void gunzipSeeds() {
    const Bytes json = textBytes(must(platform::json::write(kAppOrder)));
    const auto prefixed = [](std::uint8_t mode, const Bytes& stream) {
        Bytes out{mode};
        out.insert(out.end(), stream.begin(), stream.end());
        return out;
    };
    seed("gunzip", "gzip", prefixed(0x00, must(gzip::compress(json, -1, 31))));
    seed("gunzip", "zlib", prefixed(0x01, must(gzip::compress(json, 6, 15))));
    seed("gunzip", "raw", prefixed(0x02, must(gzip::compress(json, 1, -15))));
    seed("gunzip", "detected", prefixed(0x03, must(gzip::compress(noisyText(500), 9, 31))));
    seed("gunzip", "file", prefixed(0x80, must(gzip::compress(json, -1, 31))));
}

// Archives made by the project's own writer, read back as bytes.
void unzipSeeds() {
    const auto scratch = fuzz::scratchFolder() / "seeds";
    std::filesystem::create_directories(scratch / "tree" / "sub");
    std::ofstream(scratch / "tree" / "a.txt") << "alpha\n";
    std::ofstream(scratch / "tree" / "sub" / "b.bin") << std::string(300, 'b');
    std::filesystem::create_directories(scratch / "tree" / "empty");
    const auto archive = [&](std::string_view name, const auto& write) {
        const auto path = scratch / name;
        ZAZipArchive zip(path);
        if (!zip.open() || !write(zip) || !zip.close()) {
            std::fprintf(stderr, "fuzz_seeds: the zip writer failed\n");
            std::exit(1);
        }
        const std::string bytes = must(platform::fs::readFile(path));
        seed("unzip", name, bytes);
        return bytes;
    };
    const auto text = [](std::string_view s) {
        return std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
    };
    if (!ZAZipArchive::createZipFileAtPath(scratch / "tree.zip", scratch / "tree")) {
        std::exit(1);
    }
    seed("unzip", "tree.zip", must(platform::fs::readFile(scratch / "tree.zip")));
    const std::string inner = archive(
        "inner.zip", [&](ZAZipArchive& zip) { return zip.writeData(text("inside"), "in.txt"); });
    archive("nested.zip", [&](ZAZipArchive& zip) {
        return zip.writeData(text(inner), "pkg/inner.zip") &&
               zip.writeFolderAtPath(scratch / "tree", "folder");
    });
    archive("hostile.zip", [&](ZAZipArchive& zip) {
        return zip.writeData(text("ok"), "ok.txt") && zip.writeData(text("x"), "../evil") &&
               zip.writeData(text("y"), "a\\..\\..\\evil");
    });
    std::filesystem::remove_all(scratch);
}

// Store replies, each after two bytes of options (none: the defaults).
void xmlDictSeeds() {
    const std::string reply =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<result status=\"ok\"><!-- update list -->\n"
        "  <app id=\"com.kavo.clock\"><version>2.1</version><url><![CDATA[https://x/?a=1&b=2]]>"
        "</url></app>\n"
        "  <app id=\"com.kavo.weather\"><version>1.0</version><empty/></app>\n"
        "  text before <note>n</note> text after\n"
        "</result>\n";
    seed("xml_dict", "defaults", std::string(2, '\0') + reply);
    seed("xml_dict", "every_option", std::string("\x3F\x05", 2) + reply);
    seed("xml_dict", "attributes_dictionary", std::string("\x10\x01", 2) + reply);
    const XMLDictParser::Parsed parsed = xmldict::dictionaryWithXMLString(reply);
    if (!parsed.dictionary) {
        std::exit(1);
    }
    seed("xml_dict", "written", std::string(2, '\0') + xmldict::XMLString(*parsed.dictionary));
    seed("xml_dict", "cut_off", std::string(2, '\0') + reply.substr(0, reply.size() / 2));
}

// Image files after a flags byte (0: whole, 1: a prefix).
void imageSeeds() {
    namespace fx = image_fixtures;
    const auto image = [](std::uint8_t flags, Bytes file) {
        file.insert(file.begin(), flags);
        return file;
    };
    seed("image_decode", "gif_three_frames", image(0, fx::threeFrameGif()));
    seed("image_decode", "gif_fast_frames",
         image(0, fx::gif(3, 2, {{3, 2, 0, 0}, {2, 1, 1, 1}, {3, 2, 2, std::nullopt}})));
    seed("image_decode", "gif_cut", image(1, fx::gif(2, 2, {{2, 2, 0, 10}, {2, 2, 1, 10}}, false)));
    seed("image_decode", "jpeg_orientation_6", image(0, fx::jpegWithOrientation(6)));
    const Bytes gradient = fx::gradientJpeg(32, 24);
    seed("image_decode", "jpeg_gradient", image(0, gradient));
    seed("image_decode", "jpeg_prefix", image(1, fx::prefix(gradient, gradient.size() / 2)));
    seed("image_decode", "png_alpha", image(0, fx::solidPng(5, 3, true)));
    seed("image_decode", "png_grey", image(0, fx::greyPng(4, 4)));
    seed("image_decode", "png_huge_header", image(0, fx::pngHeaderOnly(100000, 100000)));
}

}  // namespace

// A device-zone byte, then an iCalendar text.
void icsSeed(std::string_view name, std::string_view zone, std::string_view lines) {
    std::string text(zone);
    for (const char c : lines) {
        text += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    seed("ics", name, text);
}

void gpxSeeds() {
    seed("gpx", "walk",
         std::string_view("<?xml version=\"1.0\"?><gpx version=\"1.1\"><trk><trkseg>"
                          "<trkpt lat=\"52.5\" lon=\"13.4\"><ele>34</ele>"
                          "<time>2016-03-03T14:05:09Z</time><hdop>1.2</hdop></trkpt>"
                          "<trkpt lat=\"52.5001\" lon=\"13.4002\"><ele>35.5</ele>"
                          "<time>2016-03-03T14:05:11.5Z</time></trkpt>"
                          "<trkpt lat=\"52.5002\" lon=\"13.4004\">"
                          "<time>2016-03-03T14:05:11.5Z</time><speed>1.4</speed>"
                          "<course>90</course></trkpt></trkseg></trk></gpx>\n"));
}

void icsSeeds() {
    icsSeed("timed", "\x01",
            "BEGIN:VCALENDAR\nVERSION:2.0\nX-WR-CALNAME:Work\nCOLOR:#FF8000\nBEGIN:VEVENT\n"
            "UID:a\nDTSTART;TZID=Europe/Berlin:20261211T093000\n"
            "DTEND;TZID=Europe/Berlin:20261211T103000\nSUMMARY:Stand-up\\, daily\n"
            "LOCATION:Room 4\nDESCRIPTION:one\\ntwo\nLAST-MODIFIED:20261201T120000Z\n"
            "END:VEVENT\nEND:VCALENDAR\n");
    icsSeed("all_day", "\x02",
            "BEGIN:VCALENDAR\nBEGIN:VEVENT\nUID:d\nDTSTART;VALUE=DATE:20261214\n"
            "DTEND;VALUE=DATE:20261216\nSUMMARY:Trip\nEND:VEVENT\nEND:VCALENDAR\n");
    icsSeed("weekly_with_exceptions", "\x00",
            "BEGIN:VCALENDAR\nBEGIN:VEVENT\nUID:w\nDTSTART:20261105T150000Z\n"
            "DTEND:20261105T160000Z\nRRULE:FREQ=WEEKLY;BYDAY=TH,SA\nEXDATE:20261217T150000Z\n"
            "RDATE:20261222T090000Z\nEND:VEVENT\nBEGIN:VEVENT\nUID:w\n"
            "RECURRENCE-ID:20261224T150000Z\nDTSTART:20261224T160000Z\nEND:VEVENT\n"
            "END:VCALENDAR\n");
    icsSeed("own_zone", "\x03",
            "BEGIN:VCALENDAR\nBEGIN:VTIMEZONE\nTZID:Office\nBEGIN:STANDARD\n"
            "DTSTART:19700101T000000\nTZOFFSETFROM:+0300\nTZOFFSETTO:+0300\nEND:STANDARD\n"
            "END:VTIMEZONE\nBEGIN:VEVENT\nUID:o\nDTSTART;TZID=Office:20261211T090000\n"
            "DURATION:PT45M\nRRULE:FREQ=DAILY;COUNT=20\nEND:VEVENT\nEND:VCALENDAR\n");
    icsSeed("every_second", "\x00",
            "BEGIN:VCALENDAR\nBEGIN:VEVENT\nUID:s\nDTSTART:20200101T000000Z\n"
            "RRULE:FREQ=SECONDLY\nEND:VEVENT\nEND:VCALENDAR\n");
    icsSeed("unknown_zone", "\x01",
            "BEGIN:VCALENDAR\nBEGIN:VEVENT\nUID:u\nDTSTART;TZID=Mars/Olympus:20261211T090000\n"
            "END:VEVENT\nEND:VCALENDAR\n");
    icsSeed("unterminated", "\x00",
            "BEGIN:VCALENDAR\nBEGIN:VEVENT\nUID:x\nDTSTART:20261211T090000Z\n");
}

// Frames from the watch with a well-formed header (flags 4) and the servers' steps between them.
void webProxySeeds() {
    constexpr std::uint8_t kFrame = 4;
    constexpr std::uint8_t kRawFrame = 0;
    constexpr std::uint8_t kOpen = 1;
    constexpr std::uint8_t kReceive = 2;
    constexpr std::uint8_t kEnd = 3;
    constexpr std::uint8_t kFail = 7;
    const auto frame = [](std::uint8_t type, std::uint8_t transaction, std::string_view payload) {
        Bytes bytes{type, transaction};
        bytes.insert(bytes.end(), payload.begin(), payload.end());
        return bytes;
    };
    const Bytes ack = frame(4, 5, "\x02");
    const Bytes close = frame(4, 5, "\x01");

    Bytes get;
    fuzz::Records::append(
        get, kFrame,
        frame(2, 5, "GET http://example.test:8080/a?b HTTP/1.1\r\nHost: example.test\r\n\r\n"));
    fuzz::Records::append(get, kOpen, Bytes{0});
    fuzz::Records::append(get, kReceive, Bytes{0, 'H', 'T', 'T', 'P'});
    fuzz::Records::append(get, kReceive, Bytes{0, '/', '1', '.', '1'});
    fuzz::Records::append(get, kReceive, Bytes{0, ' ', '2', '0', '0'});
    fuzz::Records::append(get, kEnd, Bytes{0});
    fuzz::Records::append(get, kFrame, ack);
    fuzz::Records::append(get, kFrame, ack);
    seed("web_proxy", "get", get);

    Bytes tunnel;
    fuzz::Records::append(tunnel, kFrame, frame(2, 5, "CONNECT example.test:443 HTTP/1.1\r\n\r\n"));
    fuzz::Records::append(tunnel, kFrame, frame(2, 5, "\x16\x03\x01"));
    fuzz::Records::append(tunnel, kOpen, Bytes{0});
    fuzz::Records::append(tunnel, kReceive, Bytes{0, 0x16, 0x03, 0x03});
    fuzz::Records::append(tunnel, kFrame, close);
    fuzz::Records::append(tunnel, kFrame, frame(2, 6, "POST http://h/ HTTP/1.0\r\n\r\nbody"));
    fuzz::Records::append(tunnel, kFail, Bytes{0});
    seed("web_proxy", "tunnel", tunnel);

    Bytes raw;
    fuzz::Records::append(raw, kRawFrame, TQWebProxyFrame::make(2, 9, Bytes{'G', 'E', 'T'}));
    fuzz::Records::append(raw, kRawFrame, TQWebProxyFrame::makeErrorAPDUPacket(9));
    seed("web_proxy", "raw", raw);
}

void storeListSeeds() {
    const std::string item =
        "<item>\n<AppName>\nTimer</AppName>\n<PackageName>\ncom.kavo.timer</PackageName>\n"
        "<ClassName>\nTimerApp</ClassName>\n<PreLoad>\nfalse</PreLoad>\n"
        "<IsRemovable>\ntrue</IsRemovable>\n<Version>\n1.1.0</Version>\n</item>\n";
    const std::string declaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
    seed("store_lists", "apps",
         std::string(1, '\0') + declaration + "<Wapp>\n" + item + item + "</Wapp>\n");
    seed("store_lists", "one_app",
         std::string(1, '\0') + declaration + "<Wapp>\n" + item + "</Wapp>\n");
    seed("store_lists", "faces",
         std::string(1, '\1') + declaration +
             "<Clock>\n<item><AppName>A &amp; B</AppName>"
             "<PackageName>com.kavo.face</PackageName><PreLoad>true</PreLoad>"
             "<isShown>true</isShown></item>\n</Clock>\n");
    seed("store_lists", "other_format",
         std::string(1, '\0') +
             std::string("<WappsList><App><PackageName>x</PackageName></App></WappsList>"));
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds <corpus folder>\n");
        return 2;
    }
    root = argv[1];
    jsonSeeds();
    plistSeeds();
    xmlSeeds();
    gpxSeeds();
    advertisementSeeds();
    protocolSeeds();
    handshakeSeeds();
    fileSegmentSeeds();
    attServerSeeds();
    attClientSeeds();
    socketSeeds();
    inflateSeeds();
    gunzipSeeds();
    unzipSeeds();
    xmlDictSeeds();
    storeListSeeds();
    icsSeeds();
    imageSeeds();
    webProxySeeds();
    return 0;
}
