#include "BackupTexts.h"

#include "BackupMessages.h"
#include "FinalBackup.h"
#include "platform/dmo/Backup.h"
#include "platform/dmo/Quoting.h"
#include "text/VisibleName.h"

#include <QLocale>
#include <QRegularExpression>

namespace backup_texts {

namespace {

using text::visibleName;

using namespace backup_messages;

constexpr int kDiskFull = 112;
constexpr int kFileNotFound = 2;
constexpr int kPathNotFound = 3;
constexpr int kAccessDenied = 5;

const QLocale& spanish() {
    static const QLocale locale(QLocale::Spanish, QLocale::Spain);
    return locale;
}

QString quoted(const QString& name) { return u'\'' + visibleName(name) + u'\''; }

QString clock(std::chrono::seconds span) {
    const qint64 s = span.count();
    if (s >= 3600) {
        return QStringLiteral("%1:%2:%3")
            .arg(s / 3600)
            .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(s % 60, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString roughly(std::chrono::seconds span) {
    const qint64 s = span.count();
    if (s < 60) {
        return QStringLiteral("menos de un minuto");
    }
    const qint64 minutes = (s + 30) / 60;
    return minutes == 1 ? QStringLiteral("un minuto") : QStringLiteral("%1 min").arg(minutes);
}

// The operating system's error in a 3201 or 3202 text: the number that
// stands right before its own text in parentheses, in every language.
std::optional<int> osError(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("(\\d+)\\("));
    std::optional<int> found;
    for (const QRegularExpressionMatch& m : pattern.globalMatch(text)) {
        found = m.captured(1).toInt();
    }
    return found;
}

// The server's own words for the cause: its errors but the generic end.
QString serverWords(const QList<dmo::ServerMessage>& messages, std::int32_t number = 0) {
    QStringList lines;
    for (const dmo::ServerMessage& m : messages) {
        const bool cause = number != 0 ? m.number == number
                                       : m.number != 0 && m.number != kTerminatedAbnormally &&
                                             m.number != 3211 && m.number != 4035;
        if (cause && !lines.contains(m.text)) {
            lines << m.text;
        }
    }
    return lines.isEmpty() ? QString()
                           : QStringLiteral("\r\nMensaje del servidor: ") +
                                 visibleName(lines.join(QStringLiteral(" ")));
}

QString folderOf(const QString& path, const QString& folder) {
    if (!folder.isEmpty()) {
        return folder;
    }
    const qsizetype cut = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
    return cut > 0 ? path.left(cut) : QString();
}

QString folderNamed(const QString& path, const QString& folder) {
    const QString shown = folderOf(path, folder);
    return shown.isEmpty() ? QStringLiteral("la carpeta de copias de seguridad del servidor")
                           : QStringLiteral("la carpeta ") + quoted(shown);
}

QString openCause(const dmo::ServerMessage& m, const QString& path, const QString& folder) {
    const std::optional<int> os = osError(m.text);
    if (os == kFileNotFound || os == kPathNotFound) {
        return QStringLiteral("El servidor no encuentra ") + folderNamed(path, folder) +
               QStringLiteral(" (error %1 del sistema operativo): SQL Server crea el archivo, "
                              "pero nunca la carpeta.")
                   .arg(*os);
    }
    if (os == kAccessDenied) {
        return QStringLiteral("La cuenta de servicio de SQL Server no puede escribir en ") +
               folderNamed(path, folder) +
               QStringLiteral(" (error 5 del sistema operativo: acceso denegado). El permiso "
                              "que cuenta es el de esa cuenta, no el del inicio de sesión.");
    }
    return QStringLiteral("El servidor no puede abrir el archivo ") + quoted(path) +
           (os ? QStringLiteral(" (error %1 del sistema operativo).").arg(*os)
               : QStringLiteral("."));
}

} // namespace

QString option(const QString& folder) {
    return QStringLiteral("Hacer antes una copia de seguridad final (solo copia) en ") +
           (folder.isEmpty() ? QStringLiteral("la carpeta de copias de seguridad del servidor")
                             : quoted(folder));
}

QString windowTitle() { return QStringLiteral("Copia de seguridad final"); }

QString backingUp(const QString& database, const QString& path) {
    return QStringLiteral("Haciendo la copia de seguridad final de la base de datos ") +
           quoted(database) + QStringLiteral("\r\nArchivo: ") + quoted(path);
}

QString finishing(const QString& database, const QString& path) {
    return QStringLiteral("Copia de seguridad final de la base de datos ") + quoted(database) +
           QStringLiteral(" al 100 %: finalizando…\r\nArchivo: ") + quoted(path);
}

QString verifying(const QString& path) {
    return QStringLiteral("Comprobando que la copia se puede leer entera (RESTORE VERIFYONLY)…"
                          "\r\nArchivo: ") +
           quoted(path);
}

QString cancelling() {
    return QStringLiteral("Cancelando: se espera a que el servidor detenga la operación…");
}

QString detail(std::chrono::seconds elapsed, std::optional<double> percent,
               std::optional<std::chrono::seconds> lastDuration) {
    QString line = QStringLiteral("Transcurrido: ") + clock(elapsed);
    if (percent && *percent > 0 && *percent < 100) {
        const auto left = std::chrono::seconds(static_cast<qint64>(
            static_cast<double>(elapsed.count()) * (100 - *percent) / *percent));
        return line +
               QStringLiteral(" · %1 % · quedan unos ").arg(spanish().toString(*percent, 'f', 0)) +
               roughly(left);
    }
    if (!percent && lastDuration) {
        return line + QStringLiteral(" · la última copia completa tardó ") + clock(*lastDuration);
    }
    return line;
}

QString partialFileLine(const QString& path) {
    return QStringLiteral("Si el servidor ha dejado el archivo ") + quoted(path) +
           QStringLiteral(", está incompleto y no sirve para restaurar: puede borrarlo.");
}

QString failureCause(const QList<dmo::ServerMessage>& messages, const QString& path,
                     const QString& folder, const QString& fallback) {
    if (const dmo::ServerMessage* m = dmo::findMessage(messages, kCannotOpenDevice)) {
        return openCause(*m, path, folder) + serverWords(messages, kCannotOpenDevice);
    }
    if (const dmo::ServerMessage* m = dmo::findMessage(messages, kWriteFailed)) {
        const std::optional<int> os = osError(m->text);
        return (os == kDiskFull ? QStringLiteral("El disco del servidor se ha llenado durante la "
                                                 "copia (error 112 del sistema operativo).")
                                : QStringLiteral("El servidor no ha podido escribir el archivo ") +
                                      quoted(path) + u'.') +
               serverWords(messages, kWriteFailed);
    }
    if (dmo::findMessage(messages, kDamagedPage)) {
        return QStringLiteral("La copia ha encontrado una página dañada en la base de datos. "
                              "Compruébela con DBCC CHECKDB antes de decidir qué hacer con ella.") +
               serverWords(messages, kDamagedPage);
    }
    if (dmo::findMessage(messages, kPermissionDenied)) {
        return QStringLiteral("El inicio de sesión no tiene permiso para hacer copias de seguridad "
                              "de la base de datos: lo tienen sysadmin y los roles db_owner y "
                              "db_backupoperator de la base de datos.") +
               serverWords(messages, kPermissionDenied);
    }
    if (dmo::findMessage(messages, kNotSupportedOnEdition)) {
        return QStringLiteral("La edición del servidor no admite copias comprimidas.") +
               serverWords(messages, kNotSupportedOnEdition);
    }
    if (dmo::findMessage(messages, kIncompleteSet)) {
        return QStringLiteral("La copia está incompleta.") + serverWords(messages, kIncompleteSet);
    }
    if (dmo::findMessage(messages, kReadFailed)) {
        return QStringLiteral("El servidor no ha podido leer los archivos de la base de datos.") +
               serverWords(messages, kReadFailed);
    }
    const QString words = serverWords(messages);
    if (dmo::findMessage(messages, kTerminatedAbnormally) && !words.isEmpty()) {
        return QStringLiteral("El servidor ha terminado la operación de forma anómala.") + words;
    }
    return words.isEmpty() ? fallback : words.mid(2);
}

QString failedHead(const QString& database) {
    return QStringLiteral("No se ha eliminado la base de datos ") + quoted(database) +
           QStringLiteral(": la copia de seguridad final no se ha completado.");
}

QString notConfirmed() {
    return QStringLiteral("El servidor no ha confirmado la copia: falta su mensaje de éxito "
                          "(3014).");
}

QString notInMsdb(const QString& tag) {
    return QStringLiteral("msdb no registra la copia con su etiqueta (") + visibleName(tag) +
           QStringLiteral("), así que no se puede dar por hecha.");
}

QString notSound() {
    return QStringLiteral("msdb registra la copia sin sumas de comprobación o como dañada.");
}

QString verifyFailed() {
    return QStringLiteral("La comprobación de la copia (RESTORE VERIFYONLY) ha fallado.");
}

QString notVerifiedValid() {
    return QStringLiteral("La comprobación de la copia (RESTORE VERIFYONLY) no ha dicho que sea "
                          "válida (mensaje 3262).");
}

QString cancelled(const QString& database, bool finishedFirst, const QString& path) {
    QString text =
        QStringLiteral("Se ha cancelado la copia de seguridad final. La base de datos ") +
        quoted(database) + QStringLiteral(" no se ha eliminado y sigue intacta.");
    text += finishedFirst ? QStringLiteral("\r\nLa copia había terminado antes de cancelarse: el "
                                           "archivo ") +
                                quoted(path) + QStringLiteral(" se queda en el servidor.")
                          : QStringLiteral("\r\n") + partialFileLine(path);
    return text;
}

QString unverifiedQuestion(const QString& database, const FinalBackupFile& file) {
    return QStringLiteral("La copia de seguridad final de ") + quoted(database) +
           QStringLiteral(" está hecha en ") + quoted(file.path) +
           QStringLiteral(": el servidor la ha confirmado (mensaje 3014) y msdb la registra "
                          "completa, de solo copia y con sumas de comprobación.\r\nNo se ha "
                          "podido comprobar que el archivo se pueda leer entero (RESTORE "
                          "VERIFYONLY): el inicio de sesión no tiene el permiso CREATE "
                          "DATABASE, que esa comprobación necesita.\r\n¿Desea eliminar la base "
                          "de datos sin esa comprobación?");
}

QString declined(const QString& database, const FinalBackupFile& file) {
    return QStringLiteral("No se ha eliminado la base de datos ") + quoted(database) +
           QStringLiteral(". Su copia de seguridad final se queda en ") + quoted(file.path) + u'.';
}

QString linkLostStatus() {
    return QStringLiteral("Se ha perdido la conexión durante la copia de seguridad final; "
                          "comprobando qué ha hecho el servidor...");
}

QString stillBackingUpStatus(int secondsLeft) {
    return QStringLiteral("El servidor sigue con la copia de seguridad; se espera a que termine "
                          "(%1 s como mucho)...")
        .arg(secondsLeft);
}

QString linkLost(const QString& database, const AfterLostAnswer& after, bool duringVerify,
                 const QString& path) {
    QString text = QStringLiteral("Se ha perdido la conexión con el servidor durante ") +
                   (duringVerify ? QStringLiteral("la comprobación de la copia de seguridad final")
                                 : QStringLiteral("la copia de seguridad final")) +
                   QStringLiteral(". La base de datos ") + quoted(database) +
                   QStringLiteral(" no se ha eliminado y sigue en el servidor.");
    if (!after.done) {
        return text +
               QStringLiteral("\r\nNo se ha podido consultar si la copia se ha "
                              "completado: ") +
               after.why + QStringLiteral("\r\n") + partialFileLine(path);
    }
    if (after.request == AfterLostAnswer::Request::StillRunning) {
        return text +
               QStringLiteral("\r\nEl servidor sigue con la copia: cuando termine, msdb "
                              "dirá si el archivo ") +
               quoted(path) + QStringLiteral(" es válido.");
    }
    if (*after.done) {
        return text +
               QStringLiteral("\r\nLa copia de seguridad se ha completado: msdb la "
                              "registra en ") +
               quoted(path) +
               (duringVerify ? QStringLiteral(", aunque no se ha terminado de comprobar.")
                             : QStringLiteral(", aunque no se ha comprobado."));
    }
    return text + QStringLiteral("\r\nLa copia de seguridad no se ha completado.\r\n") +
           partialFileLine(path);
}

QString afterDrop(const QString& server, const DatabaseFacts& facts, const FinalBackupFile& file,
                  const QString& accessToGiveBack) {
    const QString db = dmo::bracketQuoted(facts.name);
    QString restore = QStringLiteral("RESTORE DATABASE ") + db + QStringLiteral(" FROM DISK = ") +
                      dmo::quotedText(file.path);
    if (file.position != 1) {
        restore += QStringLiteral(" WITH FILE = %1").arg(file.position);
    }
    QString text = QStringLiteral("Antes de eliminarla se ha hecho una copia de seguridad final "
                                  "de la base de datos ") +
                   quoted(facts.name) + QStringLiteral(" (solo copia, ") +
                   (file.verified ? QStringLiteral("comprobada con RESTORE VERIFYONLY).")
                                  : QStringLiteral("sin comprobar con RESTORE VERIFYONLY).")) +
                   QStringLiteral("\r\nServidor: ") + quoted(server) +
                   QStringLiteral("\r\nArchivo: ") + quoted(file.path) + QStringLiteral(" (") +
                   spanish().formattedDataSize(file.bytes, 1, QLocale::DataSizeTraditionalFormat) +
                   QStringLiteral(")\r\nPara restaurarla: ") + visibleName(restore + u';');
    if (!accessToGiveBack.isEmpty()) {
        text += QStringLiteral("\r\nSe copió con acceso de un solo usuario, que la restauración "
                               "le devuelve; después, devuélvale el que tenía con ") +
                visibleName(QStringLiteral("ALTER DATABASE ") + db + QStringLiteral(" SET ") +
                            accessToGiveBack + u';');
    }
    text += QStringLiteral("\r\nEl archivo está en el disco del servidor, donde los trabajos de "
                           "limpieza pueden borrar las copias antiguas: guárdelo en otro lugar "
                           "si debe conservarse.");
    if (facts.encrypted) {
        text += QStringLiteral("\r\nLa base de datos usaba cifrado TDE: para restaurarla hace "
                               "falta el certificado que la protegía, guardado en master. "
                               "Consérvelo junto con la copia.");
    }
    return text;
}

} // namespace backup_texts
