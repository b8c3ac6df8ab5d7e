#include "app/ridelogapp.h"

#include "app/singleinstance.h"
#include "card/readerfactory.h"
#include "store/settings.h"
#include "ui/messagebox.h"
#include "ui/ridelogdlg.h"

#include <QCoreApplication>
#include <new>

namespace ridelog {

namespace {

int runModally(CRidelogDlg& dialog)
{
    return dialog.exec();
}

std::unique_ptr<card::ReaderContext> newReaderContext()
{
    try {
        return std::make_unique<card::ReaderContext>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace

CRidelogApp::CRidelogApp(AppOptions options)
    : options_(std::move(options))
    , runDialog_(runModally)
{}

CRidelogApp::~CRidelogApp() = default;

void CRidelogApp::setReaderControl(std::unique_ptr<ReaderControl> reader)
{
    reader_ = std::move(reader);
}

void CRidelogApp::setLockFilePath(const QString& path)
{
    lockFilePath_ = path;
}

void CRidelogApp::setSettings(QSettings* settings)
{
    settings_ = settings;
}

void CRidelogApp::setDialogRunner(std::function<int(CRidelogDlg&)> runner)
{
    runDialog_ = std::move(runner);
}

QString CRidelogApp::readerKindText(const QString& readerOption)
{
    const QString kind = readerOption.section(QLatin1Char(':'), 0, 0).toLower();
    const QString name = readerOption.section(QLatin1Char(':'), 1);
    if (kind == u"rcs380")
        return QStringLiteral("PaSoRi RC-S380");
    if (kind == u"pcsc" && !name.trimmed().isEmpty())
        return name.trimmed();
    if (kind == u"virtual")
        return QCoreApplication::translate("CRidelogApp", "シミュレーションのカードリーダ");
    // auto, libnfc, pcsc without a name: whichever reader is attached.
    return QCoreApplication::translate("CRidelogApp", "カードリーダ");
}

QString CRidelogApp::otherInstanceText(const QString& readerOption)
{
    return QCoreApplication::translate("CRidelogApp",
                                       "%1を使うアプリケーションが既に起動しています。")
        .arg(readerKindText(readerOption));
}

int CRidelogApp::InitInstance()
{
    SingleInstanceGuard guard(lockFilePath_);
    if (!guard.create()) {
        MessageBox::show(nullptr, otherInstanceText(options_.readerOption));
        return 1;
    }
    std::unique_ptr<card::ReaderContext> context = newReaderContext();
    if (!context) {
        MessageBox::show(nullptr, QStringLiteral("Memory allocation error (101)."));
        return 1;
    }
    if (!reader_)
        reader_ = makeReaderControl(options_.readerOption, options_.readerTrace);
    const int opened = openReader(*context, *reader_);
    if (opened != ReaderOpened) {
        // The box says what to do; its details and the log say which reader and why.
        if (card::ReaderLibrary* library = reader_->library())
            qWarning("ridelog: %s", qUtf8Printable(library->lastError()));
        const QStringList reasons = reader_->failureReasons();
        if (opened == ReaderOpenFailed && !card::replayedTracePath(options_.readerOption).isEmpty())
            // No reader is attached to a replay: the trace itself is what failed.
            MessageBox::show(nullptr, replayFailureText(reasons));
        else
            MessageBox::show(nullptr, openReaderFailureText(opened), reasons.join(u'\n'));
        closeReader(context, *reader_);
        return 1;
    }

    std::unique_ptr<QSettings> userSettings;
    QSettings* settings = settings_;
    if (settings == nullptr) {
        userSettings = openUserSettings();
        settings = userSettings.get();
    }
    {
        CRidelogDlg dialog(*settings, reader_->library(), context.get());
        dialog.setNameServer(options_.nameServer);
        // A termination signal that came while the window was being made (a box of its
        // start-up was open) ends it before it is shown, with its state saved.
        if (MessageBox::isUnattended()) {
            dialog.reject();
        } else {
            mainWindowRan_ = true;
            runDialog_(dialog);
        }
    }
    closeReader(context, *reader_);
    return 0;
}

} // namespace ridelog
