#include "Messages.h"

#include <QList>

#include <cstring>

namespace engine {

namespace {

struct Text {
    int number;
    const char* variant; // nullptr: SQL Server's own message of that number
    const char* english;
    const char* spanish; // from sys.messages for language 3082 where known
};

// One entry per message; the Spanish of the server's own texts (the state
// file could not be written, sysprocesses' order) is this server's.
const QList<Text>& texts() {
    static const QList<Text> table = {
        {108, nullptr,
         "The ORDER BY position number %1 is out of range of the number of items in the select "
         "list.",
         "El número de posición %1 de ORDER BY está fuera del intervalo del número de elementos "
         "de la lista de selección."},
        {137, nullptr, "Must declare the scalar variable \"@@%1\".",
         "Debe declarar la variable escalar \"@@%1\"."},
        {174, nullptr, "The %1 function requires %2 argument(s).",
         "La función %1 requiere %2 argumentos."},
        {207, nullptr, "Invalid column name '%1'.", "El nombre de columna '%1' no es válido."},
        {208, nullptr, "Invalid object name '%1'.", "El nombre de objeto '%1' no es válido."},
        {229, nullptr,
         "The SELECT permission was denied on the object '%1', database '%2', schema '%3'.",
         "Se denegó el permiso SELECT en el objeto '%1', base de datos '%2', esquema '%3'."},
        {241, nullptr, "Conversion failed when converting date and/or time from character string.",
         "Error de conversión al convertir una cadena de caracteres en fecha y/u hora."},
        {245, nullptr,
         "Conversion failed when converting the nvarchar value '%1' to data type int.",
         "Error de conversión al convertir el valor nvarchar '%1' al tipo de datos int."},
        {263, nullptr, "Must specify table to select from.",
         "Debe especificar la tabla de la que se va a seleccionar."},
        {911, nullptr,
         "Database '%1' does not exist. Make sure that the name is entered correctly.",
         "La base de datos '%1' no existe. Asegúrese de que el nombre se ha escrito "
         "correctamente."},
        {916, nullptr,
         "The server principal \"%1\" is not able to access the database \"msdb\" under the "
         "current security context.",
         "El principal de servidor \"%1\" no puede obtener acceso a la base de datos \"msdb\" en "
         "el contexto de seguridad actual."},
        {924, nullptr, "Database '%1' is already open and can only have one user at a time.",
         "La base de datos '%1' ya está abierta y solo puede tener un usuario a la vez."},
        {1014, nullptr, "A TOP or FETCH clause contains an invalid value.",
         "Una cláusula TOP o FETCH contiene un valor no válido."},
        {1033, "sysprocesses order", "This server lists sysprocesses in spid order only.",
         "Este servidor solo muestra sysprocesses en el orden de spid."},
        {2732, nullptr, "The language '%1' is not supported.", "No se admite el idioma '%1'."},
        {2740, nullptr, "SET DATEFIRST %1 is out of range.",
         "SET DATEFIRST %1 está fuera del intervalo."},
        {2741, nullptr, "SET DATEFORMAT date order '%1' is invalid.",
         "El orden de fecha '%1' de SET DATEFORMAT no es válido."},
        {3701, nullptr,
         "Cannot drop the database '%1', because it does not exist or you do not have permission.",
         "No se puede quitar la base de datos '%1' porque no existe o no tiene permiso."},
        {3702, nullptr, "Cannot drop database \"%1\" because it is currently in use.",
         "No se puede quitar la base de datos \"%1\" porque está en uso."},
        {3708, nullptr, "Cannot drop the database '%1' because it is a system database.",
         "No se puede quitar la base de datos '%1' porque es una base de datos del sistema."},
        {3709, nullptr,
         "Cannot drop the database while the database snapshot \"%1\" refers to it. Drop that "
         "database first.",
         "No se puede quitar la base de datos mientras la instantánea de base de datos \"%1\" "
         "haga referencia a ella. Quite primero esa base de datos."},
        {3724, nullptr, "Cannot drop the database '%1' because it is being used for replication.",
         "No se puede quitar la base de datos '%1' porque se está usando para replicación."},
        {3743, nullptr,
         "The database '%1' is enabled for database mirroring. Database mirroring must be "
         "removed before you drop the database.",
         "La base de datos '%1' está habilitada para la creación de reflejo de la base de datos. "
         "Debe quitarse la creación de reflejo de la base de datos antes de quitar la base de "
         "datos."},
        {3752, nullptr,
         "The database '%1' is currently joined to an availability group.  Before you can drop "
         "the database, you need to remove it from the availability group.",
         "La base de datos '%1' está unida actualmente a un grupo de disponibilidad.  Para poder "
         "quitar la base de datos, debe quitarla del grupo de disponibilidad."},
        {5011, nullptr,
         "User does not have permission to alter database '%1', the database does not exist, or "
         "the database is not in a state that allows access checks.",
         "El usuario no tiene permiso para modificar la base de datos '%1', la base de datos no "
         "existe o la base de datos no está en un estado que permita comprobaciones de acceso."},
        {5052, nullptr, "ALTER DATABASE is not permitted while a database is in the %1 state.",
         "No se permite ALTER DATABASE mientras una base de datos está en estado %1."},
        {5058, nullptr, "Option '%1' cannot be set in database '%2'.",
         "No se puede establecer la opción '%1' en la base de datos '%2'."},
        {5060, nullptr,
         "Nonqualified transactions are being rolled back. Estimated rollback completion: 100%.",
         "Se están revirtiendo las transacciones no calificadas. Finalización estimada de la "
         "reversión: 100%."},
        {5061, nullptr,
         "ALTER DATABASE failed because a lock could not be placed on database '%1'. Try again "
         "later.",
         "Error de ALTER DATABASE porque no se pudo establecer un bloqueo en la base de datos "
         "'%1'. Inténtelo de nuevo más tarde."},
        {5064, nullptr,
         "Changes to the state or options of database '%1' cannot be made at this time. The "
         "database is in single-user mode, and a user is currently connected to it.",
         "No se pueden realizar cambios en el estado o las opciones de la base de datos '%1' en "
         "este momento. La base de datos está en modo de usuario único y hay un usuario "
         "conectado a ella."},
        {5069, nullptr, "ALTER DATABASE statement failed.",
         "Error de la instrucción ALTER DATABASE."},
        {5069, "state file",
         "ALTER DATABASE statement failed: the state file could not be written (%1).",
         "Error de la instrucción ALTER DATABASE: no se pudo escribir el archivo de estado (%1)."},
        {5070, nullptr,
         "Database state cannot be changed while other users are using the database '%1'",
         "No se puede cambiar el estado de la base de datos mientras otros usuarios la están "
         "usando: '%1'."},
        {5120, "state file",
         "Cannot drop the database '%1': the state file could not be written (%2).",
         "No se puede quitar la base de datos '%1': no se pudo escribir el archivo de estado "
         "(%2)."},
        {5701, nullptr, "Changed database context to '%1'.",
         "Se cambió el contexto de la base de datos a '%1'."},
        {5703, nullptr, "Changed language setting to %1.",
         "Se cambió la configuración de idioma a %1."},
        {8116, nullptr, "Argument data type %1 is invalid for argument 1 of %2 function.",
         "El tipo de datos de argumento %1 no es válido para el argumento 1 de la función %2."},
        {8169, nullptr,
         "Conversion failed when converting from a character string to uniqueidentifier.",
         "Error de conversión al convertir una cadena de caracteres en uniqueidentifier."},
    };
    return table;
}

bool sameVariant(const char* a, const char* b) {
    return (a == nullptr && b == nullptr) || (a && b && std::strcmp(a, b) == 0);
}

} // namespace

QString languageName(Language language) {
    return language == Language::Spanish ? QStringLiteral("Español") : QStringLiteral("us_english");
}

bool isSpanishName(const QString& name) {
    return name.compare(QStringLiteral("Spanish"), Qt::CaseInsensitive) == 0 ||
           name.compare(QStringLiteral("Español"), Qt::CaseInsensitive) == 0;
}

QString messageText(int number, Language language, const QStringList& args, const char* variant) {
    if (variant && std::strcmp(variant, kVerbatim) == 0) {
        return args.value(0);
    }
    for (const Text& t : texts()) {
        if (t.number == number && sameVariant(t.variant, variant)) {
            QString text = QString::fromUtf8(language == Language::Spanish ? t.spanish : t.english);
            // One pass over all arguments: a name holding "%2" stays as it is.
            switch (args.size()) {
            case 0:
                return text;
            case 1:
                return text.arg(args[0]);
            case 2:
                return text.arg(args[0], args[1]);
            default:
                return text.arg(args[0], args[1], args[2]);
            }
        }
    }
    return QStringLiteral("Message %1.").arg(number); // a number missing from the table
}

} // namespace engine
