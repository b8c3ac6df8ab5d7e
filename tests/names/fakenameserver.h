// A small HTTP/1.1 responder on loopback that plays the station-name server in tests.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <functional>

class FakeNameServer
{
public:
    struct Request
    {
        QByteArray head; // request line and headers
        QByteArray body;
    };
    // Given the request, returns the raw bytes to send; an empty array sends nothing and
    // keeps the connection open (a server that hangs).
    using Responder = std::function<QByteArray(const Request&)>;

    FakeNameServer()
    {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { accept(); });
    }

    bool listening() const { return server_.isListening(); }
    QUrl url() const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(server_.serverPort()));
    }
    void respondWith(Responder responder) { responder_ = std::move(responder); }

    const QList<Request>& requests() const { return requests_; }
    int openConnections() const { return int(buffers_.size()); }

    static QByteArray response(int status, const QByteArray& body)
    {
        return QByteArrayLiteral("HTTP/1.1 ") + QByteArray::number(status) +
               QByteArrayLiteral(" X\r\nContent-Type: text/plain; charset=Shift_JIS\r\n"
                                 "Content-Length: ") +
               QByteArray::number(body.size()) +
               QByteArrayLiteral("\r\nConnection: close\r\n\r\n") + body;
    }

    static QByteArray headerValue(const QByteArray& head, const QByteArray& name)
    {
        for (const QByteArray& line : head.split('\n')) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0 && line.first(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
                return line.mid(colon + 1).trimmed();
        }
        return QByteArray();
    }

private:
    void accept()
    {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            buffers_.insert(socket, QByteArray());
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                buffers_[socket].append(socket->readAll());
                serve(socket);
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                buffers_.remove(socket);
                socket->deleteLater();
            });
        }
    }

    void serve(QTcpSocket* socket)
    {
        const QByteArray& buffer = buffers_[socket];
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        Request request;
        request.head = buffer.first(end);
        const qsizetype length = headerValue(request.head, "Content-Length").toLongLong();
        if (buffer.size() < end + 4 + length)
            return;
        request.body = buffer.mid(end + 4, length);
        buffers_[socket].clear();
        requests_.append(request);
        const QByteArray reply = responder_ ? responder_(request) : response(404, {});
        if (reply.isEmpty())
            return;
        socket->write(reply);
        socket->disconnectFromHost();
    }

    QTcpServer server_;
    QHash<QTcpSocket*, QByteArray> buffers_;
    QList<Request> requests_;
    Responder responder_;
};
