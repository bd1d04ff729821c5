#include "FinalBackup.h"

#include "BackupMessages.h"
#include "BackupProgress.h"
#include "BackupTexts.h"
#include "RemovalTexts.h"
#include "platform/dmo/Backup.h"
#include "platform/dmo/Failure.h"
#include "platform/dmo/SQLServer.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/ui/Services.h"
#include "text/VisibleName.h"

#include <QRandomGenerator>
#include <QUuid>

#include <algorithm>

namespace {

constexpr int kSqlServer2005 = 9;
constexpr int kSqlServer2008 = 10;
constexpr int kSqlServer2012 = 11;
constexpr int kSqlServer2019 = 15;
constexpr int kEnterpriseEngine = 3; // Enterprise, Developer, Evaluation
constexpr int kAzureSqlDatabase = 5;
constexpr int kManagedInstance = 8;
constexpr qint64 kStandardEdition = -1534726760;

using namespace backup_messages;
// Refusals that come before the server opens the file.
constexpr std::int32_t kBeforeTheFile[] = {kPermissionDenied,
                                           kNotSupportedOnEdition,
                                           kCannotOpenDevice,
                                           911,
                                           942,
                                           3002,
                                           3033,
                                           3147,
                                           40510};

constexpr qsizetype kNameKept = 60;
constexpr qsizetype kPathLimit = 259;
constexpr int kRecentHours = 24;

// Why no final backup can be made on this server or of this database.
std::optional<QString> whyNoBackup(const DatabaseFacts& facts, const QString& folder) {
    const int engine = facts.server ? facts.server->engineEdition : 0;
    if (facts.major < kSqlServer2005) {
        return QStringLiteral("este servidor, anterior a SQL Server 2005, no hace copias de solo "
                              "copia (COPY_ONLY), que no alteran la secuencia de copias.");
    }
    if (engine == kAzureSqlDatabase) {
        return QStringLiteral("Azure SQL Database no admite BACKUP DATABASE; sus copias las hace "
                              "el propio servicio.");
    }
    if (engine == kManagedInstance) {
        return QStringLiteral("Azure SQL Managed Instance solo hace copias a una URL, no al disco "
                              "del servidor.");
    }
    if (facts.server && facts.server->amazonRds) {
        return QStringLiteral("en Amazon RDS las copias nativas se hacen con "
                              "msdb.dbo.rds_backup_database hacia S3, no al disco del servidor.");
    }
    if (facts.snapshot) {
        return QStringLiteral("es una instantánea de base de datos, que no admite copias de "
                              "seguridad.");
    }
    if (!facts.isUnread(Fact::State) && !facts.online()) {
        return QStringLiteral("la base de datos no está en línea (") +
               text::visibleName(facts.state) + QStringLiteral(").");
    }
    if (folder.startsWith(QLatin1String("http"), Qt::CaseInsensitive)) {
        return QStringLiteral("la carpeta de copias de seguridad del servidor es una URL ('") +
               text::visibleName(folder) + QStringLiteral("').");
    }
    return std::nullopt;
}

// The server's default backup folder without its closing separator.
QString defaultFolder(const DatabaseFacts& facts) {
    if (!facts.server || facts.major < kSqlServer2019) {
        return {};
    }
    QString folder = facts.server->defaultBackupPath;
    if (folder.size() > 1 && (folder.endsWith(u'/') || folder.endsWith(u'\\'))) {
        folder.chop(1);
    }
    return folder;
}

bool compresses(const DatabaseFacts& facts) {
    if (!facts.server) {
        return false;
    }
    return (facts.server->engineEdition == kEnterpriseEngine && facts.major >= kSqlServer2008) ||
           (facts.server->editionId == kStandardEdition && facts.major >= kSqlServer2012);
}

// Whether the box is proposed, and the words that say why, to follow the
// last backup's line.
std::pair<bool, QString> proposal(const DatabaseFacts& facts) {
    const QString proposed = QStringLiteral("se propone hacer antes una copia de seguridad final.");
    if (!facts.lastFullBackup) {
        return {true, QStringLiteral("por eso ") + proposed};
    }
    const QDateTime& finished = facts.lastFullBackup->finished;
    if (!facts.server || !facts.server->now.isValid() || !finished.isValid()) {
        return {true, QStringLiteral("no se ha podido saber si es reciente, así que ") + proposed};
    }
    if (finished.secsTo(facts.server->now) > kRecentHours * 3600) {
        return {true, QStringLiteral("tiene más de 24 horas, por eso ") + proposed};
    }
    return {false, QStringLiteral("es de las últimas 24 horas, así que la copia final queda a "
                                  "su elección.")};
}

std::optional<std::chrono::seconds> lastDuration(const DatabaseFacts& facts) {
    if (!facts.lastFullBackup || !facts.lastFullBackup->started.isValid() ||
        !facts.lastFullBackup->finished.isValid()) {
        return std::nullopt;
    }
    return std::chrono::seconds(
        std::max<qint64>(0, facts.lastFullBackup->started.secsTo(facts.lastFullBackup->finished)));
}

bool said(const QList<dmo::ServerMessage>& messages, std::int32_t number) {
    return dmo::findMessage(messages, number) != nullptr;
}

bool beforeTheFile(const QList<dmo::ServerMessage>& messages) {
    return std::any_of(std::begin(kBeforeTheFile), std::end(kBeforeTheFile),
                       [&](std::int32_t number) { return said(messages, number); });
}

// msdb's backup set under this backup's tag, and whether it is sound:
// copy-only, with checksums, not damaged.
struct Listed {
    FinalBackupFile file;
    bool sound = false;
};

std::optional<Listed> listedInMsdb(const dmo::SQLServer& server, const QString& database,
                                   const QString& tag) {
    const dmo::QueryResults r = server.ExecuteWithResults(
        QStringLiteral("SELECT TOP (1) bs.position, bs.backup_size, bs.has_backup_checksums, "
                       "bs.is_copy_only, bs.is_damaged, mf.physical_device_name FROM "
                       "msdb.dbo.backupset AS bs JOIN msdb.dbo.backupmediafamily AS mf ON "
                       "mf.media_set_id = bs.media_set_id WHERE bs.database_name = ? AND "
                       "bs.name = ? AND bs.type = 'D' ORDER BY bs.backup_set_id DESC"),
        {database, tag});
    if (r.rows.isEmpty()) {
        return std::nullopt;
    }
    const QList<std::optional<QString>>& row = r.rows.first();
    auto value = [&row](qsizetype i) { return row.value(i).value_or(QString()).trimmed(); };
    Listed listed;
    listed.file.position = value(0).toInt();
    listed.file.bytes = value(1).toLongLong();
    listed.file.path = value(5);
    listed.sound = value(2) == u"1" && value(3) == u"1" && value(4) == u"0" &&
                   listed.file.position >= 1 && !listed.file.path.isEmpty();
    return listed;
}

// One attempt at a proven final backup.
class Attempt {
public:
    Attempt(dmo::SQLServer& server, const BackupRun& run) : server_(server), run_(run) {
        const QString fileName =
            backupFileName(run.facts.name, run.offer.folder, QDateTime::currentDateTimeUtc(),
                           static_cast<quint16>(QRandomGenerator::system()->bounded(0x10000)));
        outcome_.path = backupPath(run.offer.folder, fileName);
        tag_ = QStringLiteral("Tarvelo ") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    }

