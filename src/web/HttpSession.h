#pragma once

#include <QString>
#include <memory>

class QNetworkAccessManager;

// One connection context of the web components: the HTTP client with its agent name and
// proxy choice. Lives for one Collect or Execute.
class THttpSession {
public:
    // An empty proxy means the system's configured proxy settings; otherwise "host[:port]"
    // names an HTTP proxy, with optional credentials.
    THttpSession(const QString& agent, const QString& proxy, const QString& proxyUser,
                 const QString& proxyPassword);
    ~THttpSession();
    THttpSession(const THttpSession&) = delete;
    THttpSession& operator=(const THttpSession&) = delete;

    QNetworkAccessManager& Manager() { return *manager; }
    const QString& Agent() const { return agent; }

private:
    QString agent;
    std::unique_ptr<QNetworkAccessManager> manager;
};
