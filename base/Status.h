#pragma once
// How every core library reports a failure: a returned value, never an
// exception. A failed Status carries one message in Chinese, ready to show to
// the user as it is. Exceptions are left for programming errors.

#include <QString>

#include <optional>
#include <utility>

namespace sf6 {

class [[nodiscard]] Status {
public:
    static Status success() { return Status(); }
    static Status failure(QString message)
    {
        // A failure without words would read as success.
        return Status(message.isEmpty() ? QStringLiteral("未知错误") : std::move(message));
    }

    bool ok() const { return message_.isEmpty(); }
    explicit operator bool() const { return ok(); }
    const QString& message() const { return message_; }

private:
    Status() = default;
    explicit Status(QString m) : message_(std::move(m)) {}
    QString message_;
};

// A value, or the reason there is none.
template <class T>
class [[nodiscard]] Expected {
public:
    Expected(T value) : value_(std::move(value)) {}
    Expected(Status failure) : error_(std::move(failure)) {}

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    const QString& error() const { return error_.message(); }
    Status status() const { return ok() ? Status::success() : error_; }

private:
    std::optional<T> value_;
    Status error_ = Status::success();
};

} // namespace sf6
