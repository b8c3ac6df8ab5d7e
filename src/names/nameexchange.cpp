#include "names/nameexchange.h"

#include "names/nameprotocol.h"
#include "store/settings.h"

#include <QEventLoop>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace ridelog {

namespace {

bool isUsableServerUrl(const QUrl& url)
{
    const QString scheme = url.scheme();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QStringLiteral("http") || scheme == QStringLiteral("https"));
}

QUrl usableUrl(const QString& text)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    return isUsableServerUrl(url) ? url : QUrl();
}

QNetworkRequest nameRequest(const QUrl& server, const NameTimeouts& timeouts)
{
    QNetworkRequest request(nameRequestUrl(server));
    request.setRawHeader(QByteArrayLiteral("Content-type"), nameRequestContentType());
    request.setRawHeader(QByteArrayLiteral("Accept"), nameRequestAccept());
    request.setRawHeader(QByteArrayLiteral("User-Agent"), nameRequestUserAgent());
    // One plain HTTP/1.1 exchange; a redirect is reported with its status like any other.
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    // No cookie goes with a request, and none that a server sets is kept.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setTransferTimeout(int(timeouts.connect.count()));
    return request;
}

QString connectTimeoutText()
{
    return QStringLiteral("Connection to the name server timed out");
}

QString answerTimeoutText()
{
    return QStringLiteral("The name server did not answer in time");
}

QString cutOffText()
{
    return QStringLiteral("Answer over %1 bytes cut off").arg(kMaxNameAnswerBytes);
}

// Everything up to and including the last record separator.
QByteArray completeRecords(const QByteArray& joined)
{
    const qsizetype last = joined.lastIndexOf(':');
    return last < 0 ? QByteArray() : joined.first(last + 1);
}

} // namespace

NameFailureKind failureKindOf(QNetworkReply::NetworkError error, bool requestSent)
{
    // Once the request is out, a server stood at the other end.
    if (requestSent)
        return NameFailureKind::Network;
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    // The socket's own connect failed: network or host unreachable (no network at all, the
    // interface down, no route), or the address cannot be used. Qt reports these without a
    // code of their own.
    case QNetworkReply::UnknownNetworkError:
        return NameFailureKind::Unreachable;
    default:
        return NameFailureKind::Network;
    }
}

QUrl defaultNameServerUrl()
{
    return QUrl(QStringLiteral("http://localhost/trfc/"));
}

QUrl nameServerUrl(const QString& commandLineValue, const TrfcSettings& settings)
{
    if (const QUrl url = usableUrl(commandLineValue); !url.isEmpty())
        return url;
    if (const QUrl url = usableUrl(settings.text(QStringLiteral("nameServer"))); !url.isEmpty())
        return url;
    return defaultNameServerUrl();
}

QString builtinNameSourceWord()
{
    return QStringLiteral("builtin");
}

bool isBuiltinNameSource(const QString& value)
{
    return value.trimmed().compare(builtinNameSourceWord(), Qt::CaseInsensitive) == 0;
}

bool builtinNamesOnly(const QString& commandLineValue, const TrfcSettings& settings)
{
    if (isBuiltinNameSource(commandLineValue))
        return true;
    if (!usableUrl(commandLineValue).isEmpty())
        return false;
    return isBuiltinNameSource(settings.text(QStringLiteral("nameServer")));
}

QUrl nameRequestUrl(const QUrl& server)
{
    QUrl url;
    url.setScheme(server.scheme());
    url.setHost(server.host());
    url.setPort(server.port());
    url.setPath(nameRequestPath());
    return url;
}

QString readNameExchangeResult(const NameExchangeResult& result, const DisplayFlags& flags,
                               NameRefreshTable& table)
{
    if (!result.failure.isEmpty())
        return result.failure.left(kMaxNameFailureText);
    if (!result.cutOff || result.httpStatus != 200)
        return readNameAnswer(result.httpStatus, result.body, flags, table);
    readNameAnswer(200, completeRecords(joinAnswerLines(result.body)), flags, table);
    return cutOffText();
}

NameExchange::NameExchange(QObject* parent)
    : QObject(parent)
{
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    manager_.setAutoDeleteReplies(false);
    connectTimer_.setSingleShot(true);
    totalTimer_.setSingleShot(true);
    connect(&connectTimer_, &QTimer::timeout, this,
            [this] { timedOut(connectTimeoutText(), NameFailureKind::Unreachable); });
    connect(&totalTimer_, &QTimer::timeout, this, [this] {
        timedOut(answerTimeoutText(),
                 requestSent_ ? NameFailureKind::NoAnswer : NameFailureKind::Unreachable);
    });
}

