#include "DriverMessages.h"

#include "Sentences.h"

#include <algorithm>

namespace connection {

namespace {

// FreeTDS's numbers for its own failures.
constexpr std::int32_t kConnectionFailed = 20002; // the login handshake, TLS included
constexpr std::int32_t kTimedOut = 20003;
constexpr std::int32_t kReadFailed = 20004;
constexpr std::int32_t kWriteFailed = 20006;
constexpr std::int32_t kSocketFailed = 20008;
constexpr std::int32_t kCannotConnect = 20009;
constexpr std::int32_t kUnknownHost = 20013;
constexpr std::int32_t kUnexpectedEof = 20017;
constexpr std::int32_t kBadToken = 20020;

QString describe(std::int32_t number, const QString& instance) {
    switch (number) {
    case kCannotConnect:
    case kSocketFailed:
        return say::cannotConnect(instance);
    case kUnknownHost:
        return say::unknownHost();
    case kTimedOut:
        return say::noAnswerInTime();
    case kReadFailed:
    case kWriteFailed:
    case kUnexpectedEof:
        return say::linkLost();
    case kConnectionFailed:
        return say::handshakeFailed();
    case kBadToken:
        return say::unreadableAnswer();
    default:
        return {};
    }
}

} // namespace

QString driverFailureDescription(const std::vector<odbc::DiagRecord>& records,
                                 const QString& instance) {
    if (std::any_of(records.begin(), records.end(), [](const odbc::DiagRecord& r) {
            return !odbc::isDriverMessage(r.nativeError);
        })) {
        return {};
    }
    for (const odbc::DiagRecord& record : records) {
        const QString text = describe(record.nativeError, instance);
        if (!text.isEmpty()) {
            return text;
        }
    }
    // The driver reports its own time-out under this state, without a number.
    for (const odbc::DiagRecord& record : records) {
        if (record.sqlState == u"HYT00" || record.sqlState == u"HYT01") {
            return describe(kTimedOut, instance);
        }
    }
    return say::driverError();
}

bool onlyTheHandshakeFailed(const std::vector<odbc::DiagRecord>& records) {
    bool handshake = false;
    for (const odbc::DiagRecord& record : records) {
        if (record.nativeError == kConnectionFailed) {
            handshake = true;
        } else if (record.nativeError != 0 || record.sqlState.startsWith(u"HYT")) {
            return false;
        }
    }
    return handshake;
}

bool loginAccepted(const std::vector<odbc::DiagRecord>& records) {
    constexpr std::int32_t kDatabaseContext = 5701;
    return std::any_of(records.begin(), records.end(), [](const odbc::DiagRecord& record) {
        return record.nativeError == kDatabaseContext;
    });
}

bool closedByTheServer(const std::vector<odbc::DiagRecord>& records) {
    return std::any_of(records.begin(), records.end(), [](const odbc::DiagRecord& record) {
        return record.nativeError == kUnexpectedEof;
    });
}

odbc::Error explained(const odbc::Error& failure) {
    if (!failure.cause().isEmpty() || failure.records().empty()) {
        return failure;
    }
    const QString description = driverFailureDescription(failure.records());
    return description.isEmpty() ? failure : odbc::Error(description, failure.records());
}

} // namespace connection
