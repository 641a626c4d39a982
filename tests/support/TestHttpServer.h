#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <memory>

// What the test server answers on one path.
struct TestRoute {
    int status = 200;
    QByteArray body{};
    bool sendLength = true;
    // Content-Length announced instead of the body's size (a body cut short).
    qint64 announcedLength = -1;
    QByteArray location{};
    // With trickleMs set the body goes out trickleBytes at a time, one piece per interval.
    int trickleMs = 0;
    int trickleBytes = 1;
    // The body in chunked encoding; a Content-Length is still sent when sendLength is set.
    bool chunked = false;
    // With headTrickleMs set the status line and headers go out a byte per interval first.
    int headTrickleMs = 0;
    // After the body, more bytes for as long as the client reads (no length is sent).
    bool endless = false;
};

// A small HTTP/1.1 server on 127.0.0.1 (free port) answering from the test's own event loop,
// which the components under test keep running while they wait.
class TestHttpServer : public QObject {
    Q_OBJECT
public:
    bool Start();
    // The same over TLS with the given certificate and key: addresses start with https.
    bool StartTls(const class QSslConfiguration& configuration);
    quint16 Port() const { return server->serverPort(); }
    QString BaseUrl() const;
    QString Url(const QString& path) const { return BaseUrl() + path; }

    void Route(const QString& path, const TestRoute& route) { routes.insert(path, route); }
    int Hits(const QString& path) const { return hits.value(path); }
    // A header of the last request for path, by lower-case name.
    QByteArray LastHeader(const QString& path, const QByteArray& name) const;

private:
    void Serve(class QTcpSocket* socket);
    void Answer(QTcpSocket* socket, const QString& path);
    void SendBody(QTcpSocket* socket, const TestRoute& route);

    bool Listen();

    std::unique_ptr<QTcpServer> server;
    bool tls = false;
    QHash<QString, TestRoute> routes;
    QHash<QString, int> hits;
    QHash<QString, QHash<QByteArray, QByteArray>> lastHeaders;
};
