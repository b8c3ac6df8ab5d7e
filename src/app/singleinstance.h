// The machine-wide guard that lets only one program use the card reader at a time. Every
// reader application shares the lock file, so the name is not ours alone.
#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

namespace ridelog {

class SingleInstanceGuard
{
public:
    // lockFilePath empty: defaultLockFilePath().
    explicit SingleInstanceGuard(const QString& lockFilePath = QString());
    ~SingleInstanceGuard();
    SingleInstanceGuard(const SingleInstanceGuard&) = delete;
    SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

    // True when this process now holds the guard. A lock left by a process that is gone is
    // taken over.
    bool create();
    bool isHeld() const;
    QString lockFilePath() const { return path_; }

    // "felica-reader.lock" in the user's runtime folder, or in the temporary folder when
    // there is none.
    static QString defaultLockFilePath();

private:
    QString path_;
    std::unique_ptr<QLockFile> lock_;
};

} // namespace ridelog
