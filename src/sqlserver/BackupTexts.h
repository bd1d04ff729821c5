#pragma once
// The Spanish texts of a final backup: its progress window, the causes of
// a failure by the server's message numbers, a cancel, a lost link, the
// question when the backup cannot be verified and the message after the
// drop.  Every name and path is shown by the visible-character rule.

#include "DatabaseFacts.h"
#include "LostAnswer.h"

#include <QList>
#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>

namespace dmo {
struct ServerMessage;
}
struct FinalBackupFile;

namespace backup_texts {

QString option(const QString& folder); // the check box's label

QString windowTitle();
QString backingUp(const QString& database, const QString& path);
QString finishing(const QString& database, const QString& path);
QString verifying(const QString& path);
QString cancelling();
// The time spent, and what is known of the time left.
QString detail(std::chrono::seconds elapsed, std::optional<double> percent,
               std::optional<std::chrono::seconds> lastDuration);

// A file the server may have left behind, named as unusable.
QString partialFileLine(const QString& path);

// Why the backup or its verification failed, by the numbers of the
// server's messages, with the server's own text of the cause.
QString failureCause(const QList<dmo::ServerMessage>& messages, const QString& path,
                     const QString& folder, const QString& fallback);

QString failedHead(const QString& database);
QString notConfirmed(); // no 3014 in a backup's answer
QString notInMsdb(const QString& tag);
QString notSound(); // msdb's set lacks checksums or is marked damaged
QString verifyFailed();
QString notVerifiedValid(); // no 3262 in VERIFYONLY's answer

QString cancelled(const QString& database, bool finishedFirst, const QString& path);
QString unverifiedQuestion(const QString& database, const FinalBackupFile& file);
QString declined(const QString& database, const FinalBackupFile& file);

QString linkLostStatus();
QString stillBackingUpStatus(int secondsLeft);
QString linkLost(const QString& database, const AfterLostAnswer& after, bool duringVerify,
                 const QString& path);

// After the drop: where the final backup is and how to bring it back;
// `accessToGiveBack`: the access the database had before the backup was
// taken with single-user access, which a restore brings back (empty: none).
QString afterDrop(const QString& server, const DatabaseFacts& facts, const FinalBackupFile& file,
                  const QString& accessToGiveBack);

} // namespace backup_texts
