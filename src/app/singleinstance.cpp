#include "app/singleinstance.h"

#include <QDir>
#include <QStandardPaths>

namespace ridelog {

SingleInstanceGuard::SingleInstanceGuard(const QString& lockFilePath)
    : path_(lockFilePath.isEmpty() ? defaultLockFilePath() : lockFilePath)
{}

SingleInstanceGuard::~SingleInstanceGuard()
{
    if (lock_ && lock_->isLocked())
        lock_->unlock();
}

bool SingleInstanceGuard::create()
{
    if (isHeld())
        return true;
    lock_ = std::make_unique<QLockFile>(path_);
    // No age limit: a holder that runs for days keeps the guard. A lock whose holder process
    // has gone is recognised by QLockFile and removed.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0))
        return true;
    // A lock file without a readable owner (empty, cut short, garbage) names no process that
    // could still hold it; it is taken over like a lock whose owner has gone.
    qint64 pid = 0;
    QString host;
    QString application;
    if (lock_->error() != QLockFile::LockFailedError ||
        (lock_->getLockInfo(&pid, &host, &application) && pid > 0))
        return false;
    if (!lock_->removeStaleLockFile())
        return false;
    return lock_->tryLock(0);
}

bool SingleInstanceGuard::isHeld() const
{
    return lock_ && lock_->isLocked();
}

QString SingleInstanceGuard::defaultLockFilePath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::tempPath();
    return QDir(folder).filePath(QStringLiteral("felica-reader.lock"));
}

} // namespace ridelog
