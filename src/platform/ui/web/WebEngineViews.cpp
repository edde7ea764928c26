#include "platform/ui/web/WebEngineViews.h"

#include <unistd.h>

#include <QApplication>
#include <QLibraryInfo>
#include <QPointer>
#include <QTimer>
#include <QWebEngineCookieStore>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <algorithm>
#include <cstdlib>
#include <utility>

#include "platform/foundation/LogSink.h"

namespace platform::ui::web {

namespace {

// The engine takes HTML through an address of the data scheme, which it bounds at 2 MiB.
constexpr qsizetype kMaxDataURL = 2 * 1024 * 1024;
constexpr const char* kDataURLPrefix = "data:text/html;charset=UTF-8,";
// Deeper script results are cut off there (null), as the JSON reader bounds its nesting.
constexpr int kMaxValueDepth = 256;

std::string text(const QUrl& url) {
    return url.toString(QUrl::FullyEncoded).toStdString();
}

NavigationType navigationType(QWebEnginePage::NavigationType type) {
    switch (type) {
        case QWebEnginePage::NavigationTypeLinkClicked:
            return NavigationType::linkActivated;
        case QWebEnginePage::NavigationTypeFormSubmitted:
            return NavigationType::formSubmitted;
        case QWebEnginePage::NavigationTypeBackForward:
            return NavigationType::backForward;
        case QWebEnginePage::NavigationTypeReload:
            return NavigationType::reload;
        case QWebEnginePage::NavigationTypeRedirect:
            return NavigationType::redirect;
        default:
            return NavigationType::other;
    }
}

Value toValue(const QVariant& variant, int depth) {
    if (depth > kMaxValueDepth) {
        return {};
    }
    switch (variant.typeId()) {
        case QMetaType::Bool:
            return variant.toBool();
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::ULongLong:
        case QMetaType::Double:
        case QMetaType::Float:
            return variant.toDouble();
        case QMetaType::QString:
            return variant.toString().toStdString();
        case QMetaType::QByteArray: {
            const QByteArray bytes = variant.toByteArray();
            return Bytes(bytes.begin(), bytes.end());
        }
        case QMetaType::QVariantList: {
            Array items;
            for (const QVariant& item : variant.toList()) {
                items.push_back(toValue(item, depth + 1));
            }
            return items;
        }
        case QMetaType::QVariantMap: {
            Value dictionary = Value(Dictionary());
            const QVariantMap map = variant.toMap();
            for (auto entry = map.begin(); entry != map.end(); ++entry) {
                dictionary[entry.key().toStdString()] = toValue(entry.value(), depth + 1);
            }
            return dictionary;
        }
        default:
            return {};
    }
}

bool environmentSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr;
}

}  // namespace

// The engine's page with the application's say over navigations, and without the dialogs of
// the page's scripts (alert, confirm, prompt), which the phone's web view does not show
// either: a modal dialog would stop the window.
class PolicyPage : public QWebEnginePage {
public:
    using Decide = std::function<bool(const QUrl&, web::NavigationType, bool)>;
    PolicyPage(QWebEngineProfile& profile, QObject* parent, Decide decide)
        : QWebEnginePage(&profile, parent), decide_(std::move(decide)) {}

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        return decide_(url, navigationType(type), isMainFrame);
    }
    void javaScriptAlert(const QUrl&, const QString&) override {}
    bool javaScriptConfirm(const QUrl&, const QString&) override { return false; }
    bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override {
        return false;
    }
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message,
                                  int line, const QString& source) override {
        PLATFORM_LOG_DEBUG("web page: ", source.toStdString(), ":", line, ": ",
                           message.toStdString());
    }

private:
    Decide decide_;
};

