#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "http/HCURLRequestSerialization.h"
#include "http/HCURLSessionManager.h"
#include "platform/net/URL.h"

// The HTTP layer over the session manager: a base URL, a request serializer and one call per
// verb that builds the request, starts a data task and reports through two blocks.
class HCHTTPSessionManager : public HCURLSessionManager {
public:
    using Success = std::function<void(const Task&, const HCResponseObject&)>;
    using HeadSuccess = std::function<void(const Task&)>;
    // The task is null when no request could be made.
    using Failure = std::function<void(const Task&, const HCError&)>;

    // A new manager (and session) on every call.
    static std::unique_ptr<HCHTTPSessionManager> manager();

    // A base URL with a path gets a trailing "/", so relative paths resolve below it. Text
    // that is no URL leaves no base.
    explicit HCHTTPSessionManager(
        std::optional<std::string> baseURL = std::nullopt,
        std::optional<platform::net::URLSessionConfiguration> configuration = std::nullopt,
        platform::net::URLLoader* loader = nullptr);

    [[nodiscard]] const std::optional<platform::net::URL>& baseURL() const { return baseURL_; }
    [[nodiscard]] const std::shared_ptr<HCHTTPRequestSerializer>& requestSerializer() const {
        return requestSerializer_;
    }
    void setRequestSerializer(std::shared_ptr<HCHTTPRequestSerializer> serializer) {
        requestSerializer_ = std::move(serializer);
    }

    // Each resumes the task it returns; null when no request could be made (failure then runs
    // later on the completion queue with a null task).
    Task GET(std::string_view URLString, const platform::Value& parameters, Success success,
             Failure failure);
    Task HEAD(std::string_view URLString, const platform::Value& parameters, HeadSuccess success,
              Failure failure);
    Task POST(std::string_view URLString, const platform::Value& parameters, Success success,
              Failure failure);
    Task PUT(std::string_view URLString, const platform::Value& parameters, Success success,
             Failure failure);
    Task PATCH(std::string_view URLString, const platform::Value& parameters, Success success,
               Failure failure);
    Task DELETE(std::string_view URLString, const platform::Value& parameters, Success success,
                Failure failure);

    // Coding: what the base codes (the configuration), then the base URL under "baseURL" and
    // the serializers under "requestSerializer" and
    // "responseSerializer" (when it is one of the coded kinds).
    [[nodiscard]] platform::Value encode() const override;
    // A manager with the coded base URL and configuration (a background one when only an
    // "identifier" was coded), then the decoded serializers.
    static std::unique_ptr<HCHTTPSessionManager> decode(const platform::Value& coded,
                                                        platform::net::URLLoader* loader = nullptr);
    // The same base URL and configuration, with copies of both serializers.
    [[nodiscard]] std::unique_ptr<HCURLSessionManager> copy() const override;

    // The shared body of the verbs; the task is not resumed.
    Task dataTaskWithHTTPMethod(std::string_view method, std::string_view URLString,
                                const platform::Value& parameters, Success success,
                                Failure failure);

private:
    Task resumed(Task task);
    void failLater(Failure failure, HCError error);

    std::optional<platform::net::URL> baseURL_;
    std::shared_ptr<HCHTTPRequestSerializer> requestSerializer_;
};
