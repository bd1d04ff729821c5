#pragma once
// Real folders for file-system tests: a temporary folder that is removed
// with everything in it, addressed both as host paths and in Windows
// notation ("C:" followed by the host path with backslashes).  SmallDisk
// mounts a tiny tmpfs for the disk-full cases and unmounts it again.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testing_support {

inline QString windowsPathOf(const QString& hostPath) {
    return QStringLiteral("C:") + QString(hostPath).replace(u'/', u'\\');
}

class HostTree {
public:
    HostTree() { EXPECT_TRUE(dir_.isValid()); }

    QString host(const QString& relative = {}) const {
        return relative.isEmpty() ? dir_.path()
                                  : dir_.path() + u'/' + QString(relative).replace(u'\\', u'/');
    }
    // The Windows path of a place in the tree; relative parts use "\".
    QString win(const QString& relative = {}) const {
        return windowsPathOf(host()) + (relative.isEmpty() ? QString() : u'\\' + relative);
    }

    void folder(const QString& relative) const { ASSERT_TRUE(QDir().mkpath(host(relative))); }
    void file(const QString& relative, const QByteArray& content = "x") const {
        const QString path = host(relative);
        QDir().mkpath(path.left(path.lastIndexOf(u'/')));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
        f.write(content);
    }
    void readOnly(const QString& relative) const {
        ASSERT_EQ(::chmod(QFile::encodeName(host(relative)).constData(), 0444), 0);
    }
    void link(const QString& relative, const QString& target) const {
        ASSERT_EQ(::symlink(QFile::encodeName(target).constData(),
                            QFile::encodeName(host(relative)).constData()),
                  0);
    }
    bool exists(const QString& relative) const {
        struct stat st {};
        return ::lstat(QFile::encodeName(host(relative)).constData(), &st) == 0;
    }
    QByteArray read(const QString& relative) const {
        QFile f(host(relative));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

private:
    QTemporaryDir dir_;
};

// A tmpfs of a few kilobytes mounted inside a tree; mounted() is false
// where the system refuses the mount.
class SmallDisk {
public:
    SmallDisk(const HostTree& tree, const QString& relative, int kilobytes = 64)
        : path_(QFile::encodeName(tree.host(relative))) {
        tree.folder(relative);
        const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k";
        mounted_ = ::mount("tmpfs", path_.constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~SmallDisk() {
        if (mounted_) {
            ::umount2(path_.constData(), MNT_DETACH);
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return mounted_; }

private:
    QByteArray path_;
    bool mounted_ = false;
};

} // namespace testing_support
