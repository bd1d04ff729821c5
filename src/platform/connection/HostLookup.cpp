#include "HostLookup.h"

#include "Bounded.h"

#include <QHostInfo>

#include <mutex>
#include <utility>

namespace connection {

namespace {

std::mutex lookupMutex;
HostLookup systemLookup = [](const QString& host) { return QHostInfo::fromName(host).addresses(); };

HostLookup lookupInForce() {
    const std::lock_guard lock(lookupMutex);
    return systemLookup;
}

} // namespace

std::optional<QList<QHostAddress>> addressesOf(const QString& host, QDeadlineTimer deadline) {
    if (const QHostAddress literal(host); !literal.isNull()) {
        return QList<QHostAddress>{literal};
    }
    return finishedBy([host, lookup = lookupInForce()] { return lookup(host); }, deadline);
}

HostLookup replaceHostLookupForTests(HostLookup lookup) {
    const std::lock_guard lock(lookupMutex);
    return std::exchange(systemLookup, std::move(lookup));
}

} // namespace connection
