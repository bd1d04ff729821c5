#pragma once
// A final backup before a drop: offered in the confirmation when the server
// can write one to its own disk, then made on the drop's own connection and
// proven before the drop may follow.  Proof is positive only: the server's
// success message (3014), msdb's backup set under this backup's own tag,
// and RESTORE VERIFYONLY's "valid" (3262).  A login that may not verify
// (no CREATE DATABASE) is asked, with what was and was not checked.
//
// The file never lands on another: its name is the database's name made
// safe, a UTC time stamp and a random part, and it is added with NOINIT.

#include "DatabaseFacts.h"
#include "LostAnswer.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

namespace dmo {
class SQLServer;
}

// Whether the confirmation offers a final backup, and how it says so.
struct BackupOffer {
    bool possible = false;
    // Proposed (the box checked) unless a full backup of this very database
    // finished within the last 24 hours.
    bool proposed = false;
    QString option; // the check box's label
    // The first line under the server line: the last backup and why the box
    // is checked, or why no final backup can be made.
    QString line;
    // The server's default backup folder, when it says; empty: the file is
    // named alone and the server puts it there.
    QString folder;
    bool compression = false; // the edition is known to compress backups
};

BackupOffer backupOffer(const DatabaseFacts& facts);

// Tarvelo_<name made safe, at most 60 characters>_<yyyyMMddTHHmmssZ>_<4
// hex digits>.bak, with the whole path within the server's 259 characters.
QString backupFileName(const QString& database, const QString& folder, const QDateTime& utc,
                       quint16 random);
// The folder and the file name joined by the folder's own separator; the
// name alone without a folder.
QString backupPath(const QString& folder, const QString& fileName);

// The file a proven backup wrote, for the message after the drop.
struct FinalBackupFile {
    QString path; // the full path on the server, as msdb records it
    int position = 1;
    qint64 bytes = 0;
    bool verified = false; // RESTORE VERIFYONLY answered; else the user went on without
};

// How a backup attempt ended, and what the user is to read about it.
struct BackupOutcome {
    enum class End { Proven, Failed, Cancelled, LinkLost, Declined };
    End end = End::Failed;
    std::optional<FinalBackupFile> file; // Proven only
    QString told;                        // why not, for every other end
    QString path;                        // the file as asked for
};

struct BackupRun {
    const DatabaseFacts& facts;
    const BackupOffer& offer;
    // Whom to look again as after a lost answer, and the session that ran
    // the statement; also whom the progress reads the percent as.
    LostAnswer look;
    // Gives the database back the access it had before the backup, on the
    // connection given; the line that tells how that went, empty when
    // there was nothing to give back.
    std::function<QString(dmo::SQLServer&)> giveBackAccess;
    std::function<void(const QString&)> status; // the status line
};

// Backs the database up on `server` (its connection the drop will use),
// with a progress window, and proves the backup.  Never raises: a failure
// is an outcome.
BackupOutcome makeFinalBackup(dmo::SQLServer& server, const BackupRun& run);
