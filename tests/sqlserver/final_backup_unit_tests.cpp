// The final backup's parts that need no server: whether and how it is
// offered, the file's name, and the cause of a failure told by numbers.
#include "QStringPrinter.h"
#include "platform/dmo/Backup.h"
#include "sqlserver/BackupTexts.h"
#include "sqlserver/FinalBackup.h"

#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

const QDateTime kNow(QDate(2026, 12, 9), QTime(18, 0, 0));

DatabaseFacts online(int major, int engine = 3, qint64 edition = -2117995310,
                     const QString& folder = QStringLiteral("/var/opt/mssql/backup/")) {
    DatabaseFacts facts;
    facts.name = QStringLiteral("Ventas");
    facts.major = major;
    facts.server = ServerFacts{engine, edition, folder, false, kNow};
    return facts;
}

DatabaseFacts backedUpHoursAgo(int hours) {
    DatabaseFacts facts = online(15);
    facts.lastFullBackup =
        LastFullBackup{kNow.addSecs(-hours * 3600), QStringLiteral("/b/Ventas.bak"), {}, 0};
    return facts;
}

struct OfferCase {
    const char* name;
    DatabaseFacts facts;
    bool possible;
    bool proposed;
    const char* line;   // contained in the line
    const char* option; // contained in the check box's label
    bool compression;
};

TEST(FinalBackupOffer, WhereItIsOfferedProposedAndCompressed) {
    DatabaseFacts offline = online(15);
    offline.state = QStringLiteral("OFFLINE");
    DatabaseFacts snapshot = online(15);
    snapshot.snapshot = true;
    DatabaseFacts rds = online(14);
    rds.server->amazonRds = true;
    DatabaseFacts unreadBackup = online(15);
    unreadBackup.unread = {Fact::LastBackup};
    const OfferCase cases[] = {
        {"never backed up, 2019 names its folder", online(15), true, true,
         "Última copia de seguridad completa: nunca; por eso se propone",
         "(solo copia) en '/var/opt/mssql/backup'", true},
        {"a backup of 3 hours ago", backedUpHoursAgo(3), true, false,
         "; es de las últimas 24 horas, así que la copia final queda a su elección.", "", true},
        {"a backup of 25 hours ago", backedUpHoursAgo(25), true, true,
         "'/b/Ventas.bak'; tiene más de 24 horas, por eso se propone", "", true},
        {"the last backup unread", unreadBackup, true, true,
         "No se ha podido consultar la última copia de seguridad completa, así que se propone", "",
         true},
        {"2017 gives no folder", online(14), true, true, "",
         "en la carpeta de copias de seguridad del servidor", true},
        {"Express does not compress", online(15, 4, -1592396055), true, true, "", "", false},
        {"Standard compresses", online(15, 2, -1534726760), true, true, "", "", true},
        {"Azure SQL Database", online(12, 5, 1674378470), false, false,
         "nunca.\r\nNo se puede hacer una copia de seguridad final: Azure SQL Database", "", false},
        {"Managed Instance", online(16, 8, 1674378470), false, false, "solo hace copias a una URL",
         "", false},
        {"Amazon RDS", rds, false, false, "rds_backup_database", "", false},
        {"offline", offline, false, false, "no está en línea (OFFLINE)", "", false},
        {"a snapshot", snapshot, false, false, "es una instantánea", "", false},
        {"SQL Server 2000", online(8), false, false, "anterior a SQL Server 2005", "", false},
    };
    for (const OfferCase& c : cases) {
        SCOPED_TRACE(c.name);
        const BackupOffer offer = backupOffer(c.facts);
        EXPECT_EQ(offer.possible, c.possible);
        EXPECT_EQ(offer.proposed, c.proposed);
        EXPECT_TRUE(offer.line.contains(QString::fromUtf8(c.line))) << offer.line.toStdString();
        EXPECT_TRUE(offer.option.contains(QString::fromUtf8(c.option)));
        EXPECT_EQ(offer.option.isEmpty(), !c.possible);
        EXPECT_EQ(offer.compression, c.compression);
    }
}

