// The About box: program name and version, the sources of the built-in names, and links to the
// name server and the project.
#pragma once

#include <QDialog>
#include <QUrl>

class QLabel;
class QPushButton;

namespace ridelog {

class CAboutDlg : public QDialog
{
    Q_OBJECT

public:
    // nameServer: the station-name server's address; its web root is the first link.
    explicit CAboutDlg(const QUrl& nameServer, QWidget* parent = nullptr);

    static QString versionText();
    // Where the built-in station names come from, and under which licence.
    static QString creditsText();
    static QUrl serverWebRoot(const QUrl& nameServer);
    static QUrl projectPage();

    QPushButton* linkButton(int controlId) const;

    // Names the card reader in use under the version; an empty name hides the line.
    void setReaderName(const QString& readerName);
    QString readerText() const;

private:
    QPushButton* addLinkButton(int controlId, const QUrl& url);
    static void openLink(const QUrl& url);

    QLabel* reader_ = nullptr;
    QPushButton* serverLink_ = nullptr;
    QPushButton* projectLink_ = nullptr;
};

} // namespace ridelog
