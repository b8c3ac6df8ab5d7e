#include "namedata/checkedfile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ridelog {

namespace {

constexpr mode_t kAnyWriteBit = S_IWUSR | S_IWGRP | S_IWOTH;

// The file a name stands for: a symbolic link is followed, also one whose file is missing yet.
QByteArray resolvedTarget(const QByteArray& path)
{
    struct stat info = {};
    if (::lstat(path.constData(), &info) != 0 || !S_ISLNK(info.st_mode))
        return path;
    char resolved[PATH_MAX];
    if (::realpath(path.constData(), resolved) != nullptr)
        return QByteArray(resolved);
    const QString target = QFileInfo(QFile::decodeName(path)).symLinkTarget();
    return target.isEmpty() ? path : QFile::encodeName(target);
}

QByteArray folderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArray(".");
    return slash == 0 ? QByteArray("/") : path.left(slash);
}

QByteArray fileNameOf(const QByteArray& path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

QByteArray randomSuffix()
{
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray suffix(6, '0');
    for (char& c : suffix)
        c = kLetters[QRandomGenerator::global()->bounded(int(sizeof(kLetters) - 1))];
    return suffix;
}

} // namespace

WriteFault writeFaultOfErrno(int systemError)
{
    switch (systemError) {
    case ENOSPC:
    case EDQUOT:
        return WriteFault::NoSpace;
    case EFBIG:
        return WriteFault::TooLarge;
    case EACCES:
    case EPERM:
        return WriteFault::NoPermission;
    case EROFS:
        return WriteFault::ReadOnlyFiles;
    case ENOENT:
    case ENOTDIR:
        return WriteFault::NoFolder;
    case EISDIR:
        return WriteFault::IsFolder;
    default:
        return WriteFault::InputOutput;
    }
}

QString WriteFailure::reason() const
{
    switch (fault) {
    case WriteFault::None:
        return QString();
    case WriteFault::NoSpace:
        return QStringLiteral("no space left on the device");
    case WriteFault::TooLarge:
        return QStringLiteral("the file would be larger than the system allows");
    case WriteFault::NoPermission:
        return QStringLiteral("permission denied");
    case WriteFault::ReadOnlyFiles:
        return QStringLiteral("the file system is read-only");
    case WriteFault::NoFolder:
        return QStringLiteral("the folder does not exist");
    case WriteFault::IsFolder:
        return QStringLiteral("that is a folder");
    case WriteFault::NotAFile:
        return QStringLiteral("not a regular file, FIFO or character device");
    case WriteFault::ShortWrite:
        return QStringLiteral("the file on the disk is shorter than what was written");
    case WriteFault::InputOutput:
        break;
    }
    return systemError != 0 ? QString::fromLocal8Bit(std::strerror(systemError))
                            : QStringLiteral("input/output error");
}

QString WriteFailure::describe() const
{
    return path + QStringLiteral(": ") + reason();
}

CheckedFileWriter::CheckedFileWriter(QString path)
    : path_(std::move(path))
{
    failure_.path = path_;
}

CheckedFileWriter::~CheckedFileWriter()
{
    discard();
}

bool CheckedFileWriter::fail(WriteFault fault, int systemError)
{
    if (failure_.fault == WriteFault::None) {
        failure_.fault = fault;
        failure_.systemError = systemError;
    }
    discard();
    return false;
}

bool CheckedFileWriter::failWithErrno()
{
    const int systemError = errno;
    return fail(writeFaultOfErrno(systemError), systemError);
}

void CheckedFileWriter::removeTemporary()
{
    if (!temporary_.isEmpty())
        ::unlink(temporary_.constData());
    temporary_.clear();
}

void CheckedFileWriter::discard()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    removeTemporary();
}

bool CheckedFileWriter::open()
{
    if (fd_ >= 0 || failure_.fault != WriteFault::None)
        return false;
    if (path_.isEmpty())
        return fail(WriteFault::NoFolder, ENOENT);
    target_ = resolvedTarget(QFile::encodeName(path_));
    struct stat info = {};
    if (::stat(target_.constData(), &info) != 0) {
        if (errno != ENOENT)
            return failWithErrno();
        return openTemporary();
    }
    if (S_ISDIR(info.st_mode))
        return fail(WriteFault::IsFolder, EISDIR);
    if (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode))
        return openInPlace();
    if (!S_ISREG(info.st_mode))
        return fail(WriteFault::NotAFile, 0);
    // No write bit for anyone: read-only, also for a user whom the system would let write.
    if ((info.st_mode & kAnyWriteBit) == 0)
        return fail(WriteFault::NoPermission, EACCES);
    if (!openTemporary())
        return false;
    // The new file keeps the permissions of the one it replaces.
    if (::fchmod(fd_, info.st_mode & 07777) != 0)
        return failWithErrno();
    return true;
}

bool CheckedFileWriter::openInPlace()
{
    inPlace_ = true;
    do {
        fd_ = ::open(target_.constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    } while (fd_ < 0 && errno == EINTR);
    return fd_ >= 0 || failWithErrno();
}

bool CheckedFileWriter::openTemporary()
{
    const QByteArray stem = folderOf(target_) + "/." + fileNameOf(target_) + '.';
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = stem + randomSuffix();
        fd_ = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            temporary_ = name;
            return true;
        }
        if (errno != EEXIST && errno != EINTR)
            return failWithErrno();
    }
    return failWithErrno();
}

bool CheckedFileWriter::write(QByteArrayView bytes)
{
    if (fd_ < 0)
        return false;
    const char* at = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t done = ::write(fd_, at, std::size_t(left));
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return failWithErrno();
        }
        if (done == 0)
            return fail(WriteFault::ShortWrite, 0);
        at += done;
        left -= done;
        written_ += done;
    }
    return true;
}

bool CheckedFileWriter::commit()
{
    if (fd_ < 0)
        return false;
    if (!inPlace_) {
        // The bytes are on the disk, and all of them, before the old file goes.
        if (::fsync(fd_) != 0)
            return failWithErrno();
        struct stat info = {};
        if (::fstat(fd_, &info) != 0)
            return failWithErrno();
        if (info.st_size != written_)
            return fail(WriteFault::ShortWrite, 0);
    }
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0 && errno != EINTR)
        return failWithErrno();
    if (inPlace_)
        return true;
    if (std::rename(temporary_.constData(), target_.constData()) != 0)
        return failWithErrno();
    temporary_.clear();
    return true;
}

bool writeFileChecked(const QString& path, QByteArrayView bytes, WriteFailure* failure)
{
    CheckedFileWriter file(path);
    const bool written = file.open() && file.write(bytes) && file.commit();
    if (failure != nullptr)
        *failure = file.failure();
    return written;
}

bool writeAllToDescriptor(int fd, QByteArrayView bytes)
{
    const char* at = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t done = ::write(fd, at, std::size_t(left));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            if (done == 0)
                errno = EIO;
            return false;
        }
        at += done;
        left -= done;
    }
    return true;
}

} // namespace ridelog
