#include "http/HCStreamingMultipartFormData.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <random>
#include <utility>

#include "platform/net/URLError.h"

namespace {

std::string makeBoundary() {
    static thread_local std::mt19937 random{std::random_device{}()};
    char text[32];
    std::snprintf(text, sizeof text, "Boundary+%08X%08X", static_cast<unsigned>(random()),
                  static_cast<unsigned>(random()));
    return text;
}

// A name inside a quoted header parameter: what could close the quotes or the line is
// percent-encoded, as browsers do.
std::string quoted(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '"') {
            out += "%22";
        } else if (c == '\r') {
            out += "%0D";
        } else if (c == '\n') {
            out += "%0A";
        } else {
            out += c;
        }
    }
    return out;
}

platform::net::HTTPHeaders fileHeaders(std::string_view name, std::string_view fileName,
                                       std::string_view mimeType) {
    platform::net::HTTPHeaders headers;
    headers.set("Content-Disposition",
                "form-data; name=\"" + quoted(name) + "\"; filename=\"" + quoted(fileName) + "\"");
    headers.set("Content-Type", quoted(mimeType));
    return headers;
}

HCError fileURLError(std::string reason, std::string_view url) {
    HCError error;
    error.domain = kHCURLRequestSerializationErrorDomain;
    error.code = platform::net::urlerror::badURL;
    error.failureReason = std::move(reason);
    error.localizedDescription = error.failureReason;
    error.failingURL = std::string(url);
    return error;
}

