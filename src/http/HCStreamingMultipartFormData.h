#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "http/HCError.h"
#include "http/HCMultipartBodyStream.h"
#include "platform/foundation/Value.h"
#include "platform/net/HTTPMessage.h"

// What a caller's block fills a multipart body with. Field names and file names are written
// inside quotes with '"', CR and LF percent-encoded, so no name can end its header line or
// start another part.
class HCMultipartFormData {
public:
    virtual ~HCMultipartFormData() = default;

    // The file name is the URL's last path component and the type comes from its extension.
    virtual bool appendPartWithFileURL(std::string_view fileURL, std::string_view name,
                                       std::optional<HCError>* error) = 0;
    // False, with the reason in error when given, for a URL that is no file URL, a file that
    // cannot be reached or whose size cannot be read. The file is read while it is sent.
    virtual bool appendPartWithFileURL(std::string_view fileURL, std::string_view name,
                                       std::string_view fileName, std::string_view mimeType,
                                       std::optional<HCError>* error) = 0;
    virtual void appendPartWithInputStream(std::shared_ptr<platform::net::BodyStream> stream,
                                           std::string_view name, std::string_view fileName,
                                           std::int64_t length, std::string_view mimeType) = 0;
    virtual void appendPartWithFileData(platform::Bytes data, std::string_view name,
                                        std::string_view fileName, std::string_view mimeType) = 0;
    virtual void appendPartWithFormData(platform::Bytes data, std::string_view name) = 0;
    virtual void appendPartWithHeaders(platform::net::HTTPHeaders headers,
                                       platform::Bytes body) = 0;
    virtual void throttleBandwidthWithPacketSize(std::uint64_t numberOfBytes, double delay) = 0;
};

// Builds one multipart request: parts go into a body stream that the finished request reads
// as it is sent.
class HCStreamingMultipartFormData final : public HCMultipartFormData {
public:
    HCStreamingMultipartFormData(platform::net::URLRequest request, std::string stringEncoding);

    [[nodiscard]] const std::string& boundary() const { return boundary_; }
    [[nodiscard]] const std::shared_ptr<HCMultipartBodyStream>& bodyStream() const {
        return bodyStream_;
    }

    bool appendPartWithFileURL(std::string_view fileURL, std::string_view name,
                               std::optional<HCError>* error) override;
    bool appendPartWithFileURL(std::string_view fileURL, std::string_view name,
                               std::string_view fileName, std::string_view mimeType,
                               std::optional<HCError>* error) override;
    void appendPartWithInputStream(std::shared_ptr<platform::net::BodyStream> stream,
                                   std::string_view name, std::string_view fileName,
                                   std::int64_t length, std::string_view mimeType) override;
    void appendPartWithFileData(platform::Bytes data, std::string_view name,
                                std::string_view fileName, std::string_view mimeType) override;
    void appendPartWithFormData(platform::Bytes data, std::string_view name) override;
    void appendPartWithHeaders(platform::net::HTTPHeaders headers, platform::Bytes body) override;
    void throttleBandwidthWithPacketSize(std::uint64_t numberOfBytes, double delay) override;

    // The request unchanged when no part was added; otherwise with the body stream (a fresh
    // copy for every attempt), its Content-Type with the boundary and its Content-Length.
    [[nodiscard]] platform::net::URLRequest requestByFinalizingMultipartFormData();

private:
    void appendPart(platform::net::HTTPHeaders headers, HCHTTPBodyPart::Body body,
                    std::uint64_t length);

    platform::net::URLRequest request_;
    std::string stringEncoding_;
    std::string boundary_;
    std::shared_ptr<HCMultipartBodyStream> bodyStream_;
};

// The MIME type for a file name's extension; "application/octet-stream" when unknown.
std::string HCContentTypeForPathExtension(std::string_view extension);
