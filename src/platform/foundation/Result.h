#pragma once

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace platform {

// A failure reported as a value: a domain naming the layer, a code within it and a text for
// people and logs.
struct Error {
    std::string domain;
    long code = 0;
    std::string message;

    friend bool operator==(const Error&, const Error&) = default;
};

// Either a value or the Error that prevented it.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : data_(std::move(value)) {}
    Result(Error error) : data_(std::move(error)) {}

    [[nodiscard]] bool ok() const { return data_.index() == 0; }
    explicit operator bool() const { return ok(); }

    [[nodiscard]] const T& value() const& {
        assert(ok());
        return std::get<0>(data_);
    }
    [[nodiscard]] T& value() & {
        assert(ok());
        return std::get<0>(data_);
    }
    [[nodiscard]] T&& value() && {
        assert(ok());
        return std::get<0>(std::move(data_));
    }
    [[nodiscard]] const Error& error() const {
        assert(!ok());
        return std::get<1>(data_);
    }

    const T& operator*() const& { return value(); }
    T& operator*() & { return value(); }
    const T* operator->() const { return &value(); }
    T* operator->() { return &value(); }

private:
    std::variant<T, Error> data_;
};

// Success or an Error, for operations that produce nothing.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)), failed_(true) {}

    [[nodiscard]] bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    [[nodiscard]] const Error& error() const {
        assert(failed_);
        return error_;
    }

private:
    Error error_;
    bool failed_ = false;
};

}  // namespace platform
