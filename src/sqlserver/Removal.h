#pragma once
// The removal of one database, in the order the window runs it.
//
// prepare(), before the confirmation: the existence check of bExisteDBSQL
// with, in its batch, what the server knows of the database (DatabaseFacts)
// and whether the login may drop it.  What makes the drop impossible (a
// system database, a login without the right, a snapshot, replication,
// mirroring, an availability group) is told with its remedy instead of a
// confirmation.
//
// drop(), after it: the management objects find the database and remove
// it; a database in use is offered to be set to single-user access first
// (and given back its access when the drop still fails).  With a final
// backup (FinalBackup.h), every other session is kept out first (the
// in-use question when there are any), the backup is made and proven, and
// only then is the database dropped, on the same connection; on every
// other end the database gets its access back and stays.  When the answer
// to a statement that changes the server is lost, the removal looks again on
// a new connection, waits while the server still runs that statement, and
// tells what is true.
//
// It is one command: its steps share one session with the server, which
// closes with the Removal.  Every failure is explained to the user, once.

#include "DatabaseFacts.h"
#include "FinalBackup.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace connection {
class SessionShare;
}
namespace dmo {
class Database;
class SQLServer;
} // namespace dmo
namespace rt {
class RuntimeError;
}

class Removal {
public:
    enum class Outcome { Failed, Blocked, Ready };
    // What the status line shows while the removal waits for the server.
    using StatusLine = std::function<void(const QString&)>;

    Removal(QString sServidor, QString sBaseDatos, QString sUsuario, QString sPassword);
    ~Removal();
    Removal(const Removal&) = delete;
    Removal& operator=(const Removal&) = delete;

    // Failed: a connection that failed, or a database the server does not
    // have; Blocked: what stands in the drop's way.  Both told already.
    Outcome prepare();
    const DatabaseFacts& facts() const { return facts_; }
    // Whether and how the confirmation offers a final backup.
    const BackupOffer& backupOffer() const { return offer_; }

    // Drops the prepared database, after a proven final backup when asked
    // (and offered); true when it is gone.
    bool drop(const StatusLine& status = {}, bool finalBackup = false);

private:
    bool keepOthersOut(dmo::Database& database) const;
    bool keepOthersOutOrGiveBack(dmo::Database& database) const;
    QString giveBackAccess(dmo::SQLServer& server) const;
    void tellWhatStays() const;
    bool outcomeOfALostAnswer(const rt::RuntimeError& failure, int processId,
                              const StatusLine& status) const;

    QString sServidor_;
    QString sBaseDatos_;
    QString sUsuario_;
    QString sPassword_;
    DatabaseFacts facts_;
    BackupOffer offer_;
    std::optional<FinalBackupFile> backedUp_; // the proven final backup
    std::shared_ptr<connection::SessionShare> sessions_;
};
