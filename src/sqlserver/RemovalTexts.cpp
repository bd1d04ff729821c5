#include "RemovalTexts.h"

#include "platform/dmo/Quoting.h"
#include "text/VisibleName.h"

#include <QLocale>

namespace {

using text::visibleName;

const QLocale& spanish() {
    static const QLocale locale(QLocale::Spanish, QLocale::Spain);
    return locale;
}

// A statement the administrator may run, with the names made visible.
QString statement(const QString& text) { return visibleName(text); }

QString quotedList(const QStringList& names) {
    QStringList shown;
    for (const QString& name : names) {
        shown << u'\'' + visibleName(name) + u'\'';
    }
    return shown.join(QStringLiteral(", "));
}

// How the confirmation names a fact it could not read.
QString factName(Fact fact) {
    switch (fact) {
    case Fact::State:
        return QStringLiteral("el estado");
    case Fact::Replication:
        return QStringLiteral("la replicación");
    case Fact::Rights:
        return QStringLiteral("los permisos del inicio de sesión");
    case Fact::Snapshots:
        return QStringLiteral("las instantáneas");
    case Fact::Mirroring:
        return QStringLiteral("la creación de reflejo");
    case Fact::AvailabilityGroup:
        return QStringLiteral("el grupo de disponibilidad");
    case Fact::Files:
        return QStringLiteral("los archivos");
    case Fact::LogShipping:
        return QStringLiteral("el trasvase de registros");
    case Fact::RunningRequests:
        return QStringLiteral("las copias o restauraciones en curso");
    case Fact::LastBackup:
        return QStringLiteral("la última copia de seguridad");
    case Fact::Sessions:
        return QStringLiteral("las sesiones");
    case Fact::Server:
        return QStringLiteral("la edición y la carpeta de copias del servidor");
    }
    return {};
}

QString sizeLine(const DatabaseFacts& facts) {
    if (facts.files.isEmpty()) {
        return {};
    }
    qint64 pages = 0;
    for (const DatabaseFile& file : facts.files) {
        pages += file.pages;
    }
    constexpr qint64 kPageBytes = 8192;
    return QStringLiteral("Tamaño: ") +
           spanish().formattedDataSize(pages * kPageBytes, 1, QLocale::DataSizeTraditionalFormat) +
           u'.';
}

QString sessionsLine(const DatabaseFacts& facts) {
    if (facts.isUnread(Fact::Sessions)) {
        return {};
    }
    if (facts.sessions.isEmpty()) {
        return QStringLiteral("Sesiones que la usan ahora: ninguna.");
    }
    constexpr qsizetype kShown = 3;
    QStringList shown;
    for (qsizetype i = 0; i < facts.sessions.size() && i < kShown; ++i) {
        shown << sessionLine(facts.sessions[i]).mid(2);
    }
    QString line = QStringLiteral("Sesiones que la usan ahora: %1 (").arg(facts.sessions.size()) +
                   shown.join(QStringLiteral("; "));
    if (facts.sessions.size() > kShown) {
        line += QStringLiteral("; y %1 más").arg(facts.sessions.size() - kShown);
    }
    return line + QStringLiteral(").");
}

QStringList runningLines(const DatabaseFacts& facts) {
    QStringList lines;
    for (const RunningRequest& request : facts.backupsAndRestores) {
        lines << QStringLiteral("En curso sobre ella: ") + requestProgress(request) + u'.';
    }
    return lines;
}

QString logShippingLine(const DatabaseFacts& facts) {
    const QString db = dmo::quotedText(facts.name);
    if (facts.logShippingPrimary) {
        return QStringLiteral(
                   "Atención: es la base de datos principal de un trasvase de registros "
                   "(log shipping). Sus trabajos en msdb quedarán huérfanos; quite antes "
                   "el trasvase con ") +
               statement(
                   QStringLiteral("EXEC master.dbo.sp_delete_log_shipping_primary_database ") + db +
                   u';');
    }
    if (facts.logShippingSecondary) {
        return QStringLiteral("Atención: es la base de datos secundaria de un trasvase de "
                              "registros (log shipping). Sus trabajos en msdb quedarán huérfanos; "
                              "quite antes el trasvase con ") +
               statement(
                   QStringLiteral("EXEC master.dbo.sp_delete_log_shipping_secondary_database ") +
                   db + u';');
    }
    return {};
}

QStringList filesLines(const QStringList& files) {
    QStringList lines;
    for (const QString& file : files) {
        lines << QStringLiteral("- ") + visibleName(file);
    }
    return lines;
}

QString groupObstacle(const DatabaseFacts& facts) {
    const AvailabilityGroup& group = *facts.group;
    const QString db = dmo::bracketQuoted(facts.name);
    const QString named = group.name.isEmpty() ? QStringLiteral("a un grupo de disponibilidad")
                                               : QStringLiteral("al grupo de disponibilidad '") +
                                                     visibleName(group.name) + u'\'';
    const QString groupName =
        group.name.isEmpty() ? QStringLiteral("[grupo]") : dmo::bracketQuoted(group.name);
    const QString onPrimary = QStringLiteral("en la réplica principal, ") +
                              statement(QStringLiteral("ALTER AVAILABILITY GROUP ") + groupName +
                                        QStringLiteral(" REMOVE DATABASE ") + db + u';');
    const QString onSecondary =
        statement(QStringLiteral("ALTER DATABASE ") + db + QStringLiteral(" SET HADR OFF;"));
    if (group.role == QLatin1String("PRIMARY")) {
        return QStringLiteral("- Está unida ") + named +
               QStringLiteral(", y esta réplica es la principal. Sáquela antes del grupo ") +
               onPrimary;
    }
    if (group.role == QLatin1String("SECONDARY")) {
        return QStringLiteral("- Está unida ") + named +
               QStringLiteral(", y esta réplica es secundaria. Sáquela antes del grupo en esta "
                              "réplica con ") +
               onSecondary;
    }
    return QStringLiteral("- Está unida ") + named + QStringLiteral(". Sáquela antes del grupo: ") +
           onPrimary + QStringLiteral(", o en una réplica secundaria, ") + onSecondary;
}

} // namespace