    BackupOutcome make() {
        bool unverifiable = false;
        bool goOn = false;
        {
            BackupProgress progress(
                {run_.look, run_.facts.seesOtherSessions, lastDuration(run_.facts)});
            goOn = backUp(progress) && findInMsdb() && verify(progress, unverifiable);
        } // the window closes before any question or look
        if (lostDuringVerify_) {
            linkLost(*lostDuringVerify_);
        }
        if (!goOn) {
            return outcome_;
        }
        if (unverifiable &&
            ui::MsgBox(backup_texts::unverifiedQuestion(run_.facts.name, *outcome_.file),
                       ui::style::YesNoWarningDefaultNo) != ui::answer::Yes) {
            return end(BackupOutcome::End::Declined,
                       backup_texts::declined(run_.facts.name, *outcome_.file));
        }
        outcome_.end = BackupOutcome::End::Proven;
        return outcome_;
    }

private:
    // Each step: true to go on; else the outcome is set.
    bool backUp(BackupProgress& progress) {
        dmo::Backup backup;
        backup.setDatabase(run_.facts.name);
        backup.setFiles(outcome_.path);
        backup.setBackupSetName(tag_);
        backup.setBackupSetDescription(QStringLiteral("Copia final antes de eliminarla: ") +
                                       run_.facts.name);
        backup.setCompression(run_.offer.compression);
        progress.begin(backup, backup_texts::backingUp(run_.facts.name, outcome_.path),
                       backup_texts::finishing(run_.facts.name, outcome_.path));
        try {
            backup.SQLBackup(server_);
        } catch (const rt::RuntimeError& failure) {
            progress.end();
            if (progress.cancelled()) {
                cancelled(false);
            } else if (failure.number() == dmo::kNoServerMessage) {
                lostDuringVerify_ = false;
            } else {
                failed(backup_texts::failureCause(backup.Messages(), outcome_.path,
                                                  run_.offer.folder, failure.description()),
                       !beforeTheFile(backup.Messages()));
            }
            return false;
        }
        progress.end();
        if (progress.cancelled()) {
            cancelled(true);
            return false;
        }
        if (!said(backup.Messages(), kSuccess)) {
            failed(backup_texts::notConfirmed(), true);
            return false;
        }
        return true;
    }

