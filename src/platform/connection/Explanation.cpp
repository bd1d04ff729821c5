#include "Explanation.h"

#include "Bounded.h"
#include "DriverMessages.h"
#include "KerberosCheck.h"
#include "PreloginProbe.h"
#include "PreloginReply.h"
#include "RunMemory.h"
#include "Sentences.h"
#include "platform/odbc/DriverVersion.h"

namespace connection {

namespace {

// The server's encryption answer: as the relay saw it on a TDS 7.x
// connection, else asked by a PRELOGIN of our own.
std::optional<std::uint8_t> encryptionAnswer(const FailedAttempt& attempt, const Target& target,
                                             QDeadlineTimer deadline) {
    if (!attempt.strict) {
        return attempt.observed.clear.answer;
    }
    return serverEncryption(target.route, deadline);
}

// After a failed handshake: no encryption, the Kerberos credentials, or the
// certificate check, unless ours passed.
QString handshakeCause(const FailedAttempt& attempt, const Target& target, bool certificateVerified,
                       QDeadlineTimer deadline) {
    const auto answer = encryptionAnswer(attempt, target, deadline);
    if (!answer) {
        return {};
    }
    if (*answer == kEncryptNotSupported) {
        return say::noEncryption();
    }
    // A Kerberos cause found in the user's own credentials is certain.
    if (target.integrated) {
        const auto kerberos =
            finishedBy([host = target.route.host,
                        port = target.route.port] { return kerberosCause(host, port); },
                       deadline);
        // The check asks the KDC alone: when it has no answer in time, the
        // KDC is what stalls.
        if (!kerberos) {
            return say::kdcNotAnswering();
        }
        if (!kerberos->isEmpty()) {
            return *kerberos;
        }
    }
    // The server offers TLS, yet the driver gave up before it answered the
    // login: the certificate check refused it, unless ours passed.
    return certificateVerified ? QString() : say::untrustedCertificate();
}

// A server that closed the link on the PRELOGIN in clear yet completes a
// TDS 8.0 handshake takes strict encryption only.
QString strictOnlyCause(const Target& target, QDeadlineTimer deadline) {
    if (speaksStrictNow(target, deadline) != true) {
        return {};
    }
    return say::strictOnly(!odbc::loadedDriverIsAtLeast15());
}

} // namespace

QString causeOf(Interception interception) {
    switch (interception) {
    case Interception::WeakerAnswer:
        return say::weakerAnswer();
    case Interception::NoEncryption:
        return say::noEncryptionAnswered();
    case Interception::ClearAfterLogin:
        return say::clearAfterLogin();
    case Interception::ClearLogin:
        return say::clearLogin();
    case Interception::NameMismatch:
        return say::untrustedCertificate();
    case Interception::NameUncheckable:
        return say::nameUncheckable();
    case Interception::ForeignPeer:
        return say::foreignPeer();
    }
    return {};
}

odbc::Error explainedLoginFailure(const FailedAttempt& attempt, const Target& target,
                                  bool certificateVerified, QDeadlineTimer deadline) {
    const odbc::Error& failure = attempt.failure;
    if (failure.serverMessageNumber() || failure.records().empty()) {
        return failure;
    }
    QString why;
    if (attempt.observed.loginCutAtDeadline) {
        why = say::noAnswerInTime();
    } else if (onlyTheHandshakeFailed(failure.records())) {
        why = handshakeCause(attempt, target, certificateVerified, deadline);
    } else if (closedByTheServer(failure.records())) {
        why = strictOnlyCause(target, deadline);
    }
    if (why.isEmpty()) {
        why = driverFailureDescription(failure.records(), browserInstance(target.address));
    }
    return odbc::Error(why, failure.records());
}

std::optional<bool> speaksStrictNow(const Target& target, QDeadlineTimer deadline) {
    const auto answer = speaksStrictTds(target.route, deadline);
    if (answer) {
        memory::rememberStrict(target.key, *answer);
    }
    return answer;
}

} // namespace connection