TEST(FinalBackupFile, NamesAreSafeUniqueAndWithinThePathLimit) {
    const QDateTime utc(QDate(2026, 12, 9), QTime(18, 48, 0), QTimeZone::utc());
    const QString ideograph = QString::fromUcs4(U"\U00020000"); // a letter outside the BMP
    struct {
        QString database;
        QString folder;
        QString expected; // empty: only the length is checked
    } cases[] = {
        {QStringLiteral("Ventas"), {}, QStringLiteral("Tarvelo_Ventas_20261209T184800Z_00ab.bak")},
        {QStringLiteral("a/b\\c:d*e?f\"g<h>i|j k"),
         {},
         QStringLiteral("Tarvelo_abcdefghij_k_20261209T184800Z_00ab.bak")},
        {QStringLiteral("NUL"), {}, QStringLiteral("Tarvelo_NUL_20261209T184800Z_00ab.bak")},
        {QStringLiteral("Nóminas\u202E2024"),
         {},
         QStringLiteral("Tarvelo_Nóminas2024_20261209T184800Z_00ab.bak")},
        {QString(59, u'x') + ideograph,
         {},
         QStringLiteral("Tarvelo_") + QString(59, u'x') +
             QStringLiteral("_20261209T184800Z_00ab.bak")},
        {QString(128, u'n'), QStringLiteral("/") + QString(199, u'f'), {}},
    };
    for (const auto& c : cases) {
        const QString name = backupFileName(c.database, c.folder, utc, 0xab);
        if (!c.expected.isEmpty()) {
            EXPECT_EQ(name, c.expected);
        }
        EXPECT_LE(backupPath(c.folder, name).size(), 259);
        EXPECT_TRUE(name.startsWith(QStringLiteral("Tarvelo_")));
    }
    EXPECT_EQ(backupPath(QStringLiteral("D:\\Copias"), QStringLiteral("f.bak")),
              QStringLiteral("D:\\Copias\\f.bak"));
    EXPECT_EQ(backupPath(QStringLiteral("/var/copias"), QStringLiteral("f.bak")),
              QStringLiteral("/var/copias/f.bak"));
}

TEST(FinalBackupFailure, TheCauseComesFromTheNumbersInAnyOrder) {
    const QString generic = QStringLiteral("BACKUP DATABASE is terminating abnormally.");
    struct {
        const char* name;
        QList<dmo::ServerMessage> messages;
        const char* cause;
    } cases[] = {
        {"access denied, the generic end first",
         {{3013, generic},
          {3201, "Cannot open backup device '/b/x.bak'. Operating system error 5(Access is "
                 "denied.)."}},
         "no puede escribir en la carpeta '/b' (error 5 del sistema operativo"},
        {"a missing folder, in Spanish",
         {{3201, "No se puede abrir el dispositivo de copia de seguridad '/no/x.bak'. Error del "
                 "sistema operativo 2(El sistema no puede encontrar el archivo especificado.)."},
          {3013, generic}},
         "no encuentra la carpeta '/b' (error 2 del sistema operativo)"},
        {"a full disk",
         {{3202, "Write on \"/b/x.bak\" failed: 112(There is not enough space on the disk.)"},
          {3013, generic}},
         "se ha llenado"},
        {"a damaged page",
         {{3043, "BACKUP 'Ventas' detected an error on page (1:153) in file 'Ventas.mdf'."},
          {3013, generic}},
         "DBCC CHECKDB"},
        {"no right",
         {{262, "BACKUP DATABASE permission denied in database 'Ventas'."}},
         "db_backupoperator"},
        {"no compression",
         {{1844, "BACKUP DATABASE WITH COMPRESSION is not supported on Express"}},
         "no admite copias comprimidas"},
        {"the generic end names the message before it",
         {{3211, "10 percent processed."}, {3013, generic}, {3023, "must be serialized."}},
         "de forma anómala.\r\nMensaje del servidor: must be serialized."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString cause =
            backup_texts::failureCause(c.messages, QStringLiteral("/b/x.bak"), {}, {});
        EXPECT_TRUE(cause.contains(QString::fromUtf8(c.cause))) << cause.toStdString();
    }
}

} // namespace
