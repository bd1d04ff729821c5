#pragma once
// The Spanish texts of a removal that come from what the server knows of
// the database: the confirmation's lines under the server line, the
// message that names what stands in the drop's way with its remedy, and
// the files a drop leaves on the server's disk.  Every name and value the
// server gave is shown by the visible-character rule.

#include "DatabaseFacts.h"
#include "LostAnswer.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// The lines under the confirmation's server line, `backupLine` first.
QStringList confirmationLines(const DatabaseFacts& facts, const QString& backupLine);

// The last full backup, as msdb knows it; empty when it could not be read.
QString lastBackupLine(const DatabaseFacts& facts);

// What makes the drop impossible, each with the statement that removes it;
// for a blocked database only.
QString obstacleMessage(const DatabaseFacts& facts, const QString& sServidor);

// The same message for a drop the server refused with one of the numbers
// of those obstacles (the state changed after the facts were read); none
// for any other number.
std::optional<QString> refusalMessage(std::int32_t serverMessage, DatabaseFacts facts,
                                      const QString& sServidor);

// After a drop of a database whose files stayed on the server's disk.
QString filesLeftMessage(const DatabaseFacts& facts);

// A running BACKUP or RESTORE and how far it is: "BACKUP DATABASE,
// completado al 42 %".
QString requestProgress(const RunningRequest& request);

// One holder of the database, as the in-use question lists it.
QString sessionLine(const HoldingSession& session);

// The status line while the removal looks again after a lost answer, and
// while the server still runs the drop (`secondsLeft` of the wait).
QString lostAnswerStatus();
QString stillRemovingStatus(int secondsLeft);

// Why a removal whose answer was lost is not known to have happened, by
// what was seen of the dropping session's request.
QString stillThereLine(AfterLostAnswer::Request request);
