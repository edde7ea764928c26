#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "http/HCHTTPRequestOperation.h"
#include "http/HCNetworkReachabilityManager.h"
#include "http/HCSecurityPolicy.h"
#include "http/HCStreamingMultipartFormData.h"
#include "http/HCURLRequestSerialization.h"
#include "http/HCURLResponseSerialization.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/net/URL.h"

// Makes HTTP request operations from a base URL, a method, a URL text and parameters, gives
// them its shared settings and runs them on its own operation queue.
class HCHTTPRequestOperationManager {
public:
    using Operation = std::shared_ptr<HCHTTPRequestOperation>;
    using Success = HCHTTPRequestOperation::Success;
    using HeadSuccess = std::function<void(const Operation&)>;
    // The operation is null when no request could be made.
    using Failure = HCHTTPRequestOperation::Failure;

    static std::unique_ptr<HCHTTPRequestOperationManager> manager();
    // A base URL with a path gets a trailing "/", so relative paths resolve below it. Text
    // that is no URL leaves no base. The process's loader when none is given.
    explicit HCHTTPRequestOperationManager(std::optional<std::string> baseURL = std::nullopt,
                                           platform::net::URLLoader* loader = nullptr);

    [[nodiscard]] const std::optional<platform::net::URL>& baseURL() const { return baseURL_; }
    std::shared_ptr<HCHTTPRequestSerializer> requestSerializer =
        HCHTTPRequestSerializer::serializer();
    std::shared_ptr<const HCURLResponseSerialization> responseSerializer =
        HCJSONResponseSerializer::serializer();
    [[nodiscard]] const std::shared_ptr<platform::OperationQueue>& operationQueue() const {
        return operationQueue_;
    }
    bool shouldUseCredentialStorage = true;
    std::optional<std::string> credential;
    HCSecurityPolicy securityPolicy = HCSecurityPolicy::defaultPolicy();
    // The anchors the operations judge server chains against; empty: the machine's.
    std::vector<platform::Bytes> anchorCertificates;
    [[nodiscard]] HCNetworkReachabilityManager& reachabilityManager() const {
        return HCNetworkReachabilityManager::sharedManager();
    }
    // Null: the main queue; it must outlive the completions.
    platform::DispatchQueue* completionQueue = nullptr;
    std::shared_ptr<platform::DispatchGroup> completionGroup;

    // An operation with the manager's settings and the blocks; not queued.
    Operation HTTPRequestOperationWithRequest(platform::net::URLRequest request, Success success,
                                              Failure failure);
    // Null, and failure later on the completion queue, when no request could be made.
    Operation HTTPRequestOperationWithHTTPMethod(std::string_view method,
                                                 std::string_view URLString,
                                                 const platform::Value& parameters, Success success,
                                                 Failure failure);

    // Each queues the operation it returns; null when no request could be made.
    Operation GET(std::string_view URLString, const platform::Value& parameters, Success success,
                  Failure failure);
    Operation HEAD(std::string_view URLString, const platform::Value& parameters,
                   HeadSuccess success, Failure failure);
    Operation POST(std::string_view URLString, const platform::Value& parameters, Success success,
                   Failure failure);
    Operation POST(std::string_view URLString, const platform::Value& parameters,
                   const std::function<void(HCMultipartFormData&)>& constructingBody,
                   Success success, Failure failure);
    Operation PUT(std::string_view URLString, const platform::Value& parameters, Success success,
                  Failure failure);
    Operation PATCH(std::string_view URLString, const platform::Value& parameters, Success success,
                    Failure failure);
    Operation DELETE(std::string_view URLString, const platform::Value& parameters, Success success,
                     Failure failure);

    // A new manager for the same base URL with copies of both serializers.
    [[nodiscard]] std::unique_ptr<HCHTTPRequestOperationManager> copy() const;
    [[nodiscard]] std::string description() const;

private:
    using MakeRequest = std::function<std::optional<platform::net::URLRequest>(
        const std::string& url, std::optional<HCError>* error)>;
    // The operation for the request made for the resolved URL, or null (and failure later).
    Operation operationFor(std::string_view URLString, const MakeRequest& make, Success success,
                           Failure failure);
    std::optional<std::string> absoluteURL(std::string_view URLString, HCError& error) const;
    Operation queued(Operation operation);
    void failLater(const Failure& failure, HCError error) const;

    std::optional<platform::net::URL> baseURL_;
    platform::net::URLLoader* loader_;
    std::shared_ptr<platform::OperationQueue> operationQueue_ =
        std::make_shared<platform::OperationQueue>();
};
