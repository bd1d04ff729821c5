#pragma once
// The management objects' backup operations on a connected SQLServer: a
// Backup writes a database to a disk file on the server, a Restore checks
// such a file.  Both run without a time limit (the driver's limit counts
// each wait and would stop a long one half-way), can be stopped from
// another thread with Abort(), and keep every message the server sent, in
// whatever order the driver gives them: a caller reads them by number.

#include "SQLServer.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <memory>

namespace odbc {
class Cancellation;
}

namespace dmo {

struct ServerMessage {
    std::int32_t number = 0; // 0: the driver's own
    QString text;
};

// The first of `messages` with that number, or null.
const ServerMessage* findMessage(const QList<ServerMessage>& messages, std::int32_t number);

// Runs statements that Abort() can stop, keeping their messages.
class AbortableOperation {
public:
    AbortableOperation();
    ~AbortableOperation();
    AbortableOperation(const AbortableOperation&) = delete;
    AbortableOperation& operator=(const AbortableOperation&) = delete;

    // From any thread: sends the server an attention for the statement now
    // running, and keeps later statements of this object from starting.
    // Say it again until the statement has ended: one asked for just as
    // the statement starts does not reach it.
    void Abort();
    bool AbortAsked() const;
    // Every message of the last statement, the one that failed included.
    const QList<ServerMessage>& Messages() const { return messages_; }

protected:
    void run(const SQLServer& server, const QString& statement,
             const std::vector<QString>& parameters);

private:
    std::shared_ptr<odbc::Cancellation> cancellation_;
    QList<ServerMessage> messages_;
};

class Backup : public AbortableOperation {
public:
    void setDatabase(const QString& name) { database_ = name; }
    // The file on the server: a bare name goes to its default backup folder.
    void setFiles(const QString& path) { file_ = path; }
    void setBackupSetName(const QString& name) { setName_ = name; }
    void setBackupSetDescription(const QString& text) { description_ = text; }
    void setCompression(bool on) { compression_ = on; }

    // A full backup that leaves the backup sequence as it was (COPY_ONLY),
    // with its pages' checksums checked and its own written (CHECKSUM),
    // added to the file and never over what it holds (NOINIT), with the
    // server's progress messages (STATS).  Names and paths go as values.
    void SQLBackup(const SQLServer& server);

private:
    QString database_;
    QString file_;
    QString setName_;
    QString description_;
    bool compression_ = false;
};

class Restore : public AbortableOperation {
public:
    void setFiles(const QString& path) { file_ = path; }
    void setFileNumber(int position) { position_ = position; }

    // RESTORE VERIFYONLY with CHECKSUM of the backup set at the file
    // number: whether it is complete and readable, and its checksums hold.
    void SQLVerify(const SQLServer& server);

private:
    QString file_;
    int position_ = 1;
};

} // namespace dmo
