// Stand-in for the background name refresh until it is merged.
#pragma once

#include "card/history.h"
#include "names/displayflags.h"
#include "store/namecache.h"

#include <QObject>
#include <QString>
#include <functional>

class QAbstractItemModel;

namespace ridelog {

// Answers of the last name refresh, keyed by the serial as decimal text.
struct NameRefreshTable
{
    void clear() {}
};

class NameRefresher : public QObject
{
    Q_OBJECT

public:
    using StatusText = std::function<void(const QString&)>;

    explicit NameRefresher(QObject* parent = nullptr)
        : QObject(parent)
    {}

    void setServer(const QString& url) { server_ = url; }
    void setStatusTextCallback(StatusText callback) { statusText_ = std::move(callback); }
    void start(QAbstractItemModel&, HistoryRecordSet&, NameCaches&, const DisplayFlags&)
    {
        ++starts_;
    }
    void cancel() { ++cancels_; }

    int starts() const { return starts_; }
    int cancels() const { return cancels_; }

private:
    QString server_;
    StatusText statusText_;
    int starts_ = 0;
    int cancels_ = 0;
};

} // namespace ridelog