    bool findInMsdb() {
        try {
            const std::optional<Listed> listed = listedInMsdb(server_, run_.facts.name, tag_);
            if (!listed) {
                failed(backup_texts::notInMsdb(tag_), true);
                return false;
            }
            if (!listed->sound) {
                failed(backup_texts::notSound(), true);
                return false;
            }
            outcome_.file = listed->file;
            return true;
        } catch (const rt::RuntimeError& failure) {
            if (failure.number() == dmo::kNoServerMessage) {
                lostDuringVerify_ = false;
            } else {
                failed(backup_texts::notInMsdb(tag_) + QStringLiteral("\r\n") +
                           failure.description(),
                       true);
            }
            return false;
        }
    }

    bool verify(BackupProgress& progress, bool& unverifiable) {
        dmo::Restore restore;
        restore.setFiles(outcome_.file->path);
        restore.setFileNumber(outcome_.file->position);
        progress.begin(restore, backup_texts::verifying(outcome_.file->path),
                       backup_texts::verifying(outcome_.file->path));
        try {
            restore.SQLVerify(server_);
        } catch (const rt::RuntimeError& failure) {
            progress.end();
            if (progress.cancelled()) {
                cancelled(true);
            } else if (failure.number() == dmo::kNoServerMessage) {
                lostDuringVerify_ = true;
            } else if (said(restore.Messages(), kPermissionDenied)) {
                unverifiable = true;
                return true;
            } else {
                failed(backup_texts::verifyFailed() + QStringLiteral("\r\n") +
                           backup_texts::failureCause(restore.Messages(), outcome_.file->path,
                                                      run_.offer.folder, failure.description()),
                       false);
            }
            return false;
        }
        progress.end();
        if (progress.cancelled()) {
            cancelled(true);
            return false;
        }
        if (!said(restore.Messages(), kValid)) {
            failed(backup_texts::notVerifiedValid(), false);
            return false;
        }
        outcome_.file->verified = true;
        return true;
    }

    void failed(const QString& cause, bool partialFile) {
        QString text = backup_texts::failedHead(run_.facts.name) + QStringLiteral("\r\n") + cause;
        if (partialFile) {
            text += QStringLiteral("\r\n") + backup_texts::partialFileLine(outcome_.path);
        }
        end(BackupOutcome::End::Failed, text);
    }

    void cancelled(bool finishedFirst) {
        end(BackupOutcome::End::Cancelled,
            backup_texts::cancelled(run_.facts.name, finishedFirst, outcome_.path));
    }

