#include "DriverVersion.h"

#include "Odbc.h"

#include <QByteArray>
#include <QFileInfo>
#include <QStringList>

#include <odbcinst.h>

#include <dlfcn.h>

#include <mutex>

namespace odbc {

namespace {

// Connections on several threads learn and read it.
std::mutex knownMutex;
std::optional<DriverVersion> known;

const char* const kDriverName = "FreeTDS";

// The driver library as odbcinst.ini names it.  A bare file name is looked
// up, as the driver manager does, in the "odbc" folder beside its own library.
QString driverLibrary() {
    char path[1024] = {};
    SQLGetPrivateProfileString(kDriverName, "Driver", "", path, sizeof path, "ODBCINST.INI");
    const QString library = QString::fromLocal8Bit(path);
    if (library.isEmpty() || library.contains(u'/')) {
        return library;
    }
    Dl_info self{};
    if (dladdr(reinterpret_cast<const void*>(&SQLAllocHandle), &self) && self.dli_fname) {
        const QString beside =
            QFileInfo(QString::fromLocal8Bit(self.dli_fname)).absolutePath() + "/odbc/" + library;
        if (QFileInfo::exists(beside)) {
            return beside;
        }
    }
    return library;
}

// SQLGetInfo(SQL_DRIVER_VER) straight from the driver library: through the
// driver manager it needs a connection, which the driver itself does not.
std::optional<QString> askDriverLibrary() {
    using AllocHandle = SQLRETURN (*)(SQLSMALLINT, SQLHANDLE, SQLHANDLE*);
    using SetEnvAttr = SQLRETURN (*)(SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER);
    using GetInfo = SQLRETURN (*)(SQLHDBC, SQLUSMALLINT, SQLPOINTER, SQLSMALLINT, SQLSMALLINT*);
    using FreeHandle = SQLRETURN (*)(SQLSMALLINT, SQLHANDLE);
    const QByteArray library = QFile::encodeName(driverLibrary());
    void* driver = library.isEmpty() ? nullptr : dlopen(library.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!driver) {
        return std::nullopt;
    }
    auto alloc = reinterpret_cast<AllocHandle>(dlsym(driver, "SQLAllocHandle"));
    auto setEnv = reinterpret_cast<SetEnvAttr>(dlsym(driver, "SQLSetEnvAttr"));
    auto getInfo = reinterpret_cast<GetInfo>(dlsym(driver, "SQLGetInfo"));
    auto release = reinterpret_cast<FreeHandle>(dlsym(driver, "SQLFreeHandle"));
    std::optional<QString> version;
    SQLHANDLE env = SQL_NULL_HANDLE;
    SQLHANDLE dbc = SQL_NULL_HANDLE;
    if (alloc && setEnv && getInfo && release &&
        SQL_SUCCEEDED(alloc(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
        setEnv(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        if (SQL_SUCCEEDED(alloc(SQL_HANDLE_DBC, env, &dbc))) {
            char text[64] = {};
            SQLSMALLINT length = 0;
            if (SQL_SUCCEEDED(getInfo(dbc, SQL_DRIVER_VER, text, sizeof text, &length))) {
                version = QString::fromLatin1(text);
            }
            release(SQL_HANDLE_DBC, dbc);
        }
        release(SQL_HANDLE_ENV, env);
    }
    dlclose(driver);
    return version;
}

} // namespace

std::optional<DriverVersion> parseDriverVersion(const QString& text) {
    const QStringList parts = text.trimmed().split(u'.');
    if (parts.size() < 2) {
        return std::nullopt;
    }
    bool majorOk = false;
    bool minorOk = false;
    const DriverVersion v{parts[0].toInt(&majorOk), parts[1].toInt(&minorOk)};
    if (!majorOk || !minorOk) {
        return std::nullopt;
    }
    return v;
}

void noteDriverVersion(const QString& reported) {
    if (const auto v = parseDriverVersion(reported)) {
        const std::lock_guard lock(knownMutex);
        known = v;
    }
}

DriverVersion loadedDriverVersion() {
    const std::lock_guard lock(knownMutex);
    if (!known) {
        if (const auto reported = askDriverLibrary()) {
            known = parseDriverVersion(*reported);
        }
    }
    if (!known) {
        throw Error(
            QStringLiteral("No se puede averiguar la versión del controlador FreeTDS, y "
                           "de ella depende cómo escribir un valor de conexión con \"}\"."));
    }
    return *known;
}

bool loadedDriverIsAtLeast15() {
    try {
        return loadedDriverVersion() >= DriverVersion{1, 5};
    } catch (const Error&) {
        return false;
    }
}

} // namespace odbc
