#include "http/HCHTTPSessionManager.h"

std::unique_ptr<HCHTTPSessionManager> HCHTTPSessionManager::manager() {
    return std::make_unique<HCHTTPSessionManager>();
}

HCHTTPSessionManager::HCHTTPSessionManager(
    std::optional<std::string> baseURL,
    std::optional<platform::net::URLSessionConfiguration> configuration,
    platform::net::URLLoader* loader)
    : HCURLSessionManager(std::move(configuration), loader),
      requestSerializer_(HCHTTPRequestSerializer::serializer()) {
    if (baseURL) {
        if (const auto parsed = platform::net::URL::parse(*baseURL)) {
            baseURL_ = parsed->withTrailingSlash();
        }
    }
    setResponseSerializer(HCJSONResponseSerializer::serializer());
}

platform::Value HCHTTPSessionManager::encode() const {
    platform::Value coded = HCURLSessionManager::encode();
    if (baseURL_) {
        coded["baseURL"] = platform::Value(baseURL_->absoluteString());
    }
    coded["requestSerializer"] = requestSerializer_->encode();
    const auto response = responseSerializer();
    if (const auto* coding = dynamic_cast<const HCHTTPResponseSerializer*>(response.get())) {
        coded["responseSerializer"] = coding->encode();
    }
    return coded;
}

std::unique_ptr<HCHTTPSessionManager> HCHTTPSessionManager::decode(
    const platform::Value& coded, platform::net::URLLoader* loader) {
    auto configuration = decodeConfiguration(coded["sessionConfiguration"]);
    if (const std::string* identifier = coded["identifier"].stringIf();
        !configuration && identifier != nullptr) {
        configuration.emplace().identifier = *identifier;
    }
    const std::string* base = coded["baseURL"].stringIf();
    auto made = std::make_unique<HCHTTPSessionManager>(
        base ? std::optional<std::string>(*base) : std::nullopt, std::move(configuration), loader);
    if (auto request = HCHTTPRequestSerializer::decode(coded["requestSerializer"])) {
        made->setRequestSerializer(std::move(request));
    }
    if (auto response = HCHTTPResponseSerializer::decode(coded["responseSerializer"])) {
        made->setResponseSerializer(std::move(response));
    }
    return made;
}

std::unique_ptr<HCURLSessionManager> HCHTTPSessionManager::copy() const {
    auto made = std::make_unique<HCHTTPSessionManager>(
        baseURL_ ? std::optional(baseURL_->absoluteString()) : std::nullopt,
        session()->configuration(), loader());
    made->setRequestSerializer(requestSerializer_->copy());
    made->setResponseSerializer(responseSerializer()->copy());
    return made;
}

void HCHTTPSessionManager::failLater(Failure failure, HCError error) {
    if (!failure) {
        return;
    }
    completionQueueOrMain().async(
        [failure = std::move(failure), error = std::move(error)] { failure(nullptr, error); });
}

HCURLSessionManager::Task HCHTTPSessionManager::dataTaskWithHTTPMethod(
    std::string_view method, std::string_view URLString, const platform::Value& parameters,
    Success success, Failure failure) {
    const auto url = baseURL_ ? platform::net::URL::resolve(URLString, *baseURL_)
                              : platform::net::URL::parse(URLString);
    std::optional<HCError> error;
    std::optional<platform::net::URLRequest> request;
    if (url) {
        request = requestSerializer_->requestWithMethod(method, url->absoluteString(), parameters,
                                                        &error);
    } else {
        HCError bad;
        bad.domain = platform::net::kURLErrorDomain;
        bad.code = platform::net::urlerror::badURL;
        bad.localizedDescription = "bad URL";
        bad.failingURL = std::string(URLString);
        error = bad;
    }
    if (error || !request) {
        failLater(std::move(failure), error.value_or(HCError{}));
        return nullptr;
    }
    // The task is only known once made; the completion reads it from a shared slot.
    auto slot = std::make_shared<Task>();
    auto made = dataTask(std::move(*request),
                         [slot, success = std::move(success), failure](
                             const std::optional<platform::net::URLResponse>&,
                             const HCResponseObject& object, const std::optional<HCError>& failed) {
                             if (failed) {
                                 if (failure) {
                                     failure(*slot, *failed);
                                 }
                             } else if (success) {
                                 success(*slot, object);
                             }
                         });
    if (!made) {
        failLater(std::move(failure), HCError::fromError(made.error()));
        return nullptr;
    }
    *slot = *made;
    return *made;
}

HCURLSessionManager::Task HCHTTPSessionManager::resumed(Task task) {
    if (task) {
        task->resume();
    }
    return task;
}

HCURLSessionManager::Task HCHTTPSessionManager::GET(std::string_view URLString,
                                                    const platform::Value& parameters,
                                                    Success success, Failure failure) {
    return resumed(dataTaskWithHTTPMethod("GET", URLString, parameters, std::move(success),
                                          std::move(failure)));
}

HCURLSessionManager::Task HCHTTPSessionManager::HEAD(std::string_view URLString,
                                                     const platform::Value& parameters,
                                                     HeadSuccess success, Failure failure) {
    Success adapted;
    if (success) {
        adapted = [success = std::move(success)](const Task& task, const HCResponseObject&) {
            success(task);
        };
    }
    return resumed(dataTaskWithHTTPMethod("HEAD", URLString, parameters, std::move(adapted),
                                          std::move(failure)));
}

HCURLSessionManager::Task HCHTTPSessionManager::POST(std::string_view URLString,
                                                     const platform::Value& parameters,
                                                     Success success, Failure failure) {
    return resumed(dataTaskWithHTTPMethod("POST", URLString, parameters, std::move(success),
                                          std::move(failure)));
}

HCURLSessionManager::Task HCHTTPSessionManager::PUT(std::string_view URLString,
                                                    const platform::Value& parameters,
                                                    Success success, Failure failure) {
    return resumed(dataTaskWithHTTPMethod("PUT", URLString, parameters, std::move(success),
                                          std::move(failure)));
}

HCURLSessionManager::Task HCHTTPSessionManager::PATCH(std::string_view URLString,
                                                      const platform::Value& parameters,
                                                      Success success, Failure failure) {
    return resumed(dataTaskWithHTTPMethod("PATCH", URLString, parameters, std::move(success),
                                          std::move(failure)));
}

HCURLSessionManager::Task HCHTTPSessionManager::DELETE(std::string_view URLString,
                                                       const platform::Value& parameters,
                                                       Success success, Failure failure) {
    return resumed(dataTaskWithHTTPMethod("DELETE", URLString, parameters, std::move(success),
                                          std::move(failure)));
}
