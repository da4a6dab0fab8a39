// A real HTTP server on 127.0.0.1 (a free port), plain or over TLS, serving an update site from
// memory with a fault per path. It answers inside the test's own event loop, which every fetch
// of the updater keeps running, and writes each answer byte for byte as the fault says.
#pragma once

#include <QHash>
#include <QSslServer>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>

namespace tarnwick::test {

using namespace Qt::Literals::StringLiterals;

// How a path answers; the default is its own body with a 200.
struct Fault {
    int status = 200;
    QByteArray headers;                 // more header lines, each ending in CR LF
    std::optional<QByteArray> body;     // instead of the path's own
    bool ownLength = true;              // false: only `headers` announce a length
    int excess = 0;                     // bytes sent beyond the announced length; fewer: the connection closes
    int pieces = 1;                     // the body in this many parts after the headers,
    std::chrono::milliseconds delay{};  // each sent after this long without a byte
};

class LocalSite {
public:
    explicit LocalSite(const QSslConfiguration* tls = nullptr) : m_listener(tls ? new QSslServer : new QTcpServer)
    {
        if (tls)
            static_cast<QSslServer*>(m_listener.get())->setSslConfiguration(*tls);
        m_listener->listen(QHostAddress::LocalHost);
        m_base = u"%1://127.0.0.1:%2"_s.arg(tls ? "https" : "http").arg(m_listener->serverPort());
        QObject::connect(m_listener.get(), &QTcpServer::pendingConnectionAvailable, [this] {
            while (QTcpSocket* socket = m_listener->nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                    m_open -= socket->property("served").toBool();
                    m_held.removeOne(socket);
                    if (!m_held.isEmpty() && (m_busy || m_open < m_most))
                        Serve(m_held.takeFirst());
                });
                m_most && !m_busy && m_open >= m_most ? m_held.append(socket) : Serve(socket);
            }
        });
    }

    // Beyond `most` connections at once the site turns the others away, as hosts that limit
    // connections do: with 503 when busy, else leaving them unanswered until one ends.
    void LimitConnections(int most, bool busy) { m_most = most, m_busy = busy; }

    QString BaseUrl() const { return m_base; }  // "http://127.0.0.1:<port>"

    // Serves bytes at a path such as "/updater/0.3/check.update", as decoded from the request.
    void Put(const QString& path, const QByteArray& body) { m_bodies[path] = body; }
    QByteArray Body(const QString& path) const { return m_bodies.value(path); }
    // The next `times` requests for the path get the fault (all of them when times < 0).
    void SetFault(const QString& path, const Fault& fault, int times = -1) { m_faults[path] = {fault, times}; }

    QStringList requests;  // each request target as sent, in order

private:
    void Serve(QTcpSocket* socket)
    {
        ++m_open;
        socket->setProperty("served", true);
        const auto read = [this, socket] {
            socket->setProperty("head", socket->property("head").toByteArray() + socket->readAll());
            if (socket->property("head").toByteArray().endsWith("\r\n\r\n"))
                Answer(*socket, socket->property("head").toByteArray());
        };
        QObject::connect(socket, &QTcpSocket::readyRead, socket, read);
        read();
    }

    void Answer(QTcpSocket& socket, const QByteArray& head)
    {
        const QByteArray target = head.split(' ').value(1);
        requests.append(QString::fromLatin1(target));
        const QString path = QUrl::fromPercentEncoding(target);
        Fault fault{.status = 404, .body = "not found"};
        if (auto it = m_faults.find(path); it != m_faults.end() && it->second != 0)
            fault = it->first, it->second -= it->second > 0;
        else if (m_bodies.contains(path))
            fault = {};
        if (m_busy && m_open > m_most)
            fault = Fault{.status = 503, .body = "busy"};
        auto header = [lower = head.toLower()](const QByteArray& name) {
            const qsizetype at = lower.indexOf("\n" + name + ":") + name.size() + 2;
            return at < name.size() + 2 ? QByteArray() : lower.mid(at, lower.indexOf('\r', at) - at).trimmed();
        };
        // The updater asks for the bytes as stored (any other coding could be unpacked on the way),
        // and a cache on the way must ask the site again, which reuses its names for every release.
        if (const QByteArray coding = header("accept-encoding"); (!coding.isEmpty() && coding != "identity") ||
                                                                 header("cache-control") != "no-cache" ||
                                                                 header("pragma") != "no-cache")
            fault = Fault{400};
        QByteArray body = fault.body.value_or(m_bodies.value(path)), tag = '"' + QByteArray::number(qHash(body)) + '"';
        // Ranges as a file server gives them: the rest of a body whose ETag the request still names.
        QByteArray headers = "ETag: " + tag + "\r\nAccept-Ranges: bytes\r\n" + fault.headers;
        if (const QByteArray range = header("range");
            fault.status == 200 && !range.isEmpty() && header("if-range") == tag) {
            const qsizetype from = range.mid(6).chopped(1).toLongLong(), size = body.size();
            fault.status = 206, body.remove(0, from);
            headers += "Content-Range: bytes " + QByteArray::number(from) + '-' + QByteArray::number(size - 1) + '/' +
                       QByteArray::number(size) + "\r\n";
        }
        socket.write("HTTP/1.1 " + QByteArray::number(fault.status) + " X\r\nConnection: close\r\n" + headers +
                     (fault.ownLength ? "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" : "\r\n"));
        fault.excess < 0 ? body.chop(-fault.excess) : void(body.append(fault.excess, '+'));
        const qsizetype size = (body.size() + fault.pieces - 1) / fault.pieces;
        for (int i = 0; i < fault.pieces; ++i)
            QTimer::singleShot(fault.delay * (i + 1), &socket,
                               [&socket, part = body.mid(i * size, size), end = i + 1 == fault.pieces] {
                                   socket.write(part);
                                   if (end)
                                       socket.disconnectFromHost();
                               });
    }

    std::unique_ptr<QTcpServer> m_listener;
    QString m_base;
    QHash<QString, QByteArray> m_bodies;
    QHash<QString, std::pair<Fault, int>> m_faults;
    int m_most = 0, m_open = 0;  // connections allowed at once (0: any number), and served now
    bool m_busy = false;
    QList<QTcpSocket*> m_held;
};

}  // namespace tarnwick::test
