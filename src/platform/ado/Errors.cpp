#include "Errors.h"

#include <QString>

namespace ado::err {

namespace {
QString textOf(std::int32_t number) {
    switch (number) {
    case kInvalidArgument:
        return QStringLiteral(
            "Los argumentos son de tipo incorrecto, están fuera del intervalo aceptable o están "
            "en conflicto con otros.");
    case kNoCurrentRecord:
        return QStringLiteral(
            "BOF o EOF es True, o el registro actual se eliminó. La operación solicitada "
            "requiere un registro actual.");
    case kItemNotFound:
        return QStringLiteral(
            "No se encontró el elemento en la colección correspondiente al nombre o al ordinal "
            "solicitado.");
    case kObjectClosed:
        return QStringLiteral("No se permite realizar esta operación si el objeto está cerrado.");
    case kObjectOpen:
        return QStringLiteral("No se permite realizar esta operación si el objeto está abierto.");
    case kProviderNotFound:
        return QStringLiteral(
            "No se encuentra el proveedor. Es posible que no esté instalado correctamente.");
    case kConnectionUnusable:
        return QStringLiteral(
            "No se puede usar la conexión para realizar esta operación. Está cerrada o no es "
            "válida en este contexto.");
    default:
        return QString();
    }
}
} // namespace

rt::RuntimeError failure(std::int32_t number) { return rt::RuntimeError(number, textOf(number)); }

} // namespace ado::err
