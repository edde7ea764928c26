#include "http/HCHTTPRequestOperationManager.h"

#include <cstdio>

std::unique_ptr<HCHTTPRequestOperationManager> HCHTTPRequestOperationManager::manager() {
    return std::make_unique<HCHTTPRequestOperationManager>();
}

HCHTTPRequestOperationManager::HCHTTPRequestOperationManager(std::optional<std::string> baseURL,
                                                             platform::net::URLLoader* loader)
    : loader_(loader) {
    if (baseURL) {
        if (const auto parsed = platform::net::URL::parse(*baseURL)) {
            baseURL_ = parsed->withTrailingSlash();
        }
    }
}

std::unique_ptr<HCHTTPRequestOperationManager> HCHTTPRequestOperationManager::copy() const {
    auto made = std::make_unique<HCHTTPRequestOperationManager>(std::nullopt, loader_);
    made->baseURL_ = baseURL_;
    made->requestSerializer = requestSerializer->copy();
    made->responseSerializer = responseSerializer->copy();
    return made;
}

std::string HCHTTPRequestOperationManager::description() const {
    char head[96];
    std::snprintf(head, sizeof head,
                  "<HCHTTPRequestOperationManager: %p, baseURL: ", static_cast<const void*>(this));
    char queue[64];
    std::snprintf(queue, sizeof queue, ", operationQueue: %p>",
                  static_cast<const void*>(operationQueue_.get()));
    return head + (baseURL_ ? baseURL_->absoluteString() : std::string("(null)")) + queue;
}

std::optional<std::string> HCHTTPRequestOperationManager::absoluteURL(std::string_view URLString,
                                                                      HCError& error) const {
    const auto url = baseURL_ ? platform::net::URL::resolve(URLString, *baseURL_)
                              : platform::net::URL::parse(URLString);
    if (!url) {
        error.domain = platform::net::kURLErrorDomain;
        error.code = platform::net::urlerror::badURL;
        error.localizedDescription = "bad URL";
        error.failingURL = std::string(URLString);
        return std::nullopt;
    }
    return url->absoluteString();
}

void HCHTTPRequestOperationManager::failLater(const Failure& failure, HCError error) const {
    if (!failure) {
        return;
    }
    platform::DispatchQueue& queue =
        completionQueue != nullptr ? *completionQueue : platform::DispatchQueue::main();
    queue.async([failure, error = std::move(error)] { failure(nullptr, error); });
}

HCHTTPRequestOperationManager::Operation HCHTTPRequestOperationManager::queued(
    Operation operation) {
    if (operation) {
        operationQueue_->addOperation(operation);
    }
    return operation;
}

HCHTTPRequestOperationManager::Operation
HCHTTPRequestOperationManager::HTTPRequestOperationWithRequest(platform::net::URLRequest request,
                                                               Success success, Failure failure) {
    Operation operation = HCHTTPRequestOperation::make(std::move(request), loader_);
    operation->setResponseSerializer(responseSerializer);
    operation->shouldUseCredentialStorage = shouldUseCredentialStorage;
    operation->credential = credential;
    operation->setSecurityPolicy(securityPolicy);
    operation->setAnchorCertificates(anchorCertificates);
    operation->setCompletionBlockWithSuccess(std::move(success), std::move(failure));
    operation->setCompletionQueue(completionQueue);
    operation->setCompletionGroup(completionGroup);
    return operation;
}

HCHTTPRequestOperationManager::Operation HCHTTPRequestOperationManager::operationFor(
    std::string_view URLString, const MakeRequest& make, Success success, Failure failure) {
    HCError error;
    const auto url = absoluteURL(URLString, error);
    std::optional<HCError> serializerError;
    std::optional<platform::net::URLRequest> request;
    if (url) {
        request = make(*url, &serializerError);
    }
    if (!request || serializerError) {
        failLater(failure, serializerError.value_or(error));
        return nullptr;
    }
    return HTTPRequestOperationWithRequest(std::move(*request), std::move(success),
                                           std::move(failure));
}

HCHTTPRequestOperationManager::Operation
HCHTTPRequestOperationManager::HTTPRequestOperationWithHTTPMethod(std::string_view method,
                                                                  std::string_view URLString,
                                                                  const platform::Value& parameters,
                                                                  Success success,
                                                                  Failure failure) {
    return operationFor(
        URLString,
        [&](const std::string& url, std::optional<HCError>* error) {
            return requestSerializer->requestWithMethod(method, url, parameters, error);
        },
        std::move(success), std::move(failure));
}

HCHTTPRequestOperationManager::Operation HCHTTPRequestOperationManager::GET(
    std::string_view URLString, const platform::Value& parameters, Success success,
    Failure failure) {
    return queued(HTTPRequestOperationWithHTTPMethod("GET", URLString, parameters,
                                                     std::move(success), std::move(failure)));
}

HCHTTPRequestOperationManager::Operation HCHTTPRequestOperationManager::HEAD(
    std::string_view URLString, const platform::Value& parameters, HeadSuccess success,
    Failure failure) {
    Success dropObject;
    if (success) {
        dropObject = [success = std::move(success)](const Operation& operation,
                                                    const HCResponseObject&) {
            success(operation);
        };
    }
    return queued(HTTPRequestOperationWithHTTPMethod("HEAD", URLString, parameters,
                                                     std::move(dropObject), std::move(failure)));
}

HCHTTPRequestOperationManager::Operation HCHTTPRequestOperationManager::POST(
    std::string_view URLString, const platform::Value& parameters, Success success,
    Failure failure) {
    return queued(HTTPRequestOperationWithHTTPMethod("POST", URLString, parameters,
                                                     std::move(success), std::move(failure)));
}

HCHTTPRequestOperationManager::Operation HCHTTPRequestOperationManager::POST(
    std::string_view URLString, const platform::Value& parameters,
    const std::function<void(HCMultipartFormData&)>& constructingBody, Success success,
    Failure failure) {
    return queued(operationFor(
        URLString,
        [&](const std::string& url, std::optional<HCError>* error) {
            return requestSerializer->multipartFormRequestWithMethod("POST", url, parameters,
                                                                     constructingBody, error);
        },
        std::move(success), std::move(failure)));
}

HCHTTPRequestOperationManager::Operation HCHTTPRequestOperationManager::PUT(
    std::string_view URLString, const platform::Value& parameters, Success success,
    Failure failure) {
    return queued(HTTPRequestOperationWithHTTPMethod("PUT", URLString, parameters,
                                                     std::move(success), std::move(failure)));
}

HCHTTPRequestOperationManager::Operation HCHTTPRequestOperationManager::PATCH(
    std::string_view URLString, const platform::Value& parameters, Success success,
    Failure failure) {
    return queued(HTTPRequestOperationWithHTTPMethod("PATCH", URLString, parameters,
                                                     std::move(success), std::move(failure)));
}

HCHTTPRequestOperationManager::Operation HCHTTPRequestOperationManager::DELETE(
    std::string_view URLString, const platform::Value& parameters, Success success,
    Failure failure) {
    return queued(HTTPRequestOperationWithHTTPMethod("DELETE", URLString, parameters,
                                                     std::move(success), std::move(failure)));
}
