#include "store/databasecheck.h"

#include "store/database.h"
#include "store/databaseproblem.h"

#include <QFileInfo>
#include <sqlite3.h>

namespace ridelog {

QuickCheckResult quickCheckDatabase(const QString& path, int busyTimeoutMs)
{
    QuickCheckResult result;
    if (!QFileInfo::exists(path))
        return result;
    try {
        Database database = Database::open(path, Database::OpenMode::ExistingFile, busyTimeoutMs);
        // At most 20 problems are listed; one is enough to know.
        Statement check(database, QStringLiteral("PRAGMA quick_check(20)"));
        QStringList lines;
        while (check.step())
            lines.append(check.textAt(0));
        if (lines != QStringList{QStringLiteral("ok")}) {
            result.damaged = true;
            result.engineCode = SQLITE_CORRUPT;
            result.text = lines.join(u'\n');
        }
    } catch (const DatabaseError& error) {
        result.damaged = isDamageCode(error.engineCode());
        result.engineCode = error.engineCode();
        result.text = error.message();
    }
    return result;
}

DatabaseCheck::DatabaseCheck(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<QuickCheckResult>();
    worker_.setMaxThreadCount(1);
}

DatabaseCheck::~DatabaseCheck()
{
    worker_.waitForDone();
}

void DatabaseCheck::start(const QString& path, int busyTimeoutMs)
{
    running_ = true;
    worker_.start([this, path, busyTimeoutMs] {
        const QuickCheckResult result = quickCheckDatabase(path, busyTimeoutMs);
        QMetaObject::invokeMethod(
            this,
            [this, result] {
                running_ = false;
                emit finished(result);
            },
            Qt::QueuedConnection);
    });
}

} // namespace ridelog
