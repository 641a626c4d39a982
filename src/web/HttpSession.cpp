#include "web/HttpSession.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QUrl>

namespace {
constexpr int DefaultProxyPort = 80;

QNetworkProxy NamedProxy(const QString& proxy, const QString& user, const QString& password) {
    const QUrl url = proxy.contains(QStringLiteral("://"))
                         ? QUrl(proxy)
                         : QUrl(QStringLiteral("http://") + proxy);
    return QNetworkProxy(QNetworkProxy::HttpProxy, url.host(),
                         static_cast<quint16>(url.port(DefaultProxyPort)), user, password);
}
} // namespace

THttpSession::THttpSession(const QString& agent, const QString& proxy, const QString& proxyUser,
                           const QString& proxyPassword)
    : agent(agent), manager(std::make_unique<QNetworkAccessManager>()) {
    if (proxy.isEmpty()) {
        QNetworkProxyFactory::setUseSystemConfiguration(true);
        manager->setProxy(QNetworkProxy(QNetworkProxy::DefaultProxy));
    } else {
        manager->setProxy(NamedProxy(proxy, proxyUser, proxyPassword));
    }
    // Every request goes to the server and nothing is kept.
    manager->setCache(nullptr);
    manager->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

THttpSession::~THttpSession() = default;
