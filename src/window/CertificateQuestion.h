#pragma once
// The question put to the user when a server's certificate does not verify:
// a warning with Yes and No, No the default, naming the server and the
// certificate (subject, issuer, SHA-256 fingerprint), and saying what a Yes
// means.  It may be asked from work running off the UI thread.

#include "platform/connection/Connect.h"

#include <QString>

namespace window {

QString certificateQuestion(const connection::UnverifiedCertificate& certificate);

// True when the user answered Yes.
bool askToTrustCertificate(const connection::UnverifiedCertificate& certificate);

} // namespace window
