#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace lumora {

// What went wrong in a store operation. The windows turn these codes into the
// Japanese messages users see; the detail text is for the developer's eye only.
enum class StoreError {
    None,
    NotFound,    // the file does not exist
    OpenFailed,  // the file or its folder cannot be opened or created
    ReadFailed,  // an I/O error while reading
    WriteFailed, // an I/O error while writing, or the disk is full
    EndOfFile,   // a read past the last whole record
    BadArgument, // a record number below 1, a record of the wrong length
    Interrupted, // a test stopped the operation on purpose
    Locked,      // another process holds the application folder
    Changed,     // the record is no longer the one the user chose
    Full,        // the file holds as many records as its numbers can count
};

QString storeErrorName(StoreError error);

class [[nodiscard]] Status {
public:
    Status() = default;
    Status(StoreError error, QString detail) : error_(error), detail_(std::move(detail)) {}
    static Status success() { return {}; }

    bool ok() const { return error_ == StoreError::None; }
    StoreError error() const { return error_; }
    const QString& detail() const { return detail_; }

private:
    StoreError error_ = StoreError::None;
    QString detail_;
};

// A value or the reason there is none.
template <class T> class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::move(value)) {}
    Result(Status status) : status_(std::move(status)) {}

    bool ok() const { return value_.has_value(); }
    const Status& status() const { return status_; }
    const T& value() const& { return *value_; }
    T&& value() && { return std::move(*value_); }
    T valueOr(T fallback) const { return value_ ? *value_ : std::move(fallback); }

private:
    std::optional<T> value_;
    Status status_;
};

} // namespace lumora
