#pragma once
// A backup file as this server writes it: a JSON document holding the
// backup sets in the order they were written (see the README for its
// keys).  A set is written marked incomplete when its backup starts and
// marked complete when it ends; the whole file is replaced at each step
// (temporary file, fsync, rename, fsync of the folder), so that a set is
// always either complete or marked incomplete, whatever stops the server.

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace engine {

struct BackupSet {
    int position = 1;
    std::optional<QString> name;
    std::optional<QString> description;
    QString databaseName;
    QDateTime databaseCreated;
    QDateTime started;
    QDateTime finished; // invalid while the set is incomplete
    bool copyOnly = false;
    bool checksums = false;
    bool compressed = false;
    bool singleUser = false; // the database's access when it was backed up
    bool complete = false;
    qint64 size = 0; // bytes
    qint64 compressedSize = 0;
    QString softwareVersion; // the version of the server that wrote it
    QString userName;        // the login that made it
    QJsonObject database;    // the database's entry, as state::backupImage() makes it
};

struct BackupMedia {
    QList<BackupSet> sets;
    // The set at `position`, or null.
    const BackupSet* at(int position) const;
};

// What reading a device found.
struct MediaRead {
    enum class Outcome { Read, Missing, Empty, NotMedia, Failed };
    Outcome outcome = Outcome::Failed;
    BackupMedia media;
    int osError = 0; // errno, when the device could not be read (Missing, Failed)
};

MediaRead readMedia(const QString& path);

// Replaces the device's content with `media`; false with errno in `osError`
// when it could not (no folder, no right, no room).
bool writeMedia(const QString& path, const BackupMedia& media, int& osError);

} // namespace engine
