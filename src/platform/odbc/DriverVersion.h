#pragma once
// Which FreeTDS is loaded, as the driver itself says through
// SQLGetInfo(SQL_DRIVER_VER) ("01.03.0017"), for the rules its connection
// strings follow.  The answer is learnt from the first connection made, or,
// when a value must be quoted before any, by asking the driver library that
// the ODBC driver manager would load.

#include <QString>

#include <optional>

namespace odbc {

struct DriverVersion {
    int major = 0;
    int minor = 0;
    friend auto operator<=>(const DriverVersion&, const DriverVersion&) = default;
};

// Nothing for a text that is no version "MM.mm.bbbb".
std::optional<DriverVersion> parseDriverVersion(const QString& text);

// The loaded driver's version; throws a RuntimeError when the driver cannot
// be asked.
DriverVersion loadedDriverVersion();

// True when the loaded FreeTDS is 1.5 or later, with TDS 8.0, "certificate
// hostname" and ~/.config/freetds.conf; a driver that cannot say its
// version is taken for an older one.
bool loadedDriverIsAtLeast15();

// Records what a connected driver reported.
void noteDriverVersion(const QString& reported);

} // namespace odbc
