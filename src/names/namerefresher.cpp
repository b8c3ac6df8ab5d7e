#include "names/namerefresher.h"

#include "names/namerefresh.h"

#include <QMetaObject>

namespace ridelog {

NameRefresher::NameRefresher(QObject* parent)
    : QObject(parent)
    , server_(defaultNameServerUrl())
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
        showStatus(idmText + QStringLiteral(" OK"));
        emit finished();
        return;
    }
    target_ = Target{&list, &records, &caches, &table, idmText, flags};
    running_ = true;
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
    const std::uint64_t generation = generation_;
    const DisplayFlags flags = target_.flags;
    parsers_.start([this, generation, flags, result] {
        NameRefreshTable parsed;
        const QString resultText = readNameExchangeResult(result, flags, parsed);
        QMetaObject::invokeMethod(
            this,
            [this, generation, parsed = std::move(parsed), resultText] {
                answerParsed(generation, parsed, resultText);
            },
            Qt::QueuedConnection);
    });
    emit answerArrived();
}

void NameRefresher::answerParsed(std::uint64_t generation, const NameRefreshTable& parsed,
                                 const QString& resultText)
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
    showStatus(resultText.isEmpty() ? target.idmText + QStringLiteral(" ok")
                                    : target.idmText + u' ' + resultText);
    applyNamesToList(*target.list, *target.table);
    applyNamesToCachesAndRecords(*target.table, *target.records, *target.caches);
    end();
}

void NameRefresher::showStatus(const QString& text)
{
    if (callback_)
        callback_(text);
    emit statusText(text);
}

void NameRefresher::end()
{
    running_ = false;
    target_ = Target{};
    emit finished();
}

} // namespace ridelog
