// What the tests of the main window share: a temporary settings file and data folder, a
// simulated reader on a folder of card files, and ways to put a card on it and read the list.
#pragma once

#include "card/history.h"
#include "card/readerlibrary.h"
#include "support/cardfile.h"
#include "support/windowaccess.h"
#include "ui/ridelogdlg.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QSettings>
#include <QStandardItemModel>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace ridelog::test {

inline const QString kCardIdm = QStringLiteral("012E44A0B1C2D3E4");
inline const QString kReadFailed =
    QStringLiteral("カードを読み取れませんでした。\r\nもう一度カードをセットしなおしてください。");

inline QString cell(const CRidelogDlg& dlg, int row, int column)
{
    const auto* model = test::inside(dlg).historyModel();
    return model->data(model->index(row, column)).toString();
}

// Test classes derive from this (after QObject) and call setUpWindow() from init() and
// tearDownWindow() from cleanup().
class WindowFixture
{
protected:
    void setUpWindow()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        ini_ = std::make_unique<QSettings>(dir_->filePath(QStringLiteral("Hotaru.ini")),
                                           QSettings::IniFormat);
        // Nothing listens here: no test depends on what may listen on this machine's web
        // port, and a refresh after a read fails at once and changes no name.
        ini_->setValue(QStringLiteral("Trfc/nameServer"),
                       QStringLiteral("http://127.0.0.1:9/trfc/"));
        // The history database of these tests lives in the temporary folder.
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir_->filePath(QStringLiteral("data"))));
        context_ = card::ReaderContext{};
        cardsDir_ = dir_->filePath(QStringLiteral("cards"));
        QVERIFY(QDir().mkpath(cardsDir_));
        library_ = std::make_unique<card::ReaderLibrary>(
            card::ReaderConfig{QStringLiteral("virtual:") + cardsDir_});
        QCOMPARE(card::openReader(*library_, context_), 0);
    }

    void tearDownWindow()
    {
        card::closeReader(*library_, context_);
        library_.reset();
        ini_.reset();
        dir_.reset();
    }

    std::unique_ptr<CRidelogDlg> makeWindow()
    {
        auto dialog = std::make_unique<CRidelogDlg>(*ini_, library_.get(), &context_);
        // The built-in names have tests of their own; here the unreachable server changes no
        // name.
        test::inside(*dialog).nameRefresher().setBuiltinNames(nullptr);
        return dialog;
    }

    // Puts a card with these blocks (block 0 first, the newest) and this gate log (newest tap
    // first) on the simulated reader.
    void putCard(const QList<HistoryBlock>& blocks, const QString& idm = kCardIdm,
                 const QList<HistoryBlock>& gateLog = {})
    {
        QVERIFY(placeCard(cardsDir_, QStringLiteral("card.card"),
                          cardFileText(idm, blocks) + gateLogSectionText(gateLog)));
    }

    void takeCardOff() { QVERIFY(QFile::remove(cardsDir_ + QStringLiteral("/card.card"))); }

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QSettings> ini_;
    std::unique_ptr<card::ReaderLibrary> library_;
    card::ReaderContext context_;
    QString cardsDir_;
};

} // namespace ridelog::test
