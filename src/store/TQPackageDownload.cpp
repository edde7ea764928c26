#include "store/TQPackageDownload.h"

#include <algorithm>
#include <charconv>
#include <system_error>
#include <utility>

#include "http/HCHTTPRequestOperation.h"
#include "logging/LGLog.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/OutputStream.h"
#include "platform/net/URL.h"
#include "store/TQDownloadKavoAppOperation.h"

namespace fs = std::filesystem;

namespace {

platform::Error packageError(long code, std::string message) {
    return platform::Error{TQPackageDownload::kErrorDomain, code, std::move(message)};
}

}  // namespace

std::optional<std::uint64_t> TQPackageDownload::announcedSize(std::string_view url) {
    const auto text = TQDownloadKavoAppOperation::sizeFromURL(url);
    if (!text) {
        return std::nullopt;
    }
    std::uint64_t size = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), size);
    if (error != std::errc() || end != text->data() + text->size() || size == 0) {
        return std::nullopt;
    }
    return size;
}

TQPackageDownload::TQPackageDownload(Request request, Progress progress, Completion completion)
    : request_(std::move(request)),
      announced_(announcedSize(request_.url)),
      bound_(std::min(announced_.value_or(kMaxPackageBytes), kMaxPackageBytes)),
      progress_(std::move(progress)),
      completion_(std::move(completion)) {}

TQPackageDownload::~TQPackageDownload() {
    if (operation_) {
        operation_->cancel();
    }
}

std::shared_ptr<TQPackageDownload> TQPackageDownload::start(Request request, Progress progress,
                                                            Completion completion) {
    std::shared_ptr<TQPackageDownload> download(
        new TQPackageDownload(std::move(request), std::move(progress), std::move(completion)));
    download->begin();
    return download;
}

std::optional<platform::Error> TQPackageDownload::refusal() const {
    const auto url = platform::net::URL::parse(request_.url);
    if (!url) {
        return platform::Error{platform::net::kURLErrorDomain, platform::net::urlerror::badURL,
                               "no URL: " + request_.url};
    }
    // What the store names travels only where its server is verified.
    if (request_.source == Source::store && url->scheme() != "https") {
        return packageError(insecureURL, "a store package comes over HTTPS only: " + request_.url);
    }
    if (announced_ && *announced_ > kMaxPackageBytes) {
        return packageError(tooLarge, "a package of " + std::to_string(*announced_) +
                                          " bytes is larger than " +
                                          std::to_string(kMaxPackageBytes));
    }
    return std::nullopt;
}

void TQPackageDownload::begin() {
    if (auto refused = refusal()) {
        // Answered on the loop as every other end, never inside start.
        platform::RunLoop::main().post(
            [self = shared_from_this(), error = std::move(*refused)] { self->end(error); });
        return;
    }
    auto partial = platform::fs::createTemporaryFile(request_.destination);
    if (!partial.ok()) {
        platform::RunLoop::main().post([self = shared_from_this(), error = partial.error()] {
            self->end(packageError(notSaved, error.message));
        });
        return;
    }
    partial_ = std::move(partial).value();
    platform::net::URLRequest request;
    request.url = request_.url;
    request.timeoutInterval = kSilenceTimeout;
    request.limits = platform::net::TransferLimits::download(bound_);
    operation_ = HCHTTPRequestOperation::make(std::move(request), request_.loader);
    operation_->setAnchorCertificates(request_.anchors);
    operation_->setMaximumContentLength(bound_);
    operation_->setOutputStream(
        std::make_shared<platform::net::FileOutputStream>(partial_, false, bound_));
    const std::weak_ptr<TQPackageDownload> weak = weak_from_this();
    operation_->setDownloadProgressBlock(
        [weak](std::uint64_t, std::int64_t total, std::int64_t expected) {
            if (auto self = weak.lock()) {
                self->onProgress(static_cast<std::uint64_t>(std::max<std::int64_t>(total, 0)),
                                 expected);
            }
        });
    // Only a 2xx answer is a package: the default serializer refuses every other status. The
    // blocks hold the download until the transfer has said how it ended.
    auto self = shared_from_this();
    operation_->setCompletionBlockWithSuccess(
        [self](const std::shared_ptr<HCHTTPRequestOperation>&, const platform::Value&) {
            self->onTransferEnd(std::nullopt);
        },
        [self](const std::shared_ptr<HCHTTPRequestOperation>& operation, const HCError& error) {
            const auto response = operation->response();
            const std::int64_t expected = response ? response->expectedContentLength : -1;
            if (expected > 0 && static_cast<std::uint64_t>(expected) > self->bound_) {
                LG_WARN("TQPackageDownload: %@ announces %@ bytes, more than %@",
                        self->request_.url, std::to_string(expected), std::to_string(self->bound_));
                self->onTransferEnd(packageError(
                    tooLarge, "the answer announces " + std::to_string(expected) +
                                  " bytes, more than " + std::to_string(self->bound_)));
                return;
            }
            self->onTransferEnd(
                platform::Error{error.domain, error.code, error.localizedDescription});
        });
    operation_->start();
}

void TQPackageDownload::cancel() {
    if (operation_) {
        operation_->cancel();
    }
}

void TQPackageDownload::onProgress(std::uint64_t received, std::int64_t expected) {
    if (!completion_) {
        return;
    }
    if (progress_) {
        progress_(received, expected);
    }
}

void TQPackageDownload::onTransferEnd(std::optional<platform::Error> error) {
    operation_.reset();
    if (!completion_) {
        return;
    }
    if (error) {
        end(std::move(*error));
        return;
    }
    std::error_code failure;
    const auto size = fs::file_size(partial_, failure);
    if (failure) {
        end(packageError(notSaved, "no package at " + partial_.string()));
        return;
    }
    if (announced_ && size != *announced_) {
        end(packageError(sizeMismatch, "the package has " + std::to_string(size) +
                                           " bytes, the store said " +
                                           std::to_string(*announced_)));
        return;
    }
    fs::rename(partial_, request_.destination, failure);
    if (failure) {
        end(packageError(
            notSaved, "cannot save " + request_.destination.string() + ": " + failure.message()));
        return;
    }
    end(request_.destination);
}

void TQPackageDownload::end(platform::Result<fs::path> result) {
    auto completion = std::exchange(completion_, nullptr);
    progress_ = nullptr;
    if (!result.ok() && !partial_.empty()) {
        std::error_code ignored;
        fs::remove(partial_, ignored);
    }
    partial_.clear();
    if (completion) {
        completion(std::move(result));
    }
}
