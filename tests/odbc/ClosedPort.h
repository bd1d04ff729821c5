#pragma once
// A loopback port that nothing listens on, for connections that must fail
// at once with "connection refused".

#include <QString>

namespace testing_support {
int closedLoopbackPort();
// "127.0.0.1,<closed port>", a server name that cannot be reached.
QString unreachableServer();
} // namespace testing_support
