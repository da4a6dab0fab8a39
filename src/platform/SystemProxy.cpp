#include "platform/SystemProxy.h"

#include <QUrl>

#include <proxy.h>

namespace tarnwick {
namespace {

// libproxy names a SOCKS proxy without its version; the updater's HTTP layer wants one.
std::optional<QByteArray> UsableProxy(const QByteArray& proxy)
{
    if (proxy.startsWith("direct://"))
        return QByteArray();
    if (proxy.startsWith("socks://"))
        return "socks5://" + proxy.mid(8);
    for (const char* scheme : {"http://", "https://", "socks4://", "socks4a://", "socks5://"})
        if (proxy.startsWith(scheme))
            return proxy;
    return std::nullopt;
}

// The machine itself is reached directly, whatever the settings say, as the desktop's own
// programs do: a proxy elsewhere could not reach it, and one here has nothing to add.
bool IsLoopback(const QByteArray& url)
{
    const QString host = QUrl::fromEncoded(url).host().toLower();
    if (host == u"localhost" || host == u"::1")
        return true;
    const QStringList parts = host.split(u'.');
    if (parts.size() != 4 || parts.first() != u"127")
        return false;
    for (const QString& part : parts) {
        bool number = false;
        if (part.toUInt(&number) > 255 || !number)
            return false;
    }
    return true;
}

// "scheme://host:port" of an absolute address: everything before its path.
QByteArray Origin(const QByteArray& url)
{
    const qsizetype hostStart = url.indexOf("//");
    const qsizetype pathStart = hostStart < 0 ? -1 : url.indexOf('/', hostStart + 2);
    return pathStart < 0 ? url : url.left(pathStart);
}

}  // namespace

SystemProxy::~SystemProxy()
{
    if (m_factory)
        px_proxy_factory_free(m_factory);
}

std::optional<QByteArray> SystemProxy::For(const QByteArray& url)
{
    const QByteArray origin = Origin(url);
    if (m_tried && origin == m_origin)
        return m_answer;
    m_answer = Ask(url);
    m_origin = origin;
    return m_answer;
}

std::optional<QByteArray> SystemProxy::Ask(const QByteArray& url)
{
    if (IsLoopback(url))
        return QByteArray();
    // Made on first use: reading the desktop's settings is not worth delaying the window for.
    if (!m_tried) {
        m_tried = true;
        m_factory = px_proxy_factory_new();
    }
    if (!m_factory)
        return std::nullopt;
    char** proxies = px_proxy_factory_get_proxies(m_factory, url.constData());
    if (!proxies)
        return std::nullopt;
    // The first entry this updater can use; a list naming none of them means go direct.
    QByteArray chosen;
    for (char** entry = proxies; *entry; ++entry) {
        if (const std::optional<QByteArray> usable = UsableProxy(QByteArray(*entry))) {
            chosen = *usable;
            break;
        }
    }
    px_proxy_factory_free_proxies(proxies);
    return chosen;
}

}  // namespace tarnwick