    // The answer is lost: what the server did is learnt on a new
    // connection, which also gives the database back its access.
    void linkLost(bool duringVerify) {
        outcome_.end = BackupOutcome::End::LinkLost;
        if (run_.status) {
            ui::onUiThread([&] { run_.status(backup_texts::linkLostStatus()); });
        }
        const AfterLostAnswer after = lookAfterLostAnswer(
            run_.look,
            [&](dmo::SQLServer& server) {
                return listedInMsdb(server, run_.facts.name, tag_).has_value();
            },
            backup_texts::stillBackingUpStatus, run_.status, run_.giveBackAccess);
        outcome_.told =
            backup_texts::linkLost(run_.facts.name, after, duringVerify, outcome_.path) +
            lineOf(after.then);
    }

    BackupOutcome end(BackupOutcome::End how, const QString& text) {
        outcome_.end = how;
        outcome_.file.reset();
        outcome_.told = text + lineOf(run_.giveBackAccess(server_));
        return outcome_;
    }

    static QString lineOf(const QString& text) {
        return text.isEmpty() ? QString() : QStringLiteral("\r\n") + text;
    }

    dmo::SQLServer& server_;
    const BackupRun& run_;
    QString tag_;
    BackupOutcome outcome_;
    // The answer was lost, during the verification or before it.
    std::optional<bool> lostDuringVerify_;
};

} // namespace

BackupOffer backupOffer(const DatabaseFacts& facts) {
    BackupOffer offer;
    offer.folder = defaultFolder(facts);
    const QString lastBackup = lastBackupLine(facts);
    if (const std::optional<QString> why = whyNoBackup(facts, offer.folder)) {
        offer.line = (lastBackup.isEmpty() ? QString() : lastBackup + QStringLiteral("\r\n")) +
                     QStringLiteral("No se puede hacer una copia de seguridad final: ") + *why;
        return offer;
    }
    offer.possible = true;
    offer.compression = compresses(facts);
    offer.option = backup_texts::option(offer.folder);
    if (lastBackup.isEmpty()) {
        offer.proposed = true;
        offer.line = QStringLiteral("No se ha podido consultar la última copia de seguridad "
                                    "completa, así que se propone hacer antes una copia de "
                                    "seguridad final.");
        return offer;
    }
    const auto [proposed, why] = proposal(facts);
    offer.proposed = proposed;
    offer.line = lastBackup.chopped(1) + QStringLiteral("; ") + why;
    return offer;
}

QString backupFileName(const QString& database, const QString& folder, const QDateTime& utc,
                       quint16 random) {
    const QString stamp = utc.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    const QString tail = u'_' + stamp + u'_' +
                         QStringLiteral("%1").arg(random, 4, 16, QLatin1Char('0')) +
                         QStringLiteral(".bak");
    const QString head = QStringLiteral("Tarvelo_");
    const qsizetype folderPart = folder.isEmpty() ? 0 : folder.size() + 1;
    const qsizetype room =
        std::clamp<qsizetype>(kPathLimit - folderPart - head.size() - tail.size(), 0, kNameKept);
    // Letters and digits of any script stay; what a file system or a
    // device name could take otherwise goes.
    QString safe;
    for (const char32_t c : QStringView(database).toUcs4()) {
        QString piece;
        if (QChar::isLetterOrNumber(c)) {
            piece = QString::fromUcs4(&c, 1);
        } else if (c == U'-' || c == U'.' || c == U'_' || c == U' ') {
            piece = c == U' ' ? QStringLiteral("_") : QString(QChar(static_cast<char16_t>(c)));
        }
        if (safe.size() + piece.size() > room) {
            break;
        }
        safe += piece;
    }
    return head + safe + tail;
}

QString backupPath(const QString& folder, const QString& fileName) {
    if (folder.isEmpty()) {
        return fileName;
    }
    const QChar separator = folder.contains(u'\\') ? u'\\' : u'/';
    return folder.endsWith(separator) ? folder + fileName : folder + separator + fileName;
}

BackupOutcome makeFinalBackup(dmo::SQLServer& server, const BackupRun& run) {
    return Attempt(server, run).make();
}
