// The integrity check of the history database at start-up, away from the user-interface thread.
#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QThreadPool>

namespace ridelog {

struct QuickCheckResult
{
    bool damaged = false; // the engine found the file damaged, or not a database
    int engineCode = 0;   // the code behind a damage, for the message
    QString text;         // what the engine said; empty when all is well
};

// PRAGMA quick_check on a connection of its own. A missing file is sound; a file locked by
// another program cannot be checked now and counts as sound (text says why).
QuickCheckResult quickCheckDatabase(const QString& path, int busyTimeoutMs);

// Runs quickCheckDatabase on a worker thread; finished() arrives on the owner's thread.
//     auto* check = new DatabaseCheck(this);
//     connect(check, &DatabaseCheck::finished, this, &Window::databaseChecked);
//     check->start(store.databasePath(), HistoryStore::kDefaultBusyTimeoutMs);
class DatabaseCheck : public QObject
{
    Q_OBJECT

public:
    explicit DatabaseCheck(QObject* parent = nullptr);
    // Waits for a check still running; its result is dropped.
    ~DatabaseCheck() override;

    void start(const QString& path, int busyTimeoutMs);
    bool isRunning() const { return running_; }

signals:
    void finished(const ridelog::QuickCheckResult& result);

private:
    QThreadPool worker_;
    bool running_ = false;
};

} // namespace ridelog

Q_DECLARE_METATYPE(ridelog::QuickCheckResult)