// The path of a "file:" URL, percent-decoded; nothing for any other URL.
std::optional<std::filesystem::path> pathOfFileURL(std::string_view url) {
    constexpr std::string_view scheme = "file://";
    if (url.size() < scheme.size() ||
        !std::equal(scheme.begin(), scheme.end(), url.begin(), [](char a, char b) {
            return a == std::tolower(static_cast<unsigned char>(b));
        })) {
        return std::nullopt;
    }
    std::string_view rest = url.substr(scheme.size());
    if (rest.rfind("localhost/", 0) == 0) {
        rest.remove_prefix(std::string_view("localhost").size());
    }
    if (rest.empty() || rest.front() != '/') {
        return std::nullopt;
    }
    std::string path;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%' && i + 2 < rest.size() &&
            std::isxdigit(static_cast<unsigned char>(rest[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(rest[i + 2]))) {
            path += static_cast<char>(std::stoi(std::string(rest.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            path += rest[i];
        }
    }
    return std::filesystem::path(path);
}

}  // namespace

std::string HCContentTypeForPathExtension(std::string_view extension) {
    static const std::pair<const char*, const char*> kTypes[] = {
        {"txt", "text/plain"},        {"html", "text/html"},
        {"htm", "text/html"},         {"css", "text/css"},
        {"csv", "text/csv"},          {"xml", "application/xml"},
        {"json", "application/json"}, {"js", "application/javascript"},
        {"pdf", "application/pdf"},   {"zip", "application/zip"},
        {"gz", "application/gzip"},   {"plist", "application/x-plist"},
        {"png", "image/png"},         {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},       {"gif", "image/gif"},
        {"bmp", "image/bmp"},         {"webp", "image/webp"},
        {"mp3", "audio/mpeg"},        {"wav", "audio/wav"},
        {"mp4", "video/mp4"},         {"mov", "video/quicktime"},
    };
    std::string lowered(extension);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const auto& [known, type] : kTypes) {
        if (lowered == known) {
            return type;
        }
    }
    return "application/octet-stream";
}

HCStreamingMultipartFormData::HCStreamingMultipartFormData(platform::net::URLRequest request,
                                                           std::string stringEncoding)
    : request_(std::move(request)),
      stringEncoding_(std::move(stringEncoding)),
      boundary_(makeBoundary()),
      bodyStream_(std::make_shared<HCMultipartBodyStream>(stringEncoding_)) {}

bool HCStreamingMultipartFormData::appendPartWithFileURL(std::string_view fileURL,
                                                         std::string_view name,
                                                         std::optional<HCError>* error) {
    const auto path = pathOfFileURL(fileURL);
    const std::string fileName = path ? path->filename().string() : std::string();
    std::string extension = path ? path->extension().string() : std::string();
    if (!extension.empty()) {
        extension.erase(0, 1);
    }
    return appendPartWithFileURL(fileURL, name, fileName, HCContentTypeForPathExtension(extension),
                                 error);
}

bool HCStreamingMultipartFormData::appendPartWithFileURL(std::string_view fileURL,
                                                         std::string_view name,
                                                         std::string_view fileName,
                                                         std::string_view mimeType,
                                                         std::optional<HCError>* error) {
    const auto path = pathOfFileURL(fileURL);
    if (!path) {
        if (error != nullptr) {
            *error = fileURLError("Expected URL to be a file URL", fileURL);
        }
        return false;
    }
    std::error_code failed;
    if (!std::filesystem::is_regular_file(*path, failed)) {
        if (error != nullptr) {
            *error = fileURLError("File URL not reachable.", fileURL);
        }
        return false;
    }
    const auto size = std::filesystem::file_size(*path, failed);
    if (failed) {
        if (error != nullptr) {
            *error = HCError::fromError(
                platform::Error{"NSCocoaErrorDomain", failed.value(), failed.message()});
        }
        return false;
    }
    appendPart(fileHeaders(name, fileName, mimeType), *path, size);
    return true;
}

void HCStreamingMultipartFormData::appendPartWithInputStream(
    std::shared_ptr<platform::net::BodyStream> stream, std::string_view name,
    std::string_view fileName, std::int64_t length, std::string_view mimeType) {
    appendPart(fileHeaders(name, fileName, mimeType), std::move(stream),
               static_cast<std::uint64_t>(std::max<std::int64_t>(length, 0)));
}

void HCStreamingMultipartFormData::appendPartWithFileData(platform::Bytes data,
                                                          std::string_view name,
                                                          std::string_view fileName,
                                                          std::string_view mimeType) {
    appendPartWithHeaders(fileHeaders(name, fileName, mimeType), std::move(data));
}

void HCStreamingMultipartFormData::appendPartWithFormData(platform::Bytes data,
                                                          std::string_view name) {
    platform::net::HTTPHeaders headers;
    headers.set("Content-Disposition", "form-data; name=\"" + quoted(name) + "\"");
    appendPartWithHeaders(std::move(headers), std::move(data));
}

void HCStreamingMultipartFormData::appendPartWithHeaders(platform::net::HTTPHeaders headers,
                                                         platform::Bytes body) {
    const std::uint64_t length = body.size();
    appendPart(std::move(headers), std::make_shared<const platform::Bytes>(std::move(body)),
               length);
}

void HCStreamingMultipartFormData::appendPart(platform::net::HTTPHeaders headers,
                                              HCHTTPBodyPart::Body body, std::uint64_t length) {
    auto part = std::make_unique<HCHTTPBodyPart>();
    part->stringEncoding = stringEncoding_;
    part->headers = std::move(headers);
    part->boundary = boundary_;
    part->body = std::move(body);
    part->bodyContentLength = length;
    bodyStream_->appendHTTPBodyPart(std::move(part));
}

void HCStreamingMultipartFormData::throttleBandwidthWithPacketSize(std::uint64_t numberOfBytes,
                                                                   double delay) {
    bodyStream_->numberOfBytesInPacket = numberOfBytes;
    bodyStream_->delay = delay;
}

platform::net::URLRequest HCStreamingMultipartFormData::requestByFinalizingMultipartFormData() {
    if (bodyStream_->isEmpty()) {
        return request_;
    }
    bodyStream_->setInitialAndFinalBoundaries();
    platform::net::URLRequest request = request_;
    request.body.reset();
    request.bodyFile.reset();
    // Each attempt reads its own copy from the first byte.
    request.bodyStream = [stream = std::shared_ptr<const HCMultipartBodyStream>(bodyStream_)] {
        return std::unique_ptr<platform::net::BodyStream>(stream->copy());
    };
    request.headers.set("Content-Type", "multipart/form-data; boundary=" + boundary_);
    request.headers.set("Content-Length", std::to_string(bodyStream_->contentLength()));
    return request;
}