NameExchange::~NameExchange()
{
    abort();
}

void NameExchange::start(const QUrl& server, const QString& itemList, const NameTimeouts& timeouts)
{
    abort();
    body_.clear();
    requestSent_ = false;
    QNetworkReply* reply = manager_.post(nameRequest(server, timeouts), nameRequestBody(itemList));
    reply_ = reply;
    const auto connected = [this] {
        requestSent_ = true;
        connectTimer_.stop();
    };
    connect(reply, &QNetworkReply::requestSent, this, connected);
    connect(reply, &QNetworkReply::metaDataChanged, this, connected);
    connect(reply, &QNetworkReply::readyRead, this, &NameExchange::readAvailable);
    connect(reply, &QNetworkReply::finished, this, &NameExchange::replyFinished);
    connectTimer_.start(timeouts.connect);
    totalTimer_.start(timeouts.total);
}

void NameExchange::abort()
{
    releaseReply(ReplyRelease::Outside);
    body_.clear();
}

void NameExchange::releaseReply(ReplyRelease how)
{
    connectTimer_.stop();
    totalTimer_.stop();
    if (reply_.isNull())
        return;
    QNetworkReply* reply = reply_;
    reply_.clear();
    disconnect(reply, nullptr, this, nullptr);
    if (reply->isFinished() || reply->error() != QNetworkReply::NoError) {
        // Done, or its error is reported: aborting it would report a second error.
        reply->deleteLater();
    } else if (how == ReplyRelease::Outside) {
        // Deleting a running reply stops its transfer and drops what its connection has
        // posted to it already (a refusal on its way would otherwise be a second error).
        delete reply;
    } else {
        // Within one of the reply's own signals: it must outlive the call.
        reply->abort();
        reply->deleteLater();
    }
}

void NameExchange::readAvailable()
{
    if (reply_.isNull() || !reply_->isOpen())
        return;
    const qsizetype room = kMaxNameAnswerBytes - body_.size();
    body_.append(reply_->read(room));
    if (reply_->bytesAvailable() == 0)
        return;
    // More than the bound: keep what fits and stop reading.
    NameExchangeResult result;
    result.httpStatus = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.cutOff = true;
    result.body = body_;
    complete(std::move(result));
}

void NameExchange::replyFinished()
{
    if (reply_.isNull())
        return;
    readAvailable();
    if (reply_.isNull())
        return; // cut off while reading the rest
    NameExchangeResult result;
    const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = reply_->error();
    if (status.isValid() && (status.toInt() != 200 || error == QNetworkReply::NoError)) {
        result.httpStatus = status.toInt();
        result.body = body_;
    } else if (error == QNetworkReply::OperationCanceledError ||
               error == QNetworkReply::TimeoutError) {
        // The transfer time-out of the request: before the request went out, there was no
        // connection at all.
        result.failure = requestSent_ ? answerTimeoutText() : connectTimeoutText();
        result.failureKind =
            requestSent_ ? NameFailureKind::NoAnswer : NameFailureKind::Unreachable;
    } else {
        result.failure = reply_->errorString();
        if (result.failure.isEmpty())
            result.failure = QStringLiteral("Network error %1").arg(int(error));
        result.failureKind = failureKindOf(error, requestSent_);
    }
    complete(std::move(result));
}

void NameExchange::timedOut(const QString& text, NameFailureKind kind)
{
    if (reply_.isNull())
        return;
    if (reply_->error() != QNetworkReply::NoError) {
        // The reply failed before the timer ran out (the user-interface thread was busy):
        // its own error tells more than the time-out.
        replyFinished();
        return;
    }
    NameExchangeResult result;
    result.failure = text;
    result.failureKind = kind;
    complete(std::move(result), ReplyRelease::Outside);
}

void NameExchange::complete(NameExchangeResult result, ReplyRelease how)
{
    releaseReply(how);
    body_.clear();
    emit finished(result);
}

QString RequestNames(NameRefreshTable& table, const QString& itemList, const DisplayFlags& flags,
                     const QUrl& server, const NameTimeouts& timeouts)
{
    NameExchange exchange;
    NameExchangeResult outcome;
    bool done = false;
    QEventLoop loop;
    QObject::connect(&exchange, &NameExchange::finished, &loop,
                     [&](const NameExchangeResult& result) {
                         outcome = result;
                         done = true;
                         loop.quit();
                     });
    exchange.start(server, itemList, timeouts);
    if (!done)
        loop.exec();
    return readNameExchangeResult(outcome, flags, table);
}

} // namespace ridelog