QString requestProgress(const RunningRequest& request) {
    return QStringLiteral("%1, completado al %2 %")
        .arg(visibleName(request.command), spanish().toString(request.percentComplete, 'f', 0));
}

QString sessionLine(const HoldingSession& session) {
    QString line = QStringLiteral("- ") + visibleName(session.login);
    if (!session.host.isEmpty()) {
        line += QStringLiteral(" en ") + visibleName(session.host);
    }
    if (!session.program.isEmpty()) {
        line += QStringLiteral(" (") + visibleName(session.program) + u')';
    }
    return line;
}

QString lastBackupLine(const DatabaseFacts& facts) {
    if (facts.isUnread(Fact::LastBackup)) {
        return {};
    }
    if (!facts.lastFullBackup) {
        return facts.backupsOfAnEarlierDatabase
                   ? QStringLiteral(
                         "Última copia de seguridad completa: nunca (las que guarda msdb "
                         "con este nombre son de una base de datos anterior).")
                   : QStringLiteral("Última copia de seguridad completa: nunca.");
    }
    const LastFullBackup& backup = *facts.lastFullBackup;
    QString line = QStringLiteral("Última copia de seguridad completa: ") +
                   (backup.finished.isValid()
                        ? backup.finished.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")) +
                              QStringLiteral(" (hora del servidor)")
                        : QStringLiteral("fecha desconocida"));
    if (!backup.device.isEmpty()) {
        line += QStringLiteral(", en '") + visibleName(backup.device) + u'\'';
    }
    return line + u'.';
}

QStringList confirmationLines(const DatabaseFacts& facts, const QString& backupLine) {
    QStringList lines;
    auto add = [&lines](const QString& line) {
        if (!line.isEmpty()) {
            lines << line;
        }
    };
    add(backupLine);
    if (!facts.online() && !facts.state.isEmpty()) {
        add(QStringLiteral("Estado: ") + visibleName(facts.state) +
            QStringLiteral(" (no está en línea)."));
    }
    add(sizeLine(facts));
    add(sessionsLine(facts));
    lines << runningLines(facts);
    const QStringList left = facts.filesLeftOnDisk();
    if (!left.isEmpty()) {
        lines << (facts.online() ? QStringLiteral("Estos archivos están fuera de línea y se "
                                                  "quedarán en el disco del servidor:")
                                 : QStringLiteral("La base de datos está fuera de línea: sus "
                                                  "archivos se quedarán en el disco del "
                                                  "servidor:"))
              << filesLines(left);
    }
    add(logShippingLine(facts));
    if (!facts.unread.isEmpty()) {
        QStringList names;
        for (const Fact fact : facts.unread) {
            names << factName(fact);
        }
        lines << QStringLiteral("No se ha podido consultar: ") + names.join(QStringLiteral(", ")) +
                     u'.';
    }
    return lines;
}

