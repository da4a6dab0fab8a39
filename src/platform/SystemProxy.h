// Which proxy the system's settings name for an address: the desktop's proxy settings and the
// http_proxy, https_proxy and no_proxy variables (either case), asked for each scheme, host and
// port, so that a redirect to another host gets its own answer.
#pragma once

#include <QByteArray>

#include <optional>

struct pxProxyFactory_;

namespace tarnwick {

class SystemProxy {
public:
    SystemProxy() = default;
    ~SystemProxy();
    SystemProxy(const SystemProxy&) = delete;
    SystemProxy& operator=(const SystemProxy&) = delete;

    // The proxy to send url through ("http://host:port", "socks5://host:port"), empty for a
    // direct connection, nothing when the settings could not be read.
    std::optional<QByteArray> For(const QByteArray& url);

private:
    std::optional<QByteArray> Ask(const QByteArray& url);

    // The desktop's settings are read through libproxy on Linux. On Windows this is where
    // WinHttpGetIEProxyConfigForCurrentUser and WinHttpGetProxyForUrl would answer instead.
    ::pxProxyFactory_* m_factory = nullptr;
    bool m_tried = false;
    // The last answer: the files of an update come from one host, and each question costs the
    // settings a fresh read.
    QByteArray m_origin;
    std::optional<QByteArray> m_answer;
};

}  // namespace tarnwick
