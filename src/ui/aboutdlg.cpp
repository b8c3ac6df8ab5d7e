#include "ui/aboutdlg.h"

#include "ui/commandids.h"
#include "ui/readerpane.h"
#include "ui/waitcursor.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace ridelog {

CAboutDlg::CAboutDlg(const QUrl& nameServer, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(tr("バージョン情報 交通費履歴"));
    setObjectName(QStringLiteral("dialog100"));

    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/ridelog/ridelog.png")).pixmap(32, 32));
    auto* version = new QLabel(versionText(), this);
    reader_ = new QLabel(this);
    reader_->setObjectName(QStringLiteral("readerName"));
    reader_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    reader_->hide();
    auto* credits = new QLabel(creditsText(), this);
    credits->setObjectName(QStringLiteral("credits"));
    credits->setTextInteractionFlags(Qt::TextSelectableByMouse);

    serverLink_ = addLinkButton(ids::ServerLink, serverWebRoot(nameServer));
    projectLink_ = addLinkButton(ids::ProjectLink, projectPage());

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->addWidget(version);
    texts->addWidget(reader_);
    texts->addWidget(credits);
    texts->addWidget(serverLink_);
    texts->addWidget(projectLink_);
    top->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
}

QString CAboutDlg::versionText()
{
    return QStringLiteral("Ridelog Version 1.2.0");
}

QString CAboutDlg::creditsText()
{
    return tr("内蔵の駅名: suica-viewer と ICCardManager の駅コード表\n(どちらも MIT ライセンス)");
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

QPushButton* CAboutDlg::addLinkButton(int controlId, const QUrl& url)
{
    auto* button = new QPushButton(url.toString(), this);
    button->setObjectName(QStringLiteral("control%1").arg(controlId));
    button->setProperty("controlId", controlId);
    button->setProperty("commandId", controlId);
    button->setAutoDefault(false);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    connect(button, &QPushButton::clicked, this, [url] { openLink(url); });
    return button;
}

void CAboutDlg::openLink(const QUrl& url)
{
    WaitCursor wait;
    QDesktopServices::openUrl(url);
}

} // namespace ridelog
