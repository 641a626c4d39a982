#include "support/TestHttpServer.h"

#include <QPointer>
#include <QSslConfiguration>
#include <QSslServer>
#include <QTcpSocket>
#include <QTimer>

namespace {
QByteArray Reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}
} // namespace

bool TestHttpServer::Start() {
    server = std::make_unique<QTcpServer>();
    return Listen();
}

bool TestHttpServer::StartTls(const QSslConfiguration& configuration) {
    auto secure = std::make_unique<QSslServer>();
    secure->setSslConfiguration(configuration);
    server = std::move(secure);
    tls = true;
    return Listen();
}

bool TestHttpServer::Listen() {
    // Connections are taken once ready (for TLS: once the handshake is done).
    connect(server.get(), &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket* socket = server->nextPendingConnection())
            Serve(socket);
    });
    return server->listen(QHostAddress::LocalHost, 0);
}

QString TestHttpServer::BaseUrl() const {
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(tls ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(server->serverPort());
}

QByteArray TestHttpServer::LastHeader(const QString& path, const QByteArray& name) const {
    return lastHeaders.value(path).value(name);
}

void TestHttpServer::Serve(QTcpSocket* socket) {
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    auto request = std::make_shared<QByteArray>();
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, request] {
        request->append(socket->readAll());
        const qsizetype end = request->indexOf("\r\n\r\n");
        if (end < 0 || request->isEmpty())
            return;
        const QList<QByteArray> lines = request->left(end).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        const QString path = QString::fromLatin1(first.value(1));
        QHash<QByteArray, QByteArray> headers;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                headers.insert(lines[i].left(colon).trimmed().toLower(),
                               lines[i].mid(colon + 1).trimmed());
        }
        request->clear();
        request->append("served");
        lastHeaders.insert(path, headers);
        hits[path] += 1;
        Answer(socket, path);
    });
}

void TestHttpServer::Answer(QTcpSocket* socket, const QString& path) {
    TestRoute route;
    if (routes.contains(path)) {
        route = routes.value(path);
    } else {
        route.status = 404;
        route.body = "no such page";
    }
    QByteArray head = "HTTP/1.1 " + QByteArray::number(route.status) + ' ' + Reason(route.status) +
                      "\r\nContent-Type: application/octet-stream\r\n";
    if (route.chunked)
        head += "Transfer-Encoding: chunked\r\n";
    if (route.sendLength && !route.endless)
        head += "Content-Length: " +
                QByteArray::number(route.announcedLength >= 0 ? route.announcedLength
                                                              : route.body.size()) +
                "\r\n";
    if (!route.location.isEmpty())
        head += "Location: " + route.location + "\r\n";
    head += "Connection: close\r\n\r\n";
    if (route.headTrickleMs > 0) {
        auto* timer = new QTimer(socket);
        auto sent = std::make_shared<qsizetype>(0);
        connect(timer, &QTimer::timeout, socket, [this, socket, timer, route, head, sent] {
            if (*sent < head.size()) {
                socket->write(head.mid((*sent)++, 1));
                return;
            }
            timer->stop();
            TestRoute rest = route;
            rest.headTrickleMs = 0;
            SendBody(socket, rest);
        });
        timer->start(route.headTrickleMs);
        return;
    }
    socket->write(head);
    SendBody(socket, route);
}

void TestHttpServer::SendBody(QTcpSocket* socket, const TestRoute& route) {
    if (route.endless) {
        // Refilled as the client takes it, so the server's buffer stays small.
        const QByteArray piece = route.body.isEmpty() ? QByteArray(64 * 1024, 'z') : route.body;
        auto refill = [socket, piece] {
            while (socket->state() == QAbstractSocket::ConnectedState &&
                   socket->bytesToWrite() < 4 * piece.size())
                socket->write(piece);
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, refill);
        refill();
        return;
    }
    if (route.chunked) {
        if (!route.body.isEmpty())
            socket->write(QByteArray::number(route.body.size(), 16) + "\r\n" + route.body + "\r\n");
        socket->write("0\r\n\r\n");
        socket->disconnectFromHost();
        return;
    }
    if (route.trickleMs <= 0) {
        socket->write(route.body);
        socket->disconnectFromHost();
        return;
    }
    auto* timer = new QTimer(socket);
    auto sent = std::make_shared<qsizetype>(0);
    connect(timer, &QTimer::timeout, socket, [socket, timer, route, sent] {
        if (*sent >= route.body.size()) {
            timer->stop();
            socket->disconnectFromHost();
            return;
        }
        socket->write(route.body.mid(*sent, route.trickleBytes));
        *sent += route.trickleBytes;
    });
    timer->start(route.trickleMs);
}