class WebEngineView : public WebView {
public:
    WebEngineView(WebEngineViewFactory& factory, QWidget& parent)
        : WebView(&parent), factory_(&factory), engine_(new QWebEngineView(this)) {
        setName("webView");
        page_ = new PolicyPage(factory.profile(), engine_,
                               [this](const QUrl& url, NavigationType type, bool mainFrame) {
                                   return decide(url, type, mainFrame);
                               });
        // Links of other schemes come to decide() too, rather than being handed to the
        // desktop by the engine; decide() never lets one through.
        page_->settings()->setUnknownUrlSchemePolicy(
            QWebEngineSettings::AllowAllUnknownUrlSchemes);
        engine_->setPage(page_);
        QObject::connect(page_, &QWebEnginePage::loadingChanged, this,
                         [this](const QWebEngineLoadingInfo& info) { loadingChanged(info); });
        QObject::connect(page_, &QWebEnginePage::renderProcessTerminated, this,
                         [this](QWebEnginePage::RenderProcessTerminationStatus, int code) {
                             contentProcessEnded(code);
                         });
    }

    ~WebEngineView() override {
        life_.reset();
        if (factory_ != nullptr) {
            factory_->forget(*this);
        }
        releasePage();
    }

    // The profile goes before this view: the page, which needs it, goes first.
    void releasePage() {
        factory_ = nullptr;
        if (page_ != nullptr) {
            QObject::disconnect(page_, nullptr, this, nullptr);
            delete page_;
            page_ = nullptr;
        }
    }

    void setDelegate(WebViewDelegate* delegate) override { delegate_ = delegate; }

    void load(std::string_view url) override {
        const QUrl parsed(QString::fromUtf8(url.data(), static_cast<qsizetype>(url.size())),
                          QUrl::StrictMode);
        if (!parsed.isValid() || parsed.scheme().isEmpty()) {
            later([this, url = std::string(url)] {
                fail(url, {kErrorDomain, kLoadFailed, "not an address: " + url});
            });
            return;
        }
        // The engine would only hand such an address to the desktop: the delegate hears of it
        // as of a link, and it never loads.
        if (!loadsScheme(text(parsed))) {
            later([this, address = text(parsed)] {
                if (delegate_ == nullptr ||
                    delegate_->decidePolicy({.url = address,
                                             .type = NavigationType::other,
                                             .mainFrame = true}) == NavigationPolicy::allow) {
                    unsupported(address);
                }
            });
            return;
        }
        if (page_ != nullptr) {
            html_.reset();
            page_->load(parsed);
        }
    }

    void loadHTML(std::string_view html, std::string_view baseURL) override {
        const std::string base = baseURL.empty() ? "about:blank" : std::string(baseURL);
        const QByteArray bytes(html.data(), static_cast<qsizetype>(html.size()));
        if (bytes.toPercentEncoding().size() + qsizetype(std::string_view(kDataURLPrefix).size()) >
            kMaxDataURL) {
            later([this, base] {
                fail(base, {kErrorDomain, kTooLarge, "the HTML is too large to show"});
            });
            return;
        }
        if (page_ != nullptr) {
            html_ = base;
            page_->setHtml(QString::fromUtf8(bytes), QUrl(QString::fromStdString(base)));
        }
    }

    void stop() override {
        if (page_ != nullptr) {
            page_->triggerAction(QWebEnginePage::Stop);
        }
    }

    [[nodiscard]] std::string url() const override { return url_; }
    [[nodiscard]] bool isLoading() const override { return loading_; }

    void evaluate(std::string_view script, ScriptDone done) override {
        if (page_ == nullptr) {
            return;
        }
        const QString source =
            QString::fromUtf8(script.data(), static_cast<qsizetype>(script.size()));
        if (!done) {
            page_->runJavaScript(source, QWebEngineScript::MainWorld);
            return;
        }
        page_->runJavaScript(source, QWebEngineScript::MainWorld,
                             [life = std::weak_ptr<int>(life_),
                              done = std::move(done)](const QVariant& result) {
                                 if (!life.expired()) {
                                     done(toValue(result, 0));
                                 }
                             });
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        WebView::resizeEvent(event);
        engine_->setGeometry(rect());
    }

private:
    bool decide(const QUrl& url, NavigationType type, bool mainFrame) {
        std::string address = text(url);
        // A page given as HTML arrives as an address of the data scheme: the application
        // knows it by its base address.
        if (html_ && mainFrame && url.scheme() == QLatin1String("data")) {
            address = *html_;
            type = NavigationType::other;
        }
        const NavigationPolicy policy =
            delegate_ != nullptr
                ? delegate_->decidePolicy({.url = address, .type = type, .mainFrame = mainFrame})
                : NavigationPolicy::allow;
        if (policy == NavigationPolicy::cancel) {
            if (mainFrame) {
                refused_ = url;
            }
            return false;
        }
        if (!loadsScheme(text(url))) {
            if (mainFrame) {
                later([this, address] { unsupported(address); });
            }
            return false;
        }
        if (mainFrame) {
            refused_.reset();
        }
        return true;
    }

