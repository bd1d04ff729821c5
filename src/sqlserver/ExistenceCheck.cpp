#include "ExistenceCheck.h"

#include "Varios.h"
#include "platform/runtime/CurrentError.h"
#include "platform/runtime/RegionalSettings.h"

namespace {

const QString kExistenceQuery = QStringLiteral("SELECT DB_NAME(dbid) AS DB_NAME FROM sysdatabases");

bool sameName(const rt::Variant& value, const QString& sBaseDatos) {
    return value.kind() == rt::Variant::Kind::Text &&
           rt::upperCase(value.as<QString>()) == rt::upperCase(sBaseDatos);
}

} // namespace

Existencia existencia(const QString& sServidor, const QString& sBaseDatos, const QString& sUsuario,
                      const QString& sPassword, const AlongTheCheck* along) {
    Existencia resultado = Existencia::NoExiste;
    rt::withFailurePath(
        [&] {
            ado::Connection cn;
            if (!conectaDSN(sServidor, cn, sUsuario, sPassword)) {
                resultado = Existencia::SinConexion;
                return;
            }
            const QString more = along ? along->statements(cn) : QString();
            QStringList matches;
            ado::Recordset rs;
            rs.Open(more.isEmpty() ? kExistenceQuery : kExistenceQuery + u'\n' + more, cn,
                    ado::cursorType::ForwardOnly, ado::lockType::Optimistic, -1);
            while (!rs.Eof()) {
                const rt::Variant value = rs.Fields(QStringLiteral("DB_NAME")).Value();
                if (sameName(value, sBaseDatos)) {
                    if (!along) {
                        // rs and cn are released, and thereby closed, on the way out.
                        resultado = Existencia::Existe;
                        return;
                    }
                    matches << value.as<QString>();
                }
                rs.MoveNext();
            }
            if (matches.isEmpty()) {
                rs.Close();
                cn.Close();
                return;
            }
            resultado = Existencia::Existe;
            along->found(cn, rs, matches);
        },
        [] {});
    return resultado;
}
