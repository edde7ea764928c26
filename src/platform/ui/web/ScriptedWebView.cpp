#include "platform/ui/web/ScriptedWebView.h"

#include <algorithm>
#include <utility>

namespace platform::ui::web {

ScriptedWebView::ScriptedWebView(ScriptedWebViewFactory& factory, QWidget& parent)
    : WebView(&parent), factory_(factory), weak_(*this, factory.loop()) {
    setName("webView");
}

ScriptedWebView::~ScriptedWebView() {
    factory_.forget(*this);
}

void ScriptedWebView::load(std::string_view url) {
    navigate(std::string(url), NavigationType::other, std::nullopt);
}

void ScriptedWebView::loadHTML(std::string_view html, std::string_view baseURL) {
    navigate(baseURL.empty() ? std::string("about:blank") : std::string(baseURL),
             NavigationType::other, std::string(html));
}

bool ScriptedWebView::follow(std::string_view url, NavigationType type) {
    return navigate(std::string(url), type, std::nullopt);
}

bool ScriptedWebView::navigate(std::string url, NavigationType type,
                               std::optional<std::string> html) {
    if (delegate_ != nullptr &&
        delegate_->decidePolicy({.url = url, .type = type, .mainFrame = true}) ==
            NavigationPolicy::cancel) {
        return false;
    }
    if (!loadsScheme(url)) {
        // Told from the loop, as the engine tells it.
        factory_.loop().post([weak = weak_.weakPtr(), url] {
            ScriptedWebView* self = weak.get();
            if (self != nullptr && self->delegate_ != nullptr) {
                self->delegate_->didFailLoading(
                    url, {kErrorDomain, kUnsupportedURL, "no web view loads this address: " + url});
            }
        });
        return true;
    }
    // The load this one replaces ends first, as the engine's does.
    if (loading_) {
        fail({kErrorDomain, kCancelled, "the load was stopped"});
    }
    double seconds = 0;
    std::optional<Error> failure;
    if (html) {
        html_ = std::move(*html);
    } else if (auto page = factory_.pageAt(url)) {
        seconds = page->seconds;
        failure = page->failure;
    } else {
        failure = Error{kErrorDomain, kLoadFailed, "no page is scripted at " + url};
    }
    begin(url);
    const unsigned serial = loading_->serial;
    factory_.loop().postDelayed(seconds, [weak = weak_.weakPtr(), serial, failure] {
        if (ScriptedWebView* self = weak.get()) {
            if (!self->loading_ || self->loading_->serial != serial) {
                return;
            }
            if (failure) {
                self->fail(*failure);
            } else {
                self->end(serial);
            }
        }
    });
    return true;
}

void ScriptedWebView::begin(std::string url) {
    url_ = url;
    loading_ = Loading{.url = std::move(url), .serial = ++serial_};
    if (delegate_ != nullptr) {
        delegate_->didStartLoading(url_);
    }
}

void ScriptedWebView::end(unsigned serial) {
    if (!loading_ || loading_->serial != serial) {
        return;
    }
    const std::string url = loading_->url;
    loading_.reset();
    if (delegate_ != nullptr) {
        delegate_->didFinishLoading(url);
    }
}

void ScriptedWebView::fail(const Error& error) {
    if (!loading_) {
        return;
    }
    const std::string url = loading_->url;
    loading_.reset();
    if (delegate_ != nullptr) {
        delegate_->didFailLoading(url, error);
    }
}

void ScriptedWebView::stop() {
    fail({kErrorDomain, kCancelled, "the load was stopped"});
}

void ScriptedWebView::evaluate(std::string_view script, ScriptDone done) {
    scripts_.emplace_back(script);
    if (!done) {
        return;
    }
    factory_.loop().post(
        [weak = weak_.weakPtr(), script = std::string(script), done = std::move(done)] {
            if (ScriptedWebView* self = weak.get()) {
                done(self->factory_.answer(self->url_, script));
            }
        });
}

void ScriptedWebViewFactory::setUnavailable(std::string reason) {
    unavailable_ = Error{kErrorDomain, kUnavailable, std::move(reason)};
}

Result<WebView*> ScriptedWebViewFactory::make(QWidget& parent) {
    if (unavailable_) {
        return *unavailable_;
    }
    auto* view = new ScriptedWebView(*this, parent);
    views_.push_back(view);
    return static_cast<WebView*>(view);
}

void ScriptedWebViewFactory::servePage(std::string url, Page page) {
    pages_.insert_or_assign(std::move(url), std::move(page));
}

std::optional<ScriptedWebViewFactory::Page> ScriptedWebViewFactory::pageAt(
    const std::string& url) const {
    const auto found = pages_.find(url);
    if (found == pages_.end()) {
        return std::nullopt;
    }
    return found->second;
}

Value ScriptedWebViewFactory::answer(const std::string& url, const std::string& script) const {
    return scriptAnswer_ ? scriptAnswer_(url, script) : Value();
}

std::vector<ScriptedWebView*> ScriptedWebViewFactory::views() const {
    return views_;
}

ScriptedWebView* ScriptedWebViewFactory::lastView() const {
    return views_.empty() ? nullptr : views_.back();
}

void ScriptedWebViewFactory::forget(ScriptedWebView& view) {
    views_.erase(std::remove(views_.begin(), views_.end(), &view), views_.end());
}

}  // namespace platform::ui::web