    void loadingChanged(const QWebEngineLoadingInfo& info) {
        // The engine starts, and then abandons, navigations of other schemes and those the
        // delegate refused; for the application they never began.
        if (!loadsScheme(text(info.url()))) {
            return;
        }
        if (refused_ && info.url() == *refused_) {
            if (info.status() != QWebEngineLoadingInfo::LoadStartedStatus) {
                refused_.reset();
            }
            return;
        }
        const bool ofHtml = html_ && (info.url().scheme() == QLatin1String("data") ||
                                      text(info.url()) == *html_);
        const std::string address = ofHtml ? *html_ : text(info.url());
        if (ofHtml && info.status() != QWebEngineLoadingInfo::LoadStartedStatus) {
            html_.reset();
        }
        switch (info.status()) {
            case QWebEngineLoadingInfo::LoadStartedStatus:
                loading_ = true;
                url_ = address;
                if (delegate_ != nullptr) {
                    delegate_->didStartLoading(address);
                }
                break;
            case QWebEngineLoadingInfo::LoadSucceededStatus:
                finish(address);
                break;
            case QWebEngineLoadingInfo::LoadFailedStatus:
                // An HTTP error answer is a page like any other, shown as it came.
                if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain) {
                    finish(address);
                } else {
                    fail(address, {kErrorDomain, kLoadFailed,
                                   info.errorString().toStdString() + " (" +
                                       std::to_string(info.errorCode()) + ")"});
                }
                break;
            case QWebEngineLoadingInfo::LoadStoppedStatus:
                fail(address, {kErrorDomain, kCancelled, "the load was stopped"});
                break;
        }
    }

    void contentProcessEnded(int code) {
        PLATFORM_LOG_WARN("web view: the content process ended (", code, ") at ", url_);
        fail(url_, {kErrorDomain, kContentProcessEnded,
                    "the process that showed the page ended (" + std::to_string(code) + ")"});
    }

    void unsupported(const std::string& address) {
        if (delegate_ != nullptr) {
            delegate_->didFailLoading(address, {kErrorDomain, kUnsupportedURL,
                                                "no web view loads this address: " + address});
        }
    }

    void finish(const std::string& address) {
        loading_ = false;
        url_ = address;
        if (delegate_ != nullptr) {
            delegate_->didFinishLoading(address);
        }
    }

    void fail(const std::string& address, const Error& error) {
        loading_ = false;
        if (delegate_ != nullptr) {
            delegate_->didFailLoading(address, error);
        }
    }

    // Reports from the main loop rather than from inside the caller's own call.
    void later(std::function<void()> report) {
        QTimer::singleShot(0, this, [life = std::weak_ptr<int>(life_), report = std::move(report)] {
            if (!life.expired()) {
                report();
            }
        });
    }

    WebEngineViewFactory* factory_;
    QWebEngineView* engine_;
    PolicyPage* page_ = nullptr;
    WebViewDelegate* delegate_ = nullptr;
    std::string url_;
    bool loading_ = false;
    // The base address of the HTML being shown, while its data address stands for it.
    std::optional<std::string> html_;
    // The main-frame navigation last refused, whose start and end the engine still reports.
    std::optional<QUrl> refused_;
    // Gone with the view: what the engine calls back afterwards finds nobody.
    std::shared_ptr<int> life_ = std::make_shared<int>(0);
};

