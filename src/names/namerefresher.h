// The background name refresh after every card read, owned by the main dialog.
#pragma once

#include "card/history.h"
#include "names/displayflags.h"
#include "names/nameexchange.h"
#include "names/namerefreshtable.h"
#include "store/namecache.h"

#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QUrl>
#include <cstdint>

class QAbstractItemModel;

namespace ridelog {

// Collects the wanted names from the list on the user-interface thread, lets the network
// exchange run asynchronously and the answer be parsed on a worker into a table of its own,
// and copies the names into the dialog's table, the list columns 4 and 5, the caches and the
// records back on the user-interface thread. The shared structures are touched only there.
//
// Every start and every cancel begins a new generation; the answer of an older generation
// is dropped, so names of an earlier read never land in the list of a newer one.
//
// The main dialog owns one, built over the members it already owns:
//   refresher_ = new NameRefresher(*model_, records_, caches_, refreshTable_, this);
//   refresher_->setServerUrl(nameServerUrl(commandLineValue, trfcSettings));
//   connect(refresher_, &NameRefresher::statusText, this, &CRidelogDlg::setStatusText);
//   read:      refresher_->cancel(); empty records/blocks/table; read; fill the list;
//              refresher_->start(idmText, displayFlags);
//   clearing:  refresher_->cancel(); ...
//   shutdown:  refresher_->cancel(); write the names back.
class NameRefresher : public QObject
{
    Q_OBJECT

public:
    NameRefresher(QAbstractItemModel& list, HistoryRecordSet& records, NameCaches& caches,
                  NameRefreshTable& table, QObject* parent = nullptr);
    // Cancels a refresh still running and waits for a parse in progress (milliseconds).
    ~NameRefresher() override;

    void setServerUrl(const QUrl& server) { server_ = server; }
    QUrl serverUrl() const { return server_; }
    void setTimeouts(const NameTimeouts& timeouts) { timeouts_ = timeouts; }

    // One refresh for the card on display. The list rows, the records and the table (emptied
    // by the read) must be in place. Cancels a refresh still running first.
    void start(const QString& idmText, const DisplayFlags& flags);
    // Drops the running refresh at once: its request is aborted and no result of it lands.
    // Call it before a new read, a clearing command and at shutdown.
    void cancel();

    bool isRunning() const { return running_; }
    std::uint64_t generation() const { return generation_; }

signals:
    // "<idm> OK" (nothing to ask), "<idm> ok" (answered), "<idm> <result>" (failed).
    void statusText(const QString& text);
    // After the names of this refresh have landed (or there was nothing to ask).
    void finished();

private:
    void exchangeFinished(const NameExchangeResult& result);
    void answerParsed(std::uint64_t generation, const NameRefreshTable& parsed,
                      const QString& resultText);
    void end();

    QAbstractItemModel& list_;
    HistoryRecordSet& records_;
    NameCaches& caches_;
    NameRefreshTable& table_;
    NameExchange exchange_;
    QThreadPool parsers_;
    QUrl server_;
    NameTimeouts timeouts_;
    QString idmText_;
    DisplayFlags flags_;
    std::uint64_t generation_ = 0;
    bool running_ = false;
};

} // namespace ridelog
