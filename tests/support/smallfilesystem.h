// A small tmpfs of its own, mounted for one test and filled to the brim on request, so that a
// write meets a real full disk (ENOSPC) and not a simulation of one.
//
//     SmallFileSystem disk(64 * 1024);
//     if (!disk.isMounted())
//         QSKIP(qPrintable(disk.whyNotMounted()));
//     disk.fillLeaving(0);     // 100 % full; fillLeaving(4096) leaves a page
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace ridelog::test {

class SmallFileSystem
{
public:
    explicit SmallFileSystem(qint64 bytes)
    {
        const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0777";
        const QByteArray where = QFile::encodeName(folder_.path());
        if (::mount("tmpfs", where.constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                    options.constData()) == 0) {
            mounted_ = true;
        } else {
            why_ = QStringLiteral("a tmpfs cannot be mounted here (%1); run the tests as root to "
                                  "try a full disk")
                       .arg(QString::fromLocal8Bit(std::strerror(errno)));
        }
    }
    ~SmallFileSystem()
    {
        if (mounted_)
            ::umount2(QFile::encodeName(folder_.path()).constData(), MNT_DETACH);
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool isMounted() const { return mounted_; }
    const QString& whyNotMounted() const { return why_; }
    QString path() const { return folder_.path(); }
    QString filePath(const QString& name) const { return folder_.filePath(name); }

    qint64 freeBytes() const
    {
        struct statvfs info = {};
        if (::statvfs(QFile::encodeName(folder_.path()).constData(), &info) != 0)
            return -1;
        return qint64(info.f_bavail) * qint64(info.f_frsize);
    }

    // A filler file that leaves at most `bytes` free; 0 fills the file system until a write
    // fails with ENOSPC.
    bool fillLeaving(qint64 bytes)
    {
        const QByteArray name = QFile::encodeName(folder_.filePath(QStringLiteral("filler")));
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd < 0)
            return false;
        const QByteArray chunk(4096, 'f');
        bool full = false;
        while (!full) {
            const qint64 room = freeBytes() - bytes;
            if (room <= 0)
                break;
            const ssize_t wrote =
                ::write(fd, chunk.constData(), std::size_t(qMin<qint64>(room, 4096)));
            full = wrote <= 0;
        }
        ::close(fd);
        return full || freeBytes() <= bytes;
    }

private:
    QTemporaryDir folder_;
    bool mounted_ = false;
    QString why_;
};

} // namespace ridelog::test
