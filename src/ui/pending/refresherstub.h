// Stand-in for the background name refresh until it is merged, with the same names and
// signatures.
#pragma once

#include "card/history.h"
#include "names/displayflags.h"
#include "store/namecache.h"
#include "store/settings.h"

#include <QObject>
#include <QString>
#include <QUrl>

class QAbstractItemModel;

namespace ridelog {

class NameRefreshTable
{
public:
    void clear() {}
};

inline QUrl defaultNameServerUrl()
{
    return QUrl(QStringLiteral("http://localhost/trfc/"));
}

inline QUrl nameServerUrl(const QString& commandLineValue, const TrfcSettings&)
{
    const QUrl url(commandLineValue);
    return url.isValid() && !url.host().isEmpty() ? url : defaultNameServerUrl();
}

class NameRefresher : public QObject
{
    Q_OBJECT

public:
    NameRefresher(QAbstractItemModel&, HistoryRecordSet&, NameCaches&, NameRefreshTable&,
                  QObject* parent = nullptr)
        : QObject(parent)
    {}

    void setServerUrl(const QUrl& server) { server_ = server; }
    QUrl serverUrl() const { return server_; }
    void start(const QString&, const DisplayFlags&)
    {
        ++starts_;
        running_ = true;
    }
    void cancel()
    {
        ++cancels_;
        running_ = false;
    }
    bool isRunning() const { return running_; }

    // Stand-in only.
    int starts() const { return starts_; }
    int cancels() const { return cancels_; }

signals:
    void statusText(const QString& text);
    void finished();

private:
    QUrl server_;
    bool running_ = false;
    int starts_ = 0;
    int cancels_ = 0;
};

} // namespace ridelog