namespace {

// `unnamedSnapshot`: the server refused for a snapshot that the facts do
// not name.
// What the login needs to drop a database, as the server's version words it.
QString rightLine(const DatabaseFacts& facts) {
    constexpr int kSqlServer2005 = 9;
    const QString login = facts.loginName.isEmpty() ? QStringLiteral("El inicio de sesión")
                                                    : QStringLiteral("El inicio de sesión '") +
                                                          visibleName(facts.loginName) + u'\'';
    return QStringLiteral("- ") + login +
           (facts.major >= kSqlServer2005
                ? QStringLiteral(" no tiene permiso para eliminarla: necesita el permiso CONTROL "
                                 "sobre la base de datos, el permiso ALTER ANY DATABASE en el "
                                 "servidor o pertenecer al rol db_owner de la base de datos.")
                : QStringLiteral(" no tiene permiso para eliminarla: necesita ser el propietario "
                                 "de la base de datos o miembro de los roles sysadmin o "
                                 "dbcreator del servidor."));
}

QString obstacleText(const DatabaseFacts& facts, const QString& sServidor, bool unnamedSnapshot) {
    const QString db = dmo::bracketQuoted(facts.name);
    const QString head = QStringLiteral("No se puede eliminar la base de datos '") +
                         visibleName(facts.name) + QStringLiteral("' del servidor '") +
                         visibleName(sServidor) + QStringLiteral("'");
    if (facts.systemDatabase()) {
        return head + QStringLiteral(": es una base de datos del sistema (master, model, msdb o "
                                     "tempdb), que SQL Server necesita para funcionar.");
    }
    QStringList lines{head + u':'};
    if (facts.mayDrop == false) {
        lines << rightLine(facts);
    }
    if (!facts.snapshots.isEmpty()) {
        QStringList drops;
        for (const QString& snapshot : facts.snapshots) {
            drops << statement(QStringLiteral("DROP DATABASE ") + dmo::bracketQuoted(snapshot) +
                               u';');
        }
        lines << QStringLiteral("- Tiene instantáneas de base de datos que hacen referencia a "
                                "ella: ") +
                     quotedList(facts.snapshots) + QStringLiteral(". Elimínelas antes con ") +
                     drops.join(u' ') +
                     QStringLiteral(" (eliminar una instantánea vacía la caché de planes de "
                                    "toda la instancia).");
    }
    if (unnamedSnapshot) {
        lines << QStringLiteral("- Una instantánea de base de datos hace referencia a ella. "
                                "Elimine antes esa instantánea con DROP DATABASE.");
    }
    if (facts.published) {
        lines << QStringLiteral("- Está publicada para replicación. Quite antes la replicación "
                                "con ") +
                     statement(QStringLiteral("EXEC sp_removedbreplication ") +
                               dmo::quotedText(facts.name) + u';');
    }
    if (facts.mirrored) {
        lines << QStringLiteral("- Tiene creación de reflejo (mirroring). Quítela antes con ") +
                     statement(QStringLiteral("ALTER DATABASE ") + db +
                               QStringLiteral(" SET PARTNER OFF;"));
    }
    if (facts.group) {
        lines << groupObstacle(facts);
    }
    lines << QStringLiteral("No se ha cambiado nada en el servidor.");
    return lines.join(QStringLiteral("\r\n"));
}

} // namespace

QString obstacleMessage(const DatabaseFacts& facts, const QString& sServidor) {
    return obstacleText(facts, sServidor, false);
}

std::optional<QString> refusalMessage(std::int32_t serverMessage, DatabaseFacts facts,
                                      const QString& sServidor) {
    switch (serverMessage) {
    case 3709: // a database snapshot refers to it
        return obstacleText(facts, sServidor, facts.snapshots.isEmpty());
    case 3724:
        facts.published = true;
        break;
    case 3743:
        facts.mirrored = true;
        break;
    case 3752:
        if (!facts.group) {
            facts.group = AvailabilityGroup{};
        }
        break;
    default:
        return std::nullopt;
    }
    return obstacleText(facts, sServidor, false);
}

QString filesLeftMessage(const DatabaseFacts& facts) {
    return (QStringList{QStringLiteral("Se ha eliminado la base de datos '") +
                        visibleName(facts.name) +
                        QStringLiteral("', pero estos archivos suyos, que estaban fuera de "
                                       "línea, se han quedado en el disco del servidor:")} +
            filesLines(facts.filesLeftOnDisk()))
        .join(QStringLiteral("\r\n"));
}

QString lostAnswerStatus() {
    return QStringLiteral("Se ha perdido la respuesta del servidor; comprobando si la base de "
                          "datos se ha eliminado...");
}

QString stillRemovingStatus(int secondsLeft) {
    return QStringLiteral("El servidor sigue eliminando la base de datos; se espera a que termine "
                          "(%1 s como mucho)...")
        .arg(secondsLeft);
}

QString stillThereLine(AfterLostAnswer::Request request) {
    switch (request) {
    case AfterLostAnswer::Request::StillRunning:
        return QStringLiteral("El servidor sigue eliminando la base de datos: la orden que la "
                              "elimina sigue en curso. Vuelva a cargar la lista más tarde para "
                              "saber si se ha eliminado.");
    case AfterLostAnswer::Request::Unseen:
        return QStringLiteral("La base de datos sigue en el servidor, pero no se puede saber si el "
                              "servidor sigue eliminándola: el inicio de sesión no ve las órdenes "
                              "de otras sesiones (necesita el permiso VIEW SERVER STATE). Vuelva "
                              "a cargar la lista más tarde para saber si se ha eliminado.");
    case AfterLostAnswer::Request::Ended:
        break;
    }
    return QStringLiteral("La base de datos sigue en el servidor.");
}
