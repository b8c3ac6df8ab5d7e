// The background name refresh after every card read, owned by the main dialog.
#pragma once

#include "card/history.h"
#include "namedata/namecache.h"
#include "names/builtinnames.h"
#include "store/displayflags.h"
#include "names/nameexchange.h"
#include "names/namerefreshtable.h"
#include "names/namestatus.h"

#include <QAbstractItemModel>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThreadPool>
#include <QUrl>
#include <cstdint>
#include <functional>
#include <memory>

namespace ridelog {

// Collects the wanted names from the list on the user-interface thread, lets the network
// exchange run asynchronously (or the built-in names answer on a worker) and the answer be
// parsed on a worker into a table of its own,
// and copies the names into the dialog's table, the list columns 4 and 5, the caches and the
// records back on the user-interface thread. The shared structures are touched only there.
//
// Every start and every cancel begins a new generation; the answer of an older generation
// is dropped, so names of an earlier read never land in the list of a newer one.
//
// The main dialog owns one:
//   refresher_.setServerUrl(nameServerUrl(commandLineValue, trfcSettings));
//   refresher_.setBuiltinOnly(builtinNamesOnly(commandLineValue, trfcSettings));
//   refresher_.setStatusTextCallback([this](const QString& t, const QString& tip) { ... });
//   read:      refresher_.cancel(); empty records, blocks and table; read; fill the list;
//              refresher_.start(*model_, records_, caches_, refreshTable_, idmText_, flags_);
//   clearing:  refresher_.cancel(); ...
//   shutdown:  refresher_.cancel(); write the names back.
// The structures handed to start() must outlive the refresher or the next cancel().
class NameRefresher : public QObject
{
    Q_OBJECT

public:
    using StatusTextCallback = std::function<void(const QString& text, const QString& toolTip)>;
    using ApplyScope = std::function<void(const std::function<void()>& apply)>;

    explicit NameRefresher(QObject* parent = nullptr);
    // Cancels a refresh still running and waits for a parse in progress (milliseconds).
    ~NameRefresher() override;

    // An explicit server; an empty or unusable text leaves the default.
    void setServer(const QString& url);
    void setServerUrl(const QUrl& server);
    QUrl serverUrl() const { return server_; }
    // The built-in names alone: no socket is ever opened. Otherwise they answer only when the
    // server cannot be reached at all.
    void setBuiltinOnly(bool builtinOnly) { builtinOnly_ = builtinOnly; }
    bool builtinOnly() const { return builtinOnly_; }
    // The program's names file, shared with the worker that reads it (found by default);
    // nullptr: none, so an unreachable server is reported without standing in.
    void setBuiltinNames(std::shared_ptr<BuiltinNames> names) { builtin_ = std::move(names); }
    const std::shared_ptr<BuiltinNames>& builtinNames() const { return builtin_; }
    void setTimeouts(const NameTimeouts& timeouts) { timeouts_ = timeouts; }
    // Called with every status text, besides the statusText signal.
    void setStatusTextCallback(StatusTextCallback callback) { callback_ = std::move(callback); }
    // Wraps the landing of an answer's names (scope calls apply once), for instance to batch
    // the list's change notifications.
    void setApplyScope(ApplyScope scope) { applyScope_ = std::move(scope); }

    // One refresh for the card on display: the list rows and the records are in place, the
    // table was emptied by the read. Cancels a refresh still running first.
    void start(QAbstractItemModel& list, HistoryRecordSet& records, NameCaches& caches,
               NameRefreshTable& table, const QString& idmText, const DisplayFlags& flags);
    // Drops the running refresh at once: its request is aborted and no result of it lands.
    // Call it before a new read, a clearing command and at shutdown.
    void cancel();

    bool isRunning() const { return running_; }
    std::uint64_t generation() const { return generation_; }

signals:
    // "<idm> OK" (nothing to ask), "<idm> ok" (answered), "<idm> <Japanese text>" otherwise;
    // the tooltip holds the technical text and the source of the names.
    void statusText(const QString& text, const QString& toolTip);
    // After the names of this refresh have landed (or there was nothing to ask).
    void finished();
    // The server's answer is in and is being read on the worker; its names land later, unless
    // a new read or a cancel comes first.
    void answerArrived();

private:
    struct Target
    {
        QPointer<QAbstractItemModel> list;
        HistoryRecordSet* records = nullptr;
        NameCaches* caches = nullptr;
        NameRefreshTable* table = nullptr;
        QString idmText;
        DisplayFlags flags;
        QString items;
    };

    void exchangeFinished(const NameExchangeResult& result);
    void askBuiltin(NameOutcome outcome);
    void answerParsed(std::uint64_t generation, const NameRefreshTable& parsed,
                      const NameOutcome& outcome);
    void showStatus(const NameOutcome& outcome);
    void end();

    NameExchange exchange_;
    QThreadPool parsers_;
    QUrl server_;
    bool builtinOnly_ = false;
    std::shared_ptr<BuiltinNames> builtin_;
    NameTimeouts timeouts_;
    StatusTextCallback callback_;
    ApplyScope applyScope_;
    Target target_;
    std::uint64_t generation_ = 0;
    bool running_ = false;
};

} // namespace ridelog
