#pragma once
// Every Spanish sentence this component says to the user, in one place: why
// a connection could not be made, or was refused before the password left.
// What the user typed (a server name, an instance, a section, a value, a
// path) is shown by the visible-character rule, so that a sentence never
// reads otherwise than it is written.

#include <QString>

namespace connection::say {

// The server name and the way to it.
QString invalidServerName(const QString& typed);
QString lookupTimedOut();
QString unknownHost();
// With `instance`, the named instance the Browser was asked for.
QString cannotConnect(const QString& instance = QString());
QString noAnswerInTime();

// The driver's own failures.
QString linkLost();
QString handshakeFailed();
QString unreadableAnswer();
QString driverError();

// Encryption, and someone on the path.
QString noEncryption();
// "Not supported" is an honest server's answer as well as an attacker's.
QString noEncryptionAnswered();
QString weakerAnswer();
QString clearAfterLogin();
QString clearLogin();
QString nameUncheckable();
QString foreignPeer();
QString rerouted();

// Certificates.
QString untrustedCertificate();
QString certificateDeclined();

// Strict encryption (TDS 8.0).  `remedy`: the driver cannot speak it, and
// the sentence says which driver can.
QString strictOnly(bool remedy);
QString sectionWantsStrict(const QString& section);
QString strictWithdrawn();

// Kerberos.
QString noKerberosTicket();
QString kerberosTicketExpired();
QString kdcNotAnswering();
QString kdcDoesNotKnow(const QString& principal);

// The component's own files and endpoint.
QString privateFolderMissing();
QString privateFileNotWritten(const QString& path);
QString valueNotWritable(const QString& value);
QString privateConfNotInUse();
QString relayNotOpened(const QString& reason);
QString confNotARegularFile(const QString& path);

} // namespace connection::say