WebEngineMachine WebEngineMachine::current() {
    WebEngineMachine machine;
    machine.widgetsApplication = qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
    machine.root = ::geteuid() == 0;
    const char* flags = std::getenv("QTWEBENGINE_CHROMIUM_FLAGS");
    machine.sandboxDisabled =
        environmentSet("QTWEBENGINE_DISABLE_SANDBOX") ||
        (flags != nullptr && std::string_view(flags).find("--no-sandbox") != std::string_view::npos);
    const char* helper = std::getenv("QTWEBENGINEPROCESS_PATH");
    machine.helper = helper != nullptr
                         ? std::filesystem::path(helper)
                         : std::filesystem::path(
                               QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath).toStdString()) /
                               "QtWebEngineProcess";
    machine.helperRuns = ::access(machine.helper.c_str(), X_OK) == 0;
    const char* resources = std::getenv("QTWEBENGINE_RESOURCES_PATH");
    machine.resources =
        (resources != nullptr
             ? std::filesystem::path(resources)
             : std::filesystem::path(QLibraryInfo::path(QLibraryInfo::DataPath).toStdString()) /
                   "resources") /
        "qtwebengine_resources.pak";
    std::error_code error;
    machine.resourcesThere = std::filesystem::is_regular_file(machine.resources, error);
    return machine;
}

std::optional<std::string> webEngineProblem(const WebEngineMachine& machine) {
    if (!machine.widgetsApplication) {
        return "the web view needs the program's window (no Qt Widgets application)";
    }
    if (machine.root && !machine.sandboxDisabled) {
        return "the web view cannot run as root with Chromium's sandbox on; run as another "
               "user, or set QTWEBENGINE_DISABLE_SANDBOX=1 to run it without the sandbox";
    }
    if (!machine.helperRuns) {
        return "the web view's content process " + machine.helper.string() +
               " is missing (install libqt6webenginecore6-bin)";
    }
    if (!machine.resourcesThere) {
        return "the web view's resources " + machine.resources.string() +
               " are missing (install libqt6webengine6-data)";
    }
    return std::nullopt;
}

void WebEngineViewFactory::prepareApplication() {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

WebEngineViewFactory::WebEngineViewFactory(std::optional<std::filesystem::path> storage)
    : WebEngineViewFactory(std::move(storage), WebEngineMachine::current()) {}

WebEngineViewFactory::WebEngineViewFactory(std::optional<std::filesystem::path> storage,
                                           const WebEngineMachine& machine)
    : storage_(std::move(storage)) {
    if (auto problem = webEngineProblem(machine)) {
        PLATFORM_LOG_WARN("web view: unavailable: ", *problem);
        unavailable_ = Error{kErrorDomain, kUnavailable, std::move(*problem)};
    }
}

WebEngineViewFactory::~WebEngineViewFactory() {
    for (WebEngineView* view : std::vector<WebEngineView*>(views_)) {
        view->releasePage();
    }
}

QWebEngineProfile& WebEngineViewFactory::profile() {
    if (!profile_) {
        if (storage_) {
            profile_ = std::make_unique<QWebEngineProfile>(QStringLiteral("KavoManager"));
            profile_->setPersistentStoragePath(QString::fromStdString(storage_->string()));
            profile_->setCachePath(QString::fromStdString((*storage_ / "Cache").string()));
            profile_->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
        } else {
            profile_ = std::make_unique<QWebEngineProfile>();
        }
        engineUserAgent_ = profile_->httpUserAgent().toStdString();
        if (!userAgent_.empty()) {
            profile_->setHttpUserAgent(QString::fromStdString(userAgent_));
        }
    }
    return *profile_;
}

Result<WebView*> WebEngineViewFactory::make(QWidget& parent) {
    if (unavailable_) {
        return *unavailable_;
    }
    auto* view = new WebEngineView(*this, parent);
    views_.push_back(view);
    return static_cast<WebView*>(view);
}

void WebEngineViewFactory::setUserAgent(std::string_view userAgent) {
    userAgent_ = userAgent;
    if (profile_) {
        profile_->setHttpUserAgent(
            QString::fromStdString(userAgent_.empty() ? engineUserAgent_ : userAgent_));
    }
}

std::string WebEngineViewFactory::userAgent() const {
    if (!userAgent_.empty() || !profile_) {
        return userAgent_;
    }
    return engineUserAgent_;
}

void WebEngineViewFactory::clearCookies() {
    if (unavailable_) {
        return;
    }
    profile().cookieStore()->deleteAllCookies();
}

void WebEngineViewFactory::forget(WebEngineView& view) {
    views_.erase(std::remove(views_.begin(), views_.end(), &view), views_.end());
}

}  // namespace platform::ui::web
