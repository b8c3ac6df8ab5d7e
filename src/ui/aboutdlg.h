// The About box: program name and version, the card reader and the station names in use, links
// to the name server and the project, and the credit for the built-in station data.
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
    static QUrl serverWebRoot(const QUrl& nameServer);
    static QUrl projectPage();

    QPushButton* linkButton(int controlId) const;

    // Names the card reader in use under the version; an empty name hides the line.
    void setReaderName(const QString& readerName);
    QString readerText() const;

    // Where station names come from: the built-in data alone (the server link then goes), or
    // the server with the built-in data when it cannot be reached.
    void setBuiltinNamesOnly(bool builtinOnly);
    QString nameSourceText() const;
    // The credit of the built-in station data, with a link to its licence.
    QLabel* creditLabel() const { return credit_; }
    // The licence file of the built-in data that the credit links to; empty when not found.
    static QString builtinNamesLicencePath();

private:
    QPushButton* addLinkButton(int controlId, const QUrl& url);
    static void openLink(const QUrl& url);

    QUrl nameServer_;
    QLabel* reader_ = nullptr;
    QLabel* nameSource_ = nullptr;
    QLabel* credit_ = nullptr;
    QPushButton* serverLink_ = nullptr;
    QPushButton* projectLink_ = nullptr;
};

} // namespace ridelog
