#pragma once
// The port of a named instance, asked of the host's SQL Server Browser (UDP
// 1434) as the driver asks it, so that the checks of this component reach
// the same server the driver does.

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <optional>

namespace connection {

// None when no Browser answers by `deadline` or it names no TCP port.
// The host's addresses are asked in turn.
std::optional<int> instancePort(const QList<QHostAddress>& host, const QString& instance,
                                QDeadlineTimer deadline);

// The TCP port in a Browser's answer to one instance (0x05, a little-endian
// length, then "…;tcp;PORT;…").
std::optional<int> portInBrowserReply(const QByteArray& reply);

} // namespace connection
