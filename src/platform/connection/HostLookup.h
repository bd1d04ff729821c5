#pragma once
// The addresses a host name leads to, within a bound: the system's resolver
// takes none of its own, and a name server that does not answer would hold
// a connection for as long as it likes.

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace connection {

// The name's addresses, in the resolver's order (an address typed as one is
// itself); none when the resolver has not answered by `deadline`.
std::optional<QList<QHostAddress>> addressesOf(const QString& host, QDeadlineTimer deadline);

// For tests only: replaces the resolver and returns the previous one, so
// that a name server that never answers can be staged.
using HostLookup = std::function<QList<QHostAddress>(const QString& host)>;
HostLookup replaceHostLookupForTests(HostLookup lookup);

} // namespace connection
