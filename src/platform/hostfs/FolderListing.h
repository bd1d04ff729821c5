#pragma once
// The entries of one host folder, read in one pass, and the per-operation
// cache that lets an operation read each folder listing (and resolve each
// Windows folder path) once however many of its paths pass through it.

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace hostfs {

struct FolderEntry {
    QString name;        // as the host holds it
    QString upperName;   // for matching and ordering without regard to case
    QByteArray hostName; // the bytes on the host
    bool folder = false; // a real directory; a symbolic link never is one
    bool hidden = false; // the name begins with "."
};
using FolderEntries = std::vector<FolderEntry>;

// The entries of hostDir without "." and "..", in case-insensitive name
// order.  With followLink false a symbolic link is never opened as a folder.
// On failure returns null and sets error to the errno value.
std::shared_ptr<const FolderEntries> readFolder(const QByteArray& hostDir, bool followLink,
                                                int& error);

// While one of these lives on the thread, listings and resolved folders are
// kept and reused; the outermost one forgets them.  Operations that walk a
// tree open one so that a tree is read once.
class OperationScope {
public:
    OperationScope();
    ~OperationScope();
    OperationScope(const OperationScope&) = delete;
    OperationScope& operator=(const OperationScope&) = delete;
};

// The one host name in hostDir equal to upperName without regard to case;
// nothing when there is none or when several are (within a scope from an
// index kept up to date, else from a listing).
std::optional<QByteArray> findWithoutCase(const QByteArray& hostDir, const QString& upperName);

// Changes made through this layer keep the cache true: an entry created in
// or removed from hostDir, an empty folder removed, and a folder moved away
// (which takes with it everything cached for the paths under it).
void noteEntryAdded(const QByteArray& hostDir, const QByteArray& hostName);
void noteEntryRemoved(const QByteArray& hostDir);
void noteEmptyFolderRemoved(const QByteArray& hostFolder);
void noteFolderMoved(const QByteArray& hostFolder);

// Host folders the scope has seen to exist (or made).
bool isKnownFolder(const QByteArray& hostPath);
void noteKnownFolder(const QByteArray& hostPath);

// The resolved host folder of a Windows folder text, if the scope holds it.
struct CachedFolder {
    QByteArray path;
    bool isDriveRoot = false;
};
std::optional<CachedFolder> cachedFolder(const QString& windowsFolder);
void cacheFolder(const QString& windowsFolder, const CachedFolder& folder);

} // namespace hostfs
