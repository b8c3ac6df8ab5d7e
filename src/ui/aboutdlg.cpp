#include "ui/aboutdlg.h"

#include "names/builtinnames.h"
#include "ui/commandids.h"
#include "ui/readerpane.h"
#include "ui/waitcursor.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace ridelog {

namespace {

// Link buttons read as links: underlined in the link colour, with a frame while they have the
// keyboard focus (Tab reaches them like any button).
const QString kLinkStyle = QStringLiteral(
    "QPushButton { color: palette(link); text-decoration: underline; border: 1px solid "
    "transparent; padding: 1px 2px; text-align: left; background: transparent; }"
    "QPushButton:focus { border: 1px dotted palette(highlight); }");

const QString kLicenceFileName = QStringLiteral("LICENSE-suica-viewer.txt");

QLabel* wrappedLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

CAboutDlg::CAboutDlg(const QUrl& nameServer, QWidget* parent)
    : QDialog(parent)
    , nameServer_(nameServer)
{
    setWindowTitle(tr("バージョン情報 交通費履歴"));
    setObjectName(QStringLiteral("dialog100"));

    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/ridelog/ridelog.png")).pixmap(32, 32));
    auto* version = new QLabel(versionText(), this);
    version->setObjectName(QStringLiteral("versionText"));
    reader_ = wrappedLabel(this);
    reader_->setObjectName(QStringLiteral("readerName"));
    reader_->hide();
    nameSource_ = wrappedLabel(this);
    nameSource_->setObjectName(QStringLiteral("nameSource"));

    serverLink_ = addLinkButton(ids::ServerLink, serverWebRoot(nameServer));
    projectLink_ = addLinkButton(ids::ProjectLink, projectPage());

    credit_ = new QLabel(this);
    credit_->setObjectName(QStringLiteral("builtinNamesCredit"));
    credit_->setWordWrap(true);
    credit_->setTextFormat(Qt::RichText);
    credit_->setTextInteractionFlags(Qt::TextBrowserInteraction);
    credit_->setOpenExternalLinks(false);
    const QString licence = builtinNamesLicencePath();
    const QString licenceLink =
        licence.isEmpty() ? tr("MIT ライセンス")
                          : QStringLiteral("<a href=\"%1\">%2</a>")
                                .arg(QUrl::fromLocalFile(licence).toString(QUrl::FullyEncoded),
                                     tr("MIT ライセンス"));
    credit_->setText(tr("内蔵の駅名データ: suica-viewer プロジェクトと ICCardManager プロジェクトの"
                        "駅コード表（Copyright 2025 KIRISHIKI Yudai、2025 kuwayamamasayuki、"
                        "どちらも %1）")
                         .arg(licenceLink));
    credit_->setToolTip(licence);
    connect(credit_, &QLabel::linkActivated, this,
            [](const QString& link) { openLink(QUrl(link)); });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->addWidget(version);
    texts->addWidget(reader_);
    texts->addWidget(nameSource_);
    texts->addWidget(serverLink_, 0, Qt::AlignLeft);
    texts->addWidget(projectLink_, 0, Qt::AlignLeft);
    texts->addSpacing(6);
    texts->addWidget(credit_);
    top->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    setBuiltinNamesOnly(false);
    setMinimumWidth(420);
}

QString CAboutDlg::versionText()
{
    return tr("交通費履歴読出 バージョン %1").arg(QStringLiteral("1.2.0"));
}

QUrl CAboutDlg::serverWebRoot(const QUrl& nameServer)
{
    QUrl root;
    root.setScheme(nameServer.scheme());
    root.setHost(nameServer.host());
    root.setPort(nameServer.port());
    root.setPath(QStringLiteral("/"));
    return root;
}

QUrl CAboutDlg::projectPage()
{
    return QUrl(QStringLiteral(RIDELOG_PROJECT_URL));
}

QPushButton* CAboutDlg::linkButton(int controlId) const
{
    if (controlId == ids::ServerLink)
        return serverLink_;
    if (controlId == ids::ProjectLink)
        return projectLink_;
    return nullptr;
}

void CAboutDlg::setReaderName(const QString& readerName)
{
    reader_->setText(readerCaption(readerName));
    reader_->setVisible(!readerName.isEmpty());
}

QString CAboutDlg::readerText() const
{
    return reader_->text();
}

void CAboutDlg::setBuiltinNamesOnly(bool builtinOnly)
{
    nameSource_->setText(builtinOnly
                             ? tr("駅名: 内蔵の駅名データ")
                             : tr("駅名: 駅名サーバ %1（つながらないときは内蔵の駅名データ）")
                                   .arg(serverWebRoot(nameServer_).host()));
    serverLink_->setVisible(!builtinOnly);
}

QString CAboutDlg::nameSourceText() const
{
    return nameSource_->text();
}

QString CAboutDlg::builtinNamesLicencePath()
{
    const QString names = findBuiltinNamesFile();
    QStringList folders;
    if (!names.isEmpty())
        folders.append(QFileInfo(names).absolutePath());
    for (const QString& candidate : builtinNamesCandidates())
        folders.append(QFileInfo(candidate).absolutePath());
    for (const QString& folder : folders) {
        const QString licence = folder + QLatin1Char('/') + kLicenceFileName;
        if (QFileInfo::exists(licence))
            return licence;
    }
    return QString();
}

QPushButton* CAboutDlg::addLinkButton(int controlId, const QUrl& url)
{
    auto* button = new QPushButton(url.toString(), this);
    button->setObjectName(QStringLiteral("control%1").arg(controlId));
    button->setProperty("controlId", controlId);
    button->setProperty("commandId", controlId);
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::StrongFocus);
    button->setStyleSheet(kLinkStyle);
    button->setCursor(Qt::PointingHandCursor);
    button->setToolTip(url.toString());
    connect(button, &QPushButton::clicked, this, [url] { openLink(url); });
    return button;
}

void CAboutDlg::openLink(const QUrl& url)
{
    WaitCursor wait;
    QDesktopServices::openUrl(url);
}

} // namespace ridelog
