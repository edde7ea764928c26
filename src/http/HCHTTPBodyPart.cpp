#include "http/HCHTTPBodyPart.h"

#include <algorithm>
#include <cstring>

#include "platform/net/FileBodyStream.h"
#include "platform/net/URLError.h"

namespace {

constexpr const char* kCRLF = "\r\n";

}  // namespace

std::unique_ptr<HCHTTPBodyPart> HCHTTPBodyPart::copy() const {
    auto made = std::make_unique<HCHTTPBodyPart>();
    made->stringEncoding = stringEncoding;
    made->headers = headers;
    made->bodyContentLength = bodyContentLength;
    made->body = body;
    made->boundary = boundary;
    return made;
}

std::string HCHTTPBodyPart::boundaryText() const {
    return hasInitialBoundary ? "--" + boundary + kCRLF
                              : std::string(kCRLF) + "--" + boundary + kCRLF;
}

std::string HCHTTPBodyPart::finalBoundaryText() const {
    return hasFinalBoundary ? std::string(kCRLF) + "--" + boundary + "--" + kCRLF : std::string();
}

std::string HCHTTPBodyPart::stringForHeaders() const {
    std::string text;
    for (const auto& [field, value] : headers.fields()) {
        text += field + ": " + value + kCRLF;
    }
    return text + kCRLF;
}

std::uint64_t HCHTTPBodyPart::contentLength() const {
    return boundaryText().size() + stringForHeaders().size() + bodyContentLength +
           finalBoundaryText().size();
}

bool HCHTTPBodyPart::hasBytesAvailable() const {
    if (phase_ == Phase::finalBoundary) {
        return true;
    }
    return status_ == BodyStatus::notOpen || status_ == BodyStatus::open;
}

std::size_t HCHTTPBodyPart::copyText(const std::string& text, std::span<std::uint8_t> buffer) {
    const std::size_t left = text.size() - std::min<std::size_t>(phaseReadOffset_, text.size());
    const std::size_t count = std::min(left, buffer.size());
    std::memcpy(buffer.data(), text.data() + phaseReadOffset_, count);
    phaseReadOffset_ += count;
    if (phaseReadOffset_ >= text.size()) {
        transitionToNextPhase();
    }
    return count;
}

std::int64_t HCHTTPBodyPart::read(std::span<std::uint8_t> buffer) {
    std::size_t total = 0;
    while (total < buffer.size() && hasBytesAvailable()) {
        const std::span<std::uint8_t> rest = buffer.subspan(total);
        switch (phase_) {
            case Phase::encapsulationBoundary:
                total += copyText(boundaryText(), rest);
                break;
            case Phase::header:
                total += copyText(stringForHeaders(), rest);
                break;
            case Phase::body: {
                const std::int64_t got = readBody(rest);
                if (got < 0) {
                    return -1;
                }
                total += static_cast<std::size_t>(got);
                break;
            }
            case Phase::finalBoundary:
                total += copyText(finalBoundaryText(), rest);
                break;
        }
    }
    return static_cast<std::int64_t>(total);
}

std::int64_t HCHTTPBodyPart::readBody(std::span<std::uint8_t> buffer) {
    const std::uint64_t remaining = bodyContentLength - bodyRead_;
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(remaining, buffer.size()));
    std::size_t got = 0;
    if (want > 0) {
        if (const auto* bytes = std::get_if<std::shared_ptr<const platform::Bytes>>(&body)) {
            const platform::Bytes& data = **bytes;
            got = std::min<std::size_t>(
                want, data.size() - std::min<std::size_t>(bodyRead_, data.size()));
            std::memcpy(buffer.data(), data.data() + bodyRead_, got);
        } else if (input_) {
            auto read = input_->read(buffer.first(want));
            if (!read) {
                error_ = read.error();
                status_ = BodyStatus::error;
                return -1;
            }
            got = *read;
        }
        if (got == 0) {
            error_ = platform::Error{platform::net::kURLErrorDomain,
                                     platform::net::urlerror::requestBodyStreamExhausted,
                                     "a part's body ended before its length"};
            status_ = BodyStatus::error;
            return -1;
        }
    }
    bodyRead_ += got;
    if (bodyRead_ >= bodyContentLength) {
        status_ = BodyStatus::atEnd;
        transitionToNextPhase();
    }
    return static_cast<std::int64_t>(got);
}

// Runs on the reading thread: nothing here waits for another thread.
void HCHTTPBodyPart::transitionToNextPhase() {
    phaseReadOffset_ = 0;
    switch (phase_) {
        case Phase::encapsulationBoundary:
            phase_ = Phase::header;
            return;
        case Phase::header:
            if (const auto* path = std::get_if<std::filesystem::path>(&body)) {
                input_ = std::make_shared<platform::net::FileBodyStream>(*path);
            } else if (const auto* stream =
                           std::get_if<std::shared_ptr<platform::net::BodyStream>>(&body)) {
                input_ = *stream;
            }
            status_ = BodyStatus::open;
            phase_ = Phase::body;
            return;
        case Phase::body:
            input_.reset();
            phase_ = Phase::finalBoundary;
            return;
        case Phase::finalBoundary:
            phase_ = Phase::encapsulationBoundary;
            return;
    }
}
