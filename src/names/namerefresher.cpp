#include "names/namerefresher.h"

#include "names/namerefresh.h"

#include <QAbstractItemModel>
#include <QMetaObject>

namespace ridelog {

NameRefresher::NameRefresher(QAbstractItemModel& list, HistoryRecordSet& records,
                             NameCaches& caches, NameRefreshTable& table, QObject* parent)
    : QObject(parent)
    , list_(list)
    , records_(records)
    , caches_(caches)
    , table_(table)
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

void NameRefresher::start(const QString& idmText, const DisplayFlags& flags)
{
    cancel();
    const QString items = collectNameItems(list_, records_);
    if (items.isEmpty()) {
        emit statusText(idmText + QStringLiteral(" OK"));
        emit finished();
        return;
    }
    idmText_ = idmText;
    flags_ = flags;
    running_ = true;
    exchange_.start(server_, items, timeouts_);
}

void NameRefresher::cancel()
{
    ++generation_;
    exchange_.abort();
    running_ = false;
}

void NameRefresher::exchangeFinished(const NameExchangeResult& result)
{
    const std::uint64_t generation = generation_;
    const DisplayFlags flags = flags_;
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
}

void NameRefresher::answerParsed(std::uint64_t generation, const NameRefreshTable& parsed,
                                 const QString& resultText)
{
    if (generation != generation_ || !running_)
        return;
    // The table is emptied by every read, so the rows of this answer are its whole state.
    for (const auto& [key, row] : parsed)
        table_.rowFor(key) = row;
    emit statusText(resultText.isEmpty() ? idmText_ + QStringLiteral(" ok")
                                         : idmText_ + u' ' + resultText);
    applyNamesToList(list_, table_);
    applyNamesToCachesAndRecords(table_, records_, caches_);
    end();
}

void NameRefresher::end()
{
    running_ = false;
    emit finished();
}

} // namespace ridelog
