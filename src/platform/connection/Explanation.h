#pragma once
// Why a login failed, as the user reads it.  The explanation starts from
// what the relay saw on the driver's own connection (the guard's stop, the
// server's encryption answer, the certificates of a TLS 1.2 handshake, who
// closed first) and opens a socket of its own only for what the relay
// cannot see: whether the server speaks TDS 8.0 and, inside TDS 8.0's TLS,
// the encryption answer.  Every wait is bounded by the caller's deadline.

#include "DriverRelay.h"
#include "Target.h"
#include "platform/odbc/Odbc.h"

#include <QDeadlineTimer>

#include <optional>

namespace connection {

// The Spanish cause of a connection the guard or the relay ended.
QString causeOf(Interception interception);

// One failed attempt: the driver's failure and what the relay saw.
struct FailedAttempt {
    const odbc::Error& failure;
    const DriverRelay::Observed& observed;
    bool strict; // TDS 8.0: the relay saw TLS only
};

// The failure as the user reads it, by the first rule that holds:
// - a message of the server passes as it came;
// - a failed handshake gets the cause found (no encryption, the Kerberos
//   credentials, the certificate check, unless `certificateVerified`);
// - a link the server closed at once is told as strict encryption forced,
//   when the server speaks TDS 8.0;
// - else the driver's own failure, described.
odbc::Error explainedLoginFailure(const FailedAttempt& attempt, const Target& target,
                                  bool certificateVerified, QDeadlineTimer deadline);

// Whether the server speaks TDS 8.0 now, by a bare handshake that sends no
// TDS byte (none: it cannot be told by `deadline`); an answer is remembered
// for the run.
std::optional<bool> speaksStrictNow(const Target& target, QDeadlineTimer deadline);

} // namespace connection
