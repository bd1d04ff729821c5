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
// file could not be written, sysprocesses' order) is this server's, and so
// is that of the backup and restore messages other than 3211, 4035, 3014
// and 3262, whose Spanish was seen from a server (the README lists them).
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
        {206, "binary", "This server reads a binary constant only as the argument of SUSER_SNAME.",
         "Este servidor solo lee una constante binaria como argumento de SUSER_SNAME."},
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
        {262, nullptr, "%1 permission denied in database '%2'.",
         "Se denegó el permiso %1 en la base de datos '%2'."},
        {263, nullptr, "Must specify table to select from.",
         "Debe especificar la tabla de la que se va a seleccionar."},
        {911, nullptr,
         "Database '%1' does not exist. Make sure that the name is entered correctly.",
         "La base de datos '%1' no existe. Asegúrese de que el nombre se ha escrito "
         "correctamente."},
        {922, nullptr, "Database '%1' is being recovered. Waiting until recovery is finished.",
         "Se está recuperando la base de datos '%1'. Esperando a que finalice la recuperación."},
        {926, nullptr,
         "Database '%1' cannot be opened. It has been marked SUSPECT by recovery. See the SQL "
         "Server errorlog for more information.",
         "No se puede abrir la base de datos '%1'. La recuperación la ha marcado como SUSPECT. "
         "Consulte el registro de errores de SQL Server para obtener más información."},
        {927, nullptr, "Database '%1' cannot be opened. It is in the middle of a restore.",
         "No se puede abrir la base de datos '%1'. Está en mitad de una restauración."},
        {942, nullptr, "Database '%1' cannot be opened because it is offline.",
         "No se puede abrir la base de datos '%1' porque está sin conexión."},
        {945, nullptr,
         "Database '%1' cannot be opened due to inaccessible files or insufficient memory or "
         "disk space.  See the SQL Server errorlog for details.",
         "No se puede abrir la base de datos '%1' debido a archivos inaccesibles o a memoria o "
         "espacio en disco insuficientes.  Consulte el registro de errores de SQL Server para "
         "obtener más detalles."},
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
        {1834, nullptr, "The file '%1' cannot be overwritten.  It is being used by database '%2'.",
         "No se puede sobrescribir el archivo '%1'.  Lo está usando la base de datos '%2'."},
        {1844, nullptr, "%1 is not supported on %2.", "No se admite %1 en %2."},
        {2732, nullptr, "The language '%1' is not supported.", "No se admite el idioma '%1'."},
        {2740, nullptr, "SET DATEFIRST %1 is out of range.",
         "SET DATEFIRST %1 está fuera del intervalo."},
        {2741, nullptr, "SET DATEFORMAT date order '%1' is invalid.",
         "El orden de fecha '%1' de SET DATEFORMAT no es válido."},
        {3002, nullptr, "Cannot BACKUP or RESTORE a database snapshot.",
         "No se puede ejecutar BACKUP ni RESTORE en una instantánea de base de datos."},
        {3009, nullptr,
         "Could not insert a backup or restore history/detail record in the msdb database. This "
         "may indicate a problem with the msdb database. The backup/restore operation was still "
         "successful.",
         "No se pudo insertar un registro de historial o detalle de copia de seguridad o "
         "restauración en la base de datos msdb. Esto puede indicar un problema en la base de "
         "datos msdb. La operación de copia de seguridad o restauración se completó "
         "correctamente."},
        {3013, nullptr, "%1 is terminating abnormally.", "%1 está terminando de forma anómala."},
        {3013, "state file",
         "%1 is terminating abnormally: the state file could not be written (%2).",
         "%1 está terminando de forma anómala: no se pudo escribir el archivo de estado (%2)."},
        {3014, nullptr, "%1 successfully processed %2 pages in %3 seconds (%4 MB/sec).",
         "%1 procesó correctamente %2 páginas en %3 segundos (%4 MB/s)."},
        {3031, nullptr,
         "Option '%1' conflicts with option(s) '%2'. Remove the conflicting option and reissue "
         "the statement.",
         "La opción '%1' entra en conflicto con las opciones '%2'. Quite la opción en conflicto y "
         "vuelva a emitir la instrucción."},
        {3033, nullptr, "BACKUP DATABASE cannot be used on a database opened in emergency mode.",
         "No se puede usar BACKUP DATABASE en una base de datos abierta en modo de emergencia."},
        {3043, nullptr, "BACKUP '%1' detected an error on page (%2) in file '%3'.",
         "BACKUP '%1' detectó un error en la página (%2) del archivo '%3'."},
        {3044, nullptr,
         "Invalid zero-length device name. Reissue the BACKUP statement with a valid device name.",
         "Nombre de dispositivo de longitud cero no válido. Vuelva a emitir la instrucción BACKUP "
         "con un nombre de dispositivo válido."},
        {3057, nullptr,
         "Invalid device name. The length of the device name provided exceeds supported limit "
         "(maximum length is:%1). Reissue the BACKUP statement with a valid device name.",
         "Nombre de dispositivo no válido. La longitud del nombre de dispositivo proporcionado "
         "supera el límite admitido (la longitud máxima es:%1). Vuelva a emitir la instrucción "
         "BACKUP con un nombre de dispositivo válido."},
        {3101, nullptr, "Exclusive access could not be obtained because the database is in use.",
         "No se pudo obtener acceso exclusivo porque la base de datos está en uso."},
        {3108, nullptr,
         "To restore the master database, the server must be running in single-user mode. For "
         "information on starting in single-user mode, see \"How to: Start an Instance of SQL "
         "Server (sqlservr.exe)\" in Books Online.",
         "Para restaurar la base de datos master, el servidor debe ejecutarse en modo de usuario "
         "único. Para obtener información acerca de cómo iniciarlo en modo de usuario único, vea "
         "\"Cómo iniciar una instancia de SQL Server (sqlservr.exe)\" en los Libros en pantalla."},
        {3110, nullptr, "User does not have permission to RESTORE database '%1'.",
         "El usuario no tiene permiso para ejecutar RESTORE en la base de datos '%1'."},
        {3119, nullptr,
         "Problems were identified while planning for the RESTORE statement. Previous messages "
         "provide details.",
         "Se identificaron problemas al planear la instrucción RESTORE. Los mensajes anteriores "
         "proporcionan detalles."},
        {3147, nullptr, "Backup and restore operations are not allowed on database tempdb.",
         "No se permiten operaciones de copia de seguridad y restauración en la base de datos "
         "tempdb."},
        {3154, nullptr,
         "The backup set holds a backup of a database other than the existing '%1' database.",
         "El conjunto de copia de seguridad contiene una copia de una base de datos distinta de "
         "la base de datos '%1' existente."},
        {3156, nullptr,
         "File '%1' cannot be restored to '%2'. Use WITH MOVE to identify a valid location for "
         "the file.",
         "No se puede restaurar el archivo '%1' en '%2'. Use WITH MOVE para identificar una "
         "ubicación válida para el archivo."},
        {3159, nullptr,
         "The tail of the log for the database \"%1\" has not been backed up. Use BACKUP LOG WITH "
         "NORECOVERY to backup the log if it contains work you do not want to lose. Use the WITH "
         "REPLACE or WITH STOPAT clause of the RESTORE statement to just overwrite the contents "
         "of the log.",
         "No se ha realizado una copia de seguridad del final del registro de la base de datos "
         "\"%1\". Use BACKUP LOG WITH NORECOVERY para hacer una copia del registro si contiene "
         "trabajo que no desea perder. Use la cláusula WITH REPLACE o WITH STOPAT de la "
         "instrucción RESTORE para sobrescribir simplemente el contenido del registro."},
        {3187, nullptr,
         "RESTORE WITH CHECKSUM cannot be specified because the backup set does not contain "
         "checksum information.",
         "No se puede especificar RESTORE WITH CHECKSUM porque el conjunto de copia de seguridad "
         "no contiene información de suma de comprobación."},
        {3201, nullptr, "Cannot open backup device '%1'. Operating system error %2.",
         "No se puede abrir el dispositivo de copia de seguridad '%1'. Error del sistema "
         "operativo %2."},
        {3202, nullptr, "Write on \"%1\" failed: %2", "Error de escritura en \"%1\": %2"},
        {3211, nullptr, "%1 percent processed.", "%1por ciento procesado."},
        {3241, nullptr,
         "The media family on device '%1' is incorrectly formed. SQL Server cannot process this "
         "media family.",
         "La familia de medios del dispositivo '%1' no tiene el formato correcto. SQL Server no "
         "puede procesar esta familia de medios."},
        {3250, nullptr, "The value '%1' is not within range for the %2 parameter.",
         "El valor '%1' no está dentro del intervalo del parámetro %2."},
        {3254, nullptr, "The volume on device '%1' is empty.",
         "El volumen del dispositivo '%1' está vacío."},
        {3256, nullptr,
         "The backup set on device '%1' was terminated while it was being created and is "
         "incomplete. RESTORE sequence is terminated abnormally.",
         "El conjunto de copia de seguridad del dispositivo '%1' se terminó mientras se creaba y "
         "está incompleto. La secuencia RESTORE terminó de forma anómala."},
        {3262, nullptr, "The backup set on file %1 is valid.",
         "El conjunto de copia de seguridad del archivo %1 es válido."},
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
        {4035, nullptr, "Processed %1 pages for database '%2', file '%3' on file %4.",
         "Se han procesado %1 páginas para la base de datos '%2', archivo '%3' en el archivo %4."},
        {4038, nullptr, "Cannot find file ID %1 on device '%2'.",
         "No se encuentra el identificador de archivo %1 en el dispositivo '%2'."},
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
        {40510, nullptr, "Statement '%1' is not supported in this version of SQL Server.",
         "No se admite la instrucción '%1' en esta versión de SQL Server."},
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
            case 3:
                return text.arg(args[0], args[1], args[2]);
            default:
                return text.arg(args[0], args[1], args[2], args[3]);
            }
        }
    }
    return QStringLiteral("Message %1.").arg(number); // a number missing from the table
}

} // namespace engine
