// One POST of an item list to the station-name server, asynchronous, with explicit time-outs
// and a bound on the answer size.
#pragma once

#include "store/displayflags.h"
#include "names/namerefreshtable.h"

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <chrono>

namespace ridelog {

class TrfcSettings;

struct NameTimeouts
{
    // Until the request is on the wire, and the longest silence while waiting for the answer.
    std::chrono::milliseconds connect{10'000};
    // The whole exchange.
    std::chrono::milliseconds total{30'000};
};

// Answers beyond this are cut off at their last complete record and reported.
inline constexpr qsizetype kMaxNameAnswerBytes = 1024 * 1024;
// The longest failure text handed on.
inline constexpr qsizetype kMaxNameFailureText = 511;

// Why an exchange brought no answer.
enum class NameFailureKind
{
    None,        // answered (any HTTP status)
    Unreachable, // refused, host not found, network or host unreachable, no connection within the
                 // time-out, a proxy that cannot be reached
    NoAnswer,    // connected, but the answer did not come in time
    Network,     // any other failure of a reachable server: reset, TLS, protocol
};

struct NameExchangeResult
{
    QString failure; // the network library's message or a time-out text; empty when answered
    NameFailureKind failureKind = NameFailureKind::None;
    int httpStatus = 0; // valid when failure is empty
    QByteArray body;    // at most kMaxNameAnswerBytes
    bool cutOff = false;
};

// How a failed exchange is reported: Unreachable when no server could be reached at all (the
// built-in names then stand in), Network when one was reached and then failed.
NameFailureKind failureKindOf(QNetworkReply::NetworkError error, bool requestSent);

// "http://localhost/trfc/" on port 80.
QUrl defaultNameServerUrl();
// The server for this run: the command-line value (--name-server=URL) if it is a usable http
// or https URL, else the settings text "nameServer" if usable, else the default.
QUrl nameServerUrl(const QString& commandLineValue, const TrfcSettings& settings);
// "builtin": the value of --name-server or of the setting "nameServer" that makes the
// program's own names file answer alone, without any network.
QString builtinNameSourceWord();
bool isBuiltinNameSource(const QString& value);
// The built-in names alone: --name-server=builtin, or no usable command-line address and the
// setting "builtin". Otherwise the server of nameServerUrl answers, the built-in names only
// when it cannot be reached.
bool builtinNamesOnly(const QString& commandLineValue, const TrfcSettings& settings);
// Scheme, host and port of server with the fixed object path "/trfc/".
QUrl nameRequestUrl(const QUrl& server);

// Turns the outcome of one exchange into the result text and, for an answer, the table rows.
// A cut-off answer is read up to its last complete record and reported as cut off.
QString readNameExchangeResult(const NameExchangeResult& result, const DisplayFlags& flags,
                               NameRefreshTable& table);

// Runs one exchange at a time on the event loop of the thread it lives in; the network work
// itself never blocks that thread.
class NameExchange : public QObject
{
    Q_OBJECT

public:
    explicit NameExchange(QObject* parent = nullptr);
    ~NameExchange() override;

    // Aborts an exchange still running (without its finished signal) and starts a new one.
    void start(const QUrl& server, const QString& itemList, const NameTimeouts& timeouts = {});
    // Ends a running exchange at once; its finished signal never comes.
    void abort();
    bool isRunning() const { return !reply_.isNull(); }

signals:
    void finished(const ridelog::NameExchangeResult& result);

private:
    void readAvailable();
    void replyFinished();
    void timedOut(const QString& text, NameFailureKind kind);
    // Outside: not within one of the reply's signals, so it can go at once.
    enum class ReplyRelease
    {
        InReplySignal,
        Outside,
    };
    void complete(NameExchangeResult result, ReplyRelease how = ReplyRelease::InReplySignal);
    void releaseReply(ReplyRelease how);

    QNetworkAccessManager manager_;
    QPointer<QNetworkReply> reply_;
    QTimer connectTimer_;
    QTimer totalTimer_;
    QByteArray body_;
    bool requestSent_ = false; // the connection stood and the request went out
};

// The whole exchange in one call: post itemList, read the answer into table under flags.
// Returns "" on success, "Error <status>" for a status other than 200, otherwise the network
// library's message (at most 511 characters). Blocks its caller on a local event loop, so it
// belongs on a worker thread or into tools and tests, never on the user-interface thread.
QString RequestNames(NameRefreshTable& table, const QString& itemList, const DisplayFlags& flags,
                     const QUrl& server = defaultNameServerUrl(),
                     const NameTimeouts& timeouts = {});

} // namespace ridelog
