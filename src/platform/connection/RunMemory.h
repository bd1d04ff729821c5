#pragma once
// What this run has learnt of servers, kept until the program ends so that
// nothing is asked twice: whether a server speaks TDS 8.0 (a yes is never
// taken back by a later no: someone on the path may be hiding it), and the
// one certificate the user trusted for it.  Safe for connections on several
// threads at once.
//
// The key is the server as the user named it (Target::key): a section's
// name, or the host with its port or instance, in lower case.  Two names for
// one server are two keys, so a certificate trusted under one name is asked
// about again under the other, never taken on trust.

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace connection {

struct UnverifiedCertificate;

namespace memory {

std::optional<bool> speaksStrict(const QString& key);
void rememberStrict(const QString& key, bool speaks);

// The certificate (DER) the user trusted for the server, if any.
std::optional<QByteArray> pinned(const QString& key);
void pin(const QString& key, const QByteArray& der);

// The question put to the user about a certificate that does not verify.
using Question = std::function<bool(const UnverifiedCertificate&)>;
Question question();
void setQuestion(Question question);

// For tests only: forgets every server (the question stays).
void forgetServersForTests();

} // namespace memory

} // namespace connection
