#include "platform/HttpTransfer.h"

#include "platform/HttpRequest.h"

#include <QEventLoop>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace tarnwick {
namespace {

// A request for url under a transfer's limits.
HttpRequest::Options Limited(const QString& url, QIODevice* sink, qint64 textLimit,
                             std::chrono::milliseconds idleTimeout, QDeadlineTimer deadline)
{
    HttpRequest::Options options;
    options.url = url;
    options.sink = sink;
    options.textLimit = textLimit;
    options.idleTimeout = idleTimeout;
    options.deadline = deadline;
    return options;
}

}  // namespace

HttpTransfer::Ahead::Ahead() = default;

HttpTransfer::Ahead::Ahead(Ahead&& other) noexcept
    : m_transfer(std::exchange(other.m_transfer, nullptr)), m_request(std::move(other.m_request))
{
}

HttpTransfer::Ahead& HttpTransfer::Ahead::operator=(Ahead&& other) noexcept
{
    if (this != &other) {
        if (m_transfer && m_request)
            m_transfer->m_ahead.erase(m_request.get());
        m_request = std::move(other.m_request);
        m_transfer = std::exchange(other.m_transfer, nullptr);
    }
    return *this;
}

HttpTransfer::Ahead::~Ahead()
{
    if (m_transfer && m_request)
        m_transfer->m_ahead.erase(m_request.get());
    m_request.reset();
}

HttpTransfer::HttpTransfer(const QString& name, QObject* parent) : QObject(parent), m_site(std::make_shared<HttpSite>())
{
    setObjectName(name);
}

HttpTransfer::~HttpTransfer() { Abort(); }

void HttpTransfer::ShareConnectionsWith(HttpTransfer& other) { m_site = other.m_site; }

void HttpTransfer::SetAuthorities(const QString& pemFile) { m_site->authorities = pemFile.toLocal8Bit(); }

void HttpTransfer::SetDeadline(QDeadlineTimer deadline) { m_deadline = deadline; }

FetchResult HttpTransfer::OpenUrl(const QString& url) { return Fetch(url, nullptr, 0, {}); }

FetchResult HttpTransfer::OpenUrlInto(const QString& url, QIODevice& sink, qint64 from, const QByteArray& validator)
{
    return Fetch(url, &sink, from, validator);
}

void HttpTransfer::Abort()
{
    if (m_waited)
        m_waited->Abort();
    for (HttpRequest* request : m_ahead)
        request->Abort();
}

std::unique_ptr<HttpRequest> HttpTransfer::Begin(const QString& url, QIODevice* sink, qint64 from,
                                                 const QByteArray& validator)
{
    HttpRequest::Options options = Limited(url, sink, m_textLimit, m_timeout, m_deadline);
    options.from = from;
    options.validator = validator;
    return std::make_unique<HttpRequest>(m_site, std::move(options));
}

FetchResult HttpTransfer::Wait(std::unique_ptr<HttpRequest> request)
{
    m_running = true;
    m_waited = request.get();
    if (!request->Finished()) {
        QEventLoop loop;
        request->SetWaiting(&loop);
        loop.exec();
        request->SetWaiting(nullptr);
        // The loop also returns when the application is quitting (a nested loop then ends at
        // once), so without an end of its own the fetch was cut off.
        request->Abort();
    }
    FetchResult result = request->Outcome();
    m_waited = nullptr;
    m_running = false;
    QMetaObject::invokeMethod(this, &HttpTransfer::StateChanged, Qt::QueuedConnection);
    return result;
}

FetchResult HttpTransfer::Fetch(const QString& url, QIODevice* sink, qint64 from, const QByteArray& validator)
{
    if (m_running) {
        FetchResult busy;
        busy.error = u"transfer busy"_s;
        return busy;
    }
    return Wait(Begin(url, sink, from, validator));
}

bool HttpTransfer::AheadRoom(const Ahead* turn) const
{
    int running = 0;
    bool turnRunning = false;
    qint64 held = 0;
    for (const HttpRequest* request : m_ahead) {
        running += !request->Finished();
        turnRunning = turnRunning || (turn && request == turn->m_request.get() && !request->Finished());
        held += std::max(request->Received(), ConnectionBudget::kAheadBlock);
    }
    return m_site->budget.AheadRoom(running, turnRunning, held);
}

HttpTransfer::Ahead HttpTransfer::StartAhead(const QString& url, QIODevice& sink, bool continuable)
{
    HttpRequest::Options options = Limited(url, &sink, m_textLimit, m_timeout, m_deadline);
    options.ahead = true;
    options.continuable = continuable;
    Ahead ahead;
    ahead.m_transfer = this;
    ahead.m_request = std::make_unique<HttpRequest>(m_site, std::move(options));
    m_ahead.insert(ahead.m_request.get());
    return ahead;
}

FetchResult HttpTransfer::WaitAhead(Ahead ahead)
{
    if (m_running || !ahead || ahead.m_transfer != this) {
        FetchResult none;
        none.error = m_running ? u"transfer busy"_s : u"no such fetch"_s;
        return none;
    }
    m_ahead.erase(ahead.m_request.get());
    ahead.m_request->TakeUp();
    return Wait(std::move(ahead.m_request));
}

}  // namespace tarnwick
