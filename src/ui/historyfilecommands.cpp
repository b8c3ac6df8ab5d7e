#include "ui/historyfilecommands.h"

#include "store/dumpimport.h"
#include "store/historyfile.h"
#include "store/historymerge.h"
#include "ui/messagebox.h"
#include "ui/openfiledialog.h"
#include "ui/waitcursor.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QSettings>
#include <QStatusBar>

namespace ridelog {

namespace {

constexpr int kWriteLockWaitMs = 3000;

QString localTimeText(const QDateTime& time)
{
    return time.toLocalTime().toString(QStringLiteral("yyyy/MM/dd HH:mm"));
}

QDateTime backupTimeOf(const QString& path)
{
    const QDateTime named = backupTimeOfName(QFileInfo(path).fileName());
    return named.isValid() ? named : QFileInfo(path).lastModified();
}

struct TakenIn
{
    MergeReport total;
    QStringList lines; // one per file, for the details
    int refused = 0;
};

void addMerge(TakenIn& taken, const QString& path, const MergeOutcome& outcome)
{
    const QString name = QFileInfo(path).fileName();
    if (!outcome.merged) {
        ++taken.refused;
        taken.lines.append(name + QStringLiteral(": refused: ") + outcome.reason);
        return;
    }
    const MergeReport& report = outcome.report;
    taken.total.entries += report.entries;
    taken.total.cardsWithNewEntries += report.cardsWithNewEntries;
    taken.total.newCards += report.newCards;
    taken.total.stationNames += report.stationNames;
    taken.total.busStopNames += report.busStopNames;
    taken.total.shopNames += report.shopNames;
    taken.total.nicknames += report.nicknames;
    taken.total.notes += report.notes;
    taken.total.gateTaps += report.gateTaps;
    taken.total.cardKinds += report.cardKinds;
    taken.lines.append(
        QStringLiteral("%1: %2 entries, %3 names, %4 nicknames, %5 notes, %6 gate taps, %7 kinds")
            .arg(name)
            .arg(report.entries)
            .arg(report.names())
            .arg(report.nicknames)
            .arg(report.notes)
            .arg(report.gateTaps)
            .arg(report.cardKinds));
}

void addDump(TakenIn& taken, const DumpImportResult& result)
{
    const QString name = QFileInfo(result.path).fileName();
    if (!result.stored) {
        ++taken.refused;
        taken.lines.append(name + QStringLiteral(": refused: ") + result.reason);
        return;
    }
    taken.total.entries += result.added;
    taken.total.cardsWithNewEntries += result.added > 0 ? 1 : 0;
    taken.lines.append(QStringLiteral("%1: %2 of card %3, %4 entries, %5 new")
                           .arg(name, card::cardDumpKindName(result.kind), result.idmText)
                           .arg(result.blocksInFile)
                           .arg(result.added));
}

} // namespace

HistoryFileCommands::HistoryFileCommands(QWidget* parent, QSettings& settings, Steps steps)
    : QObject(parent)
    , parent_(parent)
    , settings_(settings)
    , steps_(std::move(steps))
{
    connect(&scheduler_, &BackupScheduler::finished, this, &HistoryFileCommands::backupFinished);
}

void HistoryFileCommands::addFailureSign(QStatusBar* statusBar)
{
    failureSign_ = new QLabel(tr("バックアップできません"), statusBar);
    failureSign_->setObjectName(QStringLiteral("backupFailedSign"));
    failureSign_->setStyleSheet(QStringLiteral("QLabel { color: #b00000; font-weight: bold; }"));
    statusBar->addPermanentWidget(failureSign_);
    failureSign_->hide();
}

void HistoryFileCommands::readStored()
{
    scheduler_.setDatabasePath(steps_.databasePath());
    scheduler_.setChosenFolder(chosenBackupFolder(settings_));
    scheduler_.readStored();
}

void HistoryFileCommands::backupFinished(const BackupOutcome&)
{
    updateFailureSign();
}

void HistoryFileCommands::updateFailureSign()
{
    if (failureSign_ == nullptr)
        return;
    const QString& reason = scheduler_.failureReason();
    failureSign_->setToolTip(reason + u'\n' + scheduler_.folder());
    failureSign_->setVisible(!reason.isEmpty());
}

BackupRequest HistoryFileCommands::keepCurrentRequest() const
{
    BackupRequest request;
    request.databasePath = steps_.databasePath();
    request.folder = chosenBackupFolder(settings_);
    request.createFolder = request.folder.isEmpty();
    if (request.createFolder)
        request.folder = defaultBackupFolder(request.databasePath);
    request.now = QDateTime::currentDateTimeUtc();
    request.busyTimeoutMs = kWriteLockWaitMs;
    return request;
}

void HistoryFileCommands::restoreFromBackup()
{
    const BackupRequest keep = keepCurrentRequest();
    OpenFileRequest request;
    request.title = tr("バックアップから復元");
    request.folder = keep.folder;
    request.filters = {tr("Ridelog の履歴 (*.sqlite)"), tr("すべてのファイル (*)")};
    const QStringList chosen = OpenFileDialog::ask(parent_, request);
    if (chosen.isEmpty())
        return;
    const QString& path = chosen.constFirst();
    const HistoryFileSummary summary = inspectHistoryFile(path, kWriteLockWaitMs);
    if (!summary.usable()) {
        MessageBox::show(parent_,
                         tr("このファイルは Ridelog の履歴として使えないため、復元しません。"),
                         summary.reason);
        return;
    }
    const QString question =
        tr("%1 のバックアップから復元しますか？\r\nカード %2 枚、履歴 %3 件\r\n\r\n"
           "今の履歴は、復元の前にバックアップとして残します。")
            .arg(localTimeText(backupTimeOf(path)))
            .arg(summary.cards)
            .arg(summary.entries);
    if (!MessageBox::question(parent_, question))
        return;
    RestoreOutcome outcome;
    {
        WaitCursor wait;
        scheduler_.waitForIdle();
        outcome = restoreBackup(path, keep);
    }
    if (!outcome.restored) {
        MessageBox::show(parent_, tr("復元できませんでした。今の履歴はそのままです。"),
                         outcome.reason);
        return;
    }
    steps_.reloadHistory();
    QString done = tr("復元しました。");
    if (!outcome.keptCurrentAs.isEmpty())
        done += QStringLiteral("\r\n") +
                tr("それまでの履歴は %1 に残しています。").arg(outcome.keptCurrentAs);
    MessageBox::show(parent_, done);
}

bool HistoryFileCommands::looksLikeDatabase(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(16) == QByteArray("SQLite format 3\0", 16);
}

void HistoryFileCommands::takeInOtherHistory()
{
    OpenFileRequest request;
    request.title = tr("他の履歴を取り込む");
    request.manyFiles = true;
    request.filters = {tr("履歴とカードのダンプ (*.sqlite *.card *.nfc *.blocks *.txt)"),
                       tr("すべてのファイル (*)")};
    const QStringList chosen = OpenFileDialog::ask(parent_, request);
    if (chosen.isEmpty())
        return;
    TakenIn taken;
    {
        WaitCursor wait;
        const QString database = steps_.databasePath();
        QStringList dumps;
        for (const QString& path : chosen) {
            if (looksLikeDatabase(path))
                addMerge(taken, path, mergeHistoryFile(path, database, kWriteLockWaitMs));
            else
                dumps.append(path);
        }
        if (!dumps.isEmpty()) {
            for (const DumpImportResult& result :
                 importCardDumps(dumps, database, kWriteLockWaitMs))
                addDump(taken, result);
        }
    }
    steps_.reloadHistory();
    QString text;
    if (taken.total.addedNothing())
        text = tr("新しい履歴はありませんでした。");
    else
        text = tr("取り込みました。\r\n履歴 %1 件 (カード %2 枚、うち新しいカード %3 枚)、"
                  "駅名など %4 件、カード名 %5 件、用途 %6 件、改札の時刻 %7 件、"
                  "カードの種類 %8 件")
                   .arg(taken.total.entries)
                   .arg(taken.total.cardsWithNewEntries)
                   .arg(taken.total.newCards)
                   .arg(taken.total.names())
                   .arg(taken.total.nicknames)
                   .arg(taken.total.notes)
                   .arg(taken.total.gateTaps)
                   .arg(taken.total.cardKinds);
    if (taken.refused > 0)
        text += QStringLiteral("\r\n") + tr("取り込めなかったファイル: %1 件").arg(taken.refused);
    MessageBox::show(parent_, text, taken.lines.join(u'\n'));
}

} // namespace ridelog
