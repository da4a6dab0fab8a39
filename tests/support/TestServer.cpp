#include "support/TestServer.h"

#include <httplib.h>

#include <QDir>
#include <QFile>
#include <QHash>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

namespace tarnwick::test {

struct TestServer::State {
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::atomic<bool> stopping{false};

    mutable std::mutex mutex;
    QHash<QString, QByteArray> bodies;
    struct Planned {
        Fault fault;
        int remaining;
        int unharmed = 0;  // requests answered normally before the fault starts
    };
    QHash<QString, Planned> faults;
    QString folder;
    QStringList requests;

    // Sleeps in small steps so that stopping the server never waits for a long fault.
    void SleepFor(std::chrono::milliseconds total)
    {
        const auto until = std::chrono::steady_clock::now() + total;
        while (!stopping && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    std::optional<QByteArray> Body(const QString& path) const
    {
        if (auto it = bodies.find(path); it != bodies.end())
            return *it;
        if (folder.isEmpty() || path.contains(QStringLiteral("..")))
            return std::nullopt;
        QFile file(QDir(folder).filePath(path.mid(1)));
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return file.readAll();
    }

    void Handle(const httplib::Request& request, httplib::Response& response)
    {
        const QString path = QString::fromStdString(request.path);
        std::optional<QByteArray> body;
        Fault fault;
        {
            std::lock_guard lock(mutex);
            requests.append(path);
            body = Body(path);
            if (auto it = faults.find(path); it != faults.end() && it->unharmed > 0) {
                --it->unharmed;
            } else if (it != faults.end() && it->remaining != 0) {
                fault = it->fault;
                if (it->remaining > 0)
                    --it->remaining;
            }
        }
        using Kind = Fault::Kind;
        switch (fault.kind) {
        case Kind::Status:
            response.status = fault.status;
            response.set_content("<html><body>error page</body></html>", "text/html");
            return;
        case Kind::EmptyBody:
            response.status = 200;
            response.set_content("", "text/plain");
            return;
        case Kind::Redirect:
            response.status = fault.status;
            response.set_header("Location", fault.location.toStdString());
            return;
        case Kind::NoContent:
            response.status = 204;
            return;
        case Kind::Delay:
            SleepFor(fault.delay);
            break;
        default:
            break;
        }
        if (!body) {
            response.status = 404;
            response.set_content("not found", "text/plain");
            return;
        }
        const std::string content = body->toStdString();
        if (fault.kind == Kind::StatusWithBody) {
            response.status = fault.status;
            response.set_content(content, "application/octet-stream");
            return;
        }
        if (fault.kind == Kind::TwoLengths) {
            response.status = 200;
            response.set_header("Content-Length", "1");
            response.set_header("Content-Length", std::to_string(content.size()));
            response.body = content;
            return;
        }
        if (fault.kind == Kind::TrickleSpread) {
            const Fault f = fault;
            const size_t piece = std::max<size_t>(1, (content.size() + f.pieces - 1) / std::max(1, f.pieces));
            response.set_content_provider(
                content.size(), "application/octet-stream",
                [this, content, f, piece](size_t offset, size_t, httplib::DataSink& sink) {
                    SleepFor(f.delay);
                    if (stopping)
                        return false;
                    sink.write(content.data() + offset, std::min(piece, content.size() - offset));
                    return true;
                });
            return;
        }
        if (fault.kind == Kind::DropHalfway || fault.kind == Kind::HeadersOnly || fault.kind == Kind::Trickle) {
            const Fault f = fault;
            response.set_content_provider(
                content.size(), "application/octet-stream",
                [this, content, f](size_t offset, size_t, httplib::DataSink& sink) {
                    if (f.kind == Kind::HeadersOnly) {
                        SleepFor(f.delay);
                        return false;
                    }
                    if (f.kind == Kind::DropHalfway) {
                        const size_t half = content.size() / 2;
                        if (offset < half)
                            sink.write(content.data() + offset, half - offset);
                        return false;  // closes the connection with the body unfinished
                    }
                    SleepFor(f.delay);
                    if (stopping)
                        return false;
                    sink.write(content.data() + offset, 1);
                    return true;
                });
            return;
        }
        response.status = 200;
        response.set_content(content, "application/octet-stream");
    }
};

TestServer::TestServer() : m_state(std::make_unique<State>())
{
    m_state->server.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
        m_state->Handle(req, res);
    });
    // Headers and body go out in separate writes; without this, Nagle's algorithm holds the
    // body back for the client's delayed acknowledgement, some 40 ms per request.
    m_state->server.set_tcp_nodelay(true);
    // The default closes a kept-alive connection after five requests; the client then opens
    // a new one and may send a request again that it had already sent on the closed one.
    m_state->server.set_keep_alive_max_count(1000);
    m_state->port = m_state->server.bind_to_any_port("127.0.0.1");
    m_state->thread = std::thread([this] { m_state->server.listen_after_bind(); });
    // stop() does nothing until the listening loop runs, so a server destroyed at once (a test
    // that only wants a closed port) would otherwise listen for ever and never be joined.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (m_state->port > 0 && !m_state->server.is_running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TestServer::~TestServer()
{
    m_state->stopping = true;
    m_state->server.stop();
    if (m_state->thread.joinable())
        m_state->thread.join();
}

int TestServer::Port() const
{
    return m_state->port;
}

QString TestServer::BaseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_state->port);
}

QString TestServer::SiteUrl() const
{
    return BaseUrl() + QStringLiteral("/updater/");
}

void TestServer::Put(const QString& path, const QByteArray& body)
{
    std::lock_guard lock(m_state->mutex);
    m_state->bodies.insert(path, body);
}

void TestServer::ServeFolder(const QString& folder)
{
    std::lock_guard lock(m_state->mutex);
    m_state->folder = folder;
}

void TestServer::SetFault(const QString& path, const Fault& fault, int times)
{
    std::lock_guard lock(m_state->mutex);
    m_state->faults.insert(path, {fault, times});
}

void TestServer::SetFaultAfter(const QString& path, int unharmed, const Fault& fault, int times)
{
    std::lock_guard lock(m_state->mutex);
    m_state->faults.insert(path, {fault, times, unharmed});
}

void TestServer::ClearFaults()
{
    std::lock_guard lock(m_state->mutex);
    m_state->faults.clear();
}

QStringList TestServer::Requests() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->requests;
}

void TestServer::ClearRequests()
{
    std::lock_guard lock(m_state->mutex);
    m_state->requests.clear();
}

}  // namespace tarnwick::test
