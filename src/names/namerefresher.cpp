#include "names/namerefresher.h"

#include "namedata/freedheap.h"
#include "names/namerefresh.h"

#include <QMetaObject>

namespace ridelog {

NameRefresher::NameRefresher(QObject* parent)
    : QObject(parent)
    , server_(defaultNameServerUrl())
    , builtin_(std::make_shared<BuiltinNames>())
{
    parsers_.setMaxThreadCount(1);
    connect(&exchange_, &NameExchange::finished, this, &NameRefresher::exchangeFinished);
}

NameRefresher::~NameRefresher()
{
    cancel();
    // A parse still running posts its result to this object; it must be done before the
    // object goes, which also drops the posted result.
    parsers_.waitForDone();
}

void NameRefresher::setServer(const QString& url)
{
    const QUrl server(url.trimmed(), QUrl::StrictMode);
    setServerUrl(server);
}

void NameRefresher::setServerUrl(const QUrl& server)
{
    const bool usable =
        server.isValid() && !server.host().isEmpty() &&
        (server.scheme() == QStringLiteral("http") || server.scheme() == QStringLiteral("https"));
    server_ = usable ? server : defaultNameServerUrl();
}

void NameRefresher::start(QAbstractItemModel& list, HistoryRecordSet& records, NameCaches& caches,
                          NameRefreshTable& table, const QString& idmText,
                          const DisplayFlags& flags)
{
    cancel();
    const QString items = collectNameItems(list, records);
    if (items.isEmpty()) {
        NameOutcome outcome;
        outcome.kind = NameOutcome::Kind::NothingToAsk;
        target_.idmText = idmText;
        showStatus(outcome);
        target_ = Target{};
        emit finished();
        return;
    }
    target_ = Target{&list, &records, &caches, &table, idmText, flags, items};
    running_ = true;
    if (builtinOnly_) {
        NameOutcome outcome;
        outcome.fromBuiltin = true;
        askBuiltin(outcome);
        return;
    }
    exchange_.start(server_, items, timeouts_);
}

void NameRefresher::cancel()
{
    ++generation_;
    exchange_.abort();
    running_ = false;
    target_ = Target{};
}

void NameRefresher::exchangeFinished(const NameExchangeResult& result)
{
    NameOutcome outcome;
    outcome.kind = outcomeKindOf(result);
    outcome.server = server_;
    outcome.technical = result.failure.left(kMaxNameFailureText);
    if (outcome.kind == NameOutcome::Kind::Unreachable && builtin_) {
        // Nobody answered at all: the program's own names stand in, and the status says so.
        outcome.kind = NameOutcome::Kind::FellBack;
        outcome.fromBuiltin = true;
        askBuiltin(outcome);
        return;
    }
    const std::uint64_t generation = generation_;
    const DisplayFlags flags = target_.flags;
    parsers_.start([this, generation, flags, result, outcome]() mutable {
        NameRefreshTable parsed;
        outcome.technical = readNameExchangeResult(result, flags, parsed);
        QMetaObject::invokeMethod(
            this,
            [this, generation, parsed = std::move(parsed), outcome] {
                answerParsed(generation, parsed, outcome);
            },
            Qt::QueuedConnection);
    });
    emit answerArrived();
}

void NameRefresher::askBuiltin(NameOutcome outcome)
{
    const std::uint64_t generation = generation_;
    const DisplayFlags flags = target_.flags;
    const QString items = target_.items;
    outcome.server = server_;
    // The file is read (first use) and asked on the worker, never on this thread.
    parsers_.start([this, generation, flags, items, outcome, names = builtin_]() mutable {
        NameRefreshTable parsed;
        BuiltinAnswer answer;
        if (names) {
            answer = names->answer(items);
            outcome.builtinPath = names->path();
        } else {
            answer.failure = QStringLiteral("no names file");
        }
        if (answer.available) {
            NameExchangeResult result;
            result.httpStatus = 200;
            result.body = answer.body;
            // The same reading as a server's answer: same parser, same name parts.
            readNameExchangeResult(result, flags, parsed);
        } else {
            outcome.builtinText = answer.failure;
            outcome.kind = outcome.kind == NameOutcome::Kind::FellBack
                               ? NameOutcome::Kind::Unreachable
                               : NameOutcome::Kind::BuiltinUnavailable;
        }
        QMetaObject::invokeMethod(
            this,
            [this, generation, parsed = std::move(parsed), outcome] {
                answerParsed(generation, parsed, outcome);
            },
            Qt::QueuedConnection);
    });
    emit answerArrived();
}

void NameRefresher::answerParsed(std::uint64_t generation, const NameRefreshTable& parsed,
                                 const NameOutcome& outcome)
{
    if (generation != generation_ || !running_)
        return;
    const Target target = target_;
    if (target.list.isNull()) {
        cancel();
        return;
    }
    // The table is emptied by every read, so the rows of this answer are its whole state.
    for (const auto& [key, row] : parsed)
        target.table->rowFor(key) = row;
    showStatus(outcome);
    const auto apply = [&target] {
        applyNameAnswer(*target.list, *target.records, *target.table, *target.caches);
    };
    if (applyScope_)
        applyScope_(apply);
    else
        apply();
    end();
    returnFreedHeapToSystem();
}

void NameRefresher::showStatus(const NameOutcome& outcome)
{
    const QString text = nameStatusText(target_.idmText, outcome);
    const QString toolTip = nameStatusToolTip(outcome);
    if (callback_)
        callback_(text, toolTip);
    emit statusText(text, toolTip);
}

void NameRefresher::end()
{
    running_ = false;
    target_ = Target{};
    emit finished();
}

} // namespace ridelog
