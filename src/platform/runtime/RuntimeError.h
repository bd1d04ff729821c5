#pragma once
// Run-time errors: the failure that a procedure raises and a failure path
// handles.  A failure carries a 32-bit signed number and a description; the
// classic numbers have fixed Spanish texts kept in one table here.

#include <QString>

#include <cstdint>
#include <exception>
#include <string>

namespace rt {

// The classic run-time error numbers the components raise.
namespace err {
constexpr std::int32_t InvalidCall = 5;
constexpr std::int32_t Overflow = 6;
constexpr std::int32_t OutOfMemory = 7;
constexpr std::int32_t SubscriptOutOfRange = 9;
constexpr std::int32_t TypeMismatch = 13;
constexpr std::int32_t BadFileName = 52;
constexpr std::int32_t FileNotFound = 53;
constexpr std::int32_t DeviceIO = 57;
constexpr std::int32_t FileExists = 58;
constexpr std::int32_t DiskFull = 61;
constexpr std::int32_t PermissionDenied = 70;
constexpr std::int32_t DiskNotReady = 71;
constexpr std::int32_t PathFileAccess = 75;
constexpr std::int32_t PathNotFound = 76;
} // namespace err

// The Spanish text of a classic run-time number; the empty text for others.
QString standardDescription(std::int32_t number);

class RuntimeError : public std::exception {
public:
    // A classic run-time error with its standard text.
    explicit RuntimeError(std::int32_t number);
    RuntimeError(std::int32_t number, QString description);

    std::int32_t number() const noexcept { return number_; }
    const QString& description() const noexcept { return description_; }
    const char* what() const noexcept override { return what_.c_str(); }

private:
    std::int32_t number_;
    QString description_;
    std::string what_;
};

} // namespace rt
