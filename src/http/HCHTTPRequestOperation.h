#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "http/HCURLConnectionOperation.h"
#include "http/HCURLResponseSerialization.h"

// A request operation whose finished body becomes a result object through a response
// serializer, with one success or one failure block, and whose pause prepares a resume of
// the body from where it stopped ("Range", and "If-Range" with the response's ETag).
class HCHTTPRequestOperation : public HCURLConnectionOperation {
public:
    using Success = std::function<void(const std::shared_ptr<HCHTTPRequestOperation>& operation,
                                       const HCResponseObject& responseObject)>;
    using Failure = std::function<void(const std::shared_ptr<HCHTTPRequestOperation>& operation,
                                       const HCError& error)>;

    static std::shared_ptr<HCHTTPRequestOperation> make(platform::net::URLRequest request,
                                                        platform::net::URLLoader* loader = nullptr);
    // Same request, loader, blocks, queue and group, and a copy of the serializer.
    [[nodiscard]] std::shared_ptr<HCHTTPRequestOperation> copy() const;

    [[nodiscard]] std::shared_ptr<const HCURLResponseSerialization> responseSerializer() const;
    // Clears the result and its error, so the next read serializes again.
    void setResponseSerializer(std::shared_ptr<const HCURLResponseSerialization> serializer);

    // Made once the operation finished without error; a serializer's refusal becomes error().
    HCResponseObject responseObject();
    [[nodiscard]] std::optional<HCError> error() const override;

    // Either block may be empty. Serialization runs on a global queue; the block runs on the
    // completion queue (else the main queue) exactly once.
    void setCompletionBlockWithSuccess(Success success, Failure failure);

    // Stops the transfer as the base does, then asks the rest of the body next time:
    // "Range: bytes=<bytes kept>-" and "If-Range" with the response's ETag when it had one.
    void pause() override;

private:
    using HCURLConnectionOperation::HCURLConnectionOperation;

    std::shared_ptr<const HCURLResponseSerialization> serializer_ =
        HCHTTPResponseSerializer::serializer();
    std::optional<HCResponseObject> responseObject_;
    std::optional<HCError> serializationError_;
};
