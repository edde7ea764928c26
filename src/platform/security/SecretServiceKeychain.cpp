#include "platform/security/SecretServiceKeychain.h"

#include <libsecret/secret.h>

#include <cstdlib>
#include <utility>

namespace platform {

namespace {

// The item's class, as the phone platform names generic passwords.
constexpr const char* kGenericPasswordClass = "genp";

const SecretSchema& schema() {
    static const SecretSchema kSchema = {SecretServiceKeychain::kSchemaName,
                                         SECRET_SCHEMA_NONE,
                                         {
                                             {"class", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                             {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                             {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                             {"generic", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                             {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
                                         },
                                         0,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr};
    return kSchema;
}

// Takes the error's text and frees it.
Error takeError(GError* error, std::string_view what) {
    std::string message(what);
    long code = -1;
    if (error != nullptr) {
        message += ": ";
        message += error->message;
        code = error->code;
        g_error_free(error);
    }
    return Error{kKeychainErrorDomain, code, std::move(message)};
}

struct Attributes {
    std::string service;
    std::string account;
};

}  // namespace

Result<std::unique_ptr<SecretServiceKeychain>> SecretServiceKeychain::connect(
    std::string collection) {
    // Without a named bus the D-Bus library would try to launch one for an X11 display.
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (bus == nullptr || *bus == '\0') {
        return Error{kKeychainErrorDomain, -1, "no session bus"};
    }
    GError* error = nullptr;
    SecretValue* probe = secret_password_lookup_binary_sync(
        &schema(), nullptr, &error, "class", kGenericPasswordClass, "service", "", nullptr);
    if (probe != nullptr) {
        secret_value_unref(probe);
    }
    if (error != nullptr) {
        return takeError(error, "the session bus offers no Secret Service");
    }
    return std::unique_ptr<SecretServiceKeychain>(new SecretServiceKeychain(std::move(collection)));
}

Result<std::optional<std::string>> SecretServiceKeychain::find(std::string_view service,
                                                               std::string_view account) {
    const Attributes key{std::string(service), std::string(account)};
    GError* error = nullptr;
    SecretValue* value = secret_password_lookup_binary_sync(
        &schema(), nullptr, &error, "class", kGenericPasswordClass, "service", key.service.c_str(),
        "account", key.account.c_str(), nullptr);
    if (error != nullptr) {
        if (value != nullptr) {
            secret_value_unref(value);
        }
        return takeError(error, "cannot read the keychain item");
    }
    if (value == nullptr) {
        return std::optional<std::string>{};
    }
    gsize length = 0;
    const gchar* bytes = secret_value_get(value, &length);
    std::string text(bytes, length);
    secret_value_unref(value);
    return std::optional<std::string>(std::move(text));
}

Result<void> SecretServiceKeychain::store(std::string_view service, std::string_view account,
                                          std::string_view value) {
    const Attributes key{std::string(service), std::string(account)};
    const std::string label = key.service + " " + key.account;
    SecretValue* secret =
        secret_value_new(value.data(), static_cast<gssize>(value.size()), "text/plain");
    GError* error = nullptr;
    const gboolean stored = secret_password_store_binary_sync(
        &schema(), collection_.c_str(), label.c_str(), secret, nullptr, &error, "class",
        kGenericPasswordClass, "service", key.service.c_str(), "account", key.account.c_str(),
        "generic", key.account.c_str(), nullptr);
    secret_value_unref(secret);
    if (!stored || error != nullptr) {
        return takeError(error, "cannot store the keychain item");
    }
    return {};
}

Result<bool> SecretServiceKeychain::remove(std::string_view service, std::string_view account) {
    const Attributes key{std::string(service), std::string(account)};
    GError* error = nullptr;
    const gboolean removed = secret_password_clear_sync(
        &schema(), nullptr, &error, "class", kGenericPasswordClass, "service", key.service.c_str(),
        "account", key.account.c_str(), nullptr);
    if (error != nullptr) {
        return takeError(error, "cannot delete the keychain item");
    }
    return removed != FALSE;
}

Result<bool> SecretServiceKeychain::removeAll(std::string_view service) {
    const std::string name(service);
    GError* error = nullptr;
    const gboolean removed =
        secret_password_clear_sync(&schema(), nullptr, &error, "class", kGenericPasswordClass,
                                   "service", name.c_str(), nullptr);
    if (error != nullptr) {
        return takeError(error, "cannot delete the keychain items");
    }
    return removed != FALSE;
}

std::string SecretServiceKeychain::describe() const {
    return "Secret Service, collection " + collection_;
}

}  // namespace platform
