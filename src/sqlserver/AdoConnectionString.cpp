#include "AdoConnectionString.h"

#include "platform/ado/ConnectionString.h"

QString adoConnectionString(const QString& sProvider, const QString& sServidor,
                            const QString& sUsuario, const QString& sPassword) {
    return QStringLiteral("Provider=") + sProvider + QStringLiteral(";Server=") +
           ado::quoteValue(sServidor) +
           QStringLiteral(";Database=MASTER;DataTypeCompatibility=80;User ID=") +
           ado::quoteValue(sUsuario) + QStringLiteral(";Password=") + ado::quoteValue(sPassword) +
           QStringLiteral(";");
}
