#pragma once
// Outcome of one platform operation: success, or a failure description that
// says what failed and where (a file path and SQLite's message, a device path
// and the system's error text).

#include <optional>
#include <string>
#include <utility>

namespace lumo {

class Status {
public:
    static Status success() { return Status(); }
    // cause: the failure in the operator's words, saying what they can act
    // on ("串口设备不存在：..."), when the component can tell; the description
    // keeps the technical detail.
    static Status failure(std::string description, std::string cause = {})
    {
        return Status(std::move(description), std::move(cause));
    }

    bool ok() const { return !failed_; }
    const std::string& error() const { return error_; }
    const std::string& cause() const { return cause_; }

private:
    Status() = default;
    Status(std::string description, std::string cause)
        : failed_(true), error_(std::move(description)), cause_(std::move(cause))
    {
    }

    bool failed_ = false;
    std::string error_;
    std::string cause_;
};

template <class T>
class Result {
public:
    static Result success(T value) { return Result(std::move(value), {}); }
    static Result failure(std::string description) { return Result(std::nullopt, std::move(description)); }

    bool ok() const { return value_.has_value(); }
    const T& value() const& { return *value_; }
    T& value() & { return *value_; }
    // Of a temporary, by value: `for (x : load().value())` must not walk a
    // vector that went with the temporary.
    T value() && { return std::move(*value_); }
    const std::string& error() const { return error_; }

private:
    Result(std::optional<T> value, std::string error) : value_(std::move(value)), error_(std::move(error)) {}

    std::optional<T> value_;
    std::string error_;
};

}  // namespace lumo
