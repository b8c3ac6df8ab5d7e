// What the tests of the application shell share: a temporary folder for the settings, the
// guard's lock file and the history database, the texts of the start-up boxes, and a reader
// library that records its calls.
#pragma once

#include "app/readerlibrary.h"
#include "app/ridelogapp.h"
#include "ui/messagebox.h"
#include "ui/ridelogdlg.h"

#include <QDialog>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>

namespace ridelog::test {

inline const QString kGuardRefused =
    QStringLiteral("カードリーダを使うアプリケーションが既に起動しています。");
inline const QString kNoDriver =
    QStringLiteral("ICカードリーダ ドライバが\r\nインストールされていません。");
inline const QString kNoReader =
    QStringLiteral("ICカードリーダが接続されていません。\r\n接続と再起動が必要です。");

// Records every library call; start and open succeed unless told otherwise.
class FakeReaderControl : public ReaderControl
{
public:
    explicit FakeReaderControl(QStringList* calls)
        : calls_(calls)
    {}

    bool initializeLibrary(card::ReaderContext&) override
    {
        return call("initialize", initializeSucceeds);
    }
    bool openReaderWriterAuto(card::ReaderContext&) override { return call("open", openSucceeds); }
    void closeReaderWriter(card::ReaderContext&) override
    {
        call("close");
        if (onClose)
            onClose();
    }
    void disposeLibrary(card::ReaderContext&) override { call("dispose"); }
    card::ReaderLibrary* library() override { return nullptr; }
    QStringList failureReasons() override { return reasons; }

    bool initializeSucceeds = true;
    bool openSucceeds = true;
    QStringList reasons;
    std::function<void()> onClose;

private:
    bool call(const char* name, bool succeeds = true)
    {
        calls_->append(QString::fromLatin1(name));
        return succeeds;
    }

    QStringList* calls_;
};

// Test classes derive from this (after QObject) and call setUpApp() from init() and
// tearDownApp() from cleanup(). Message boxes are captured, not shown.
class AppFixture
{
protected:
    void setUpApp()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        ini_ = std::make_unique<QSettings>(dir_->filePath(QStringLiteral("Hotaru.ini")),
                                           QSettings::IniFormat);
        // Windows made here keep their history database in the temporary folder.
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir_->filePath(QStringLiteral("data"))));
        calls_.clear();
        MessageBox::setCapturing(true);
        MessageBox::clearCaptured();
    }
    void tearDownApp()
    {
        MessageBox::setUnattended(false);
        ini_.reset();
        dir_.reset();
    }

    QString lockFilePath() const { return dir_->filePath(QStringLiteral("felica-reader.lock")); }

    // The application on the fake library, for the reader named; its window, once shown, is
    // closed at once.
    std::unique_ptr<CRidelogApp> makeApp(FakeReaderControl** library,
                                         const QString& reader = QStringLiteral("auto"))
    {
        auto app = std::make_unique<CRidelogApp>(AppOptions{reader, QString(), QString()});
        auto fake = std::make_unique<FakeReaderControl>(&calls_);
        *library = fake.get();
        app->setReaderControl(std::move(fake));
        app->setLockFilePath(lockFilePath());
        app->setSettings(ini_.get());
        app->setDialogRunner([this](CRidelogDlg& dialog) {
            calls_.append(QStringLiteral("window"));
            dialog.show();
            dialog.reject();
            return int(QDialog::Rejected);
        });
        return app;
    }
    // The application on the real library for the reader named, tracing to traceTo if given.
    std::unique_ptr<CRidelogApp> makeRealApp(const QString& reader, const QString& traceTo = {})
    {
        auto app = std::make_unique<CRidelogApp>(AppOptions{reader, QString(), traceTo});
        app->setReaderControl(makeReaderControl(reader, traceTo));
        app->setLockFilePath(lockFilePath());
        app->setSettings(ini_.get());
        return app;
    }

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QSettings> ini_;
    QStringList calls_;
};

} // namespace ridelog::test
