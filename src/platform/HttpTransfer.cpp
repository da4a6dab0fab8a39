#include "platform/HttpTransfer.h"

#include <QEventLoop>
#include <QIODevice>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

using namespace Qt::Literals::StringLiterals;

namespace tarnwick {
namespace {

constexpr int kMaxRedirects = 10;
// Bounds what Qt buffers for us between two readyRead deliveries.
constexpr qint64 kReadBufferSize = 1024 * 1024;

// The updater's addresses are paths on the site: a "#" or "?" in them belongs to a version or
// file name and must not start a fragment or a query, which would fetch another resource.
// Everything else, "%" escapes included, is sent as written.
QUrl RequestUrl(const QString& address)
{
    QString path = address;
    path.replace(u'#', "%23"_L1).replace(u'?', "%3F"_L1);
    return QUrl(path, QUrl::TolerantMode);
}

QNetworkRequest MakeRequest(const QString& address, std::chrono::milliseconds timeout)
{
    QNetworkRequest request(RequestUrl(address));
    request.setTransferTimeout(static_cast<int>(timeout.count()));
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader, u"TarnwickUpdater/0.2"_s);
    // The bytes as the site stores them: asking for a compressed transfer lets the HTTP layer
    // unpack a body that a misconfigured server labels as encoded (a .tar.gz sent as gzip).
    request.setRawHeader("Accept-Encoding", "identity");
    return request;
}

int StatusCode(const QNetworkReply& reply)
{
    return reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

bool HasStatus(const QNetworkReply& reply)
{
    return reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
}

// Only a 200 is the whole resource: 204 has no body, 206 a piece of one, and the rest of 2xx
// are not answers to a plain request for a file.
bool IsWholeResource(const QNetworkReply& reply)
{
    const QString scheme = reply.url().scheme();
    if (!HasStatus(reply))
        return scheme.compare("http"_L1, Qt::CaseInsensitive) != 0 &&
               scheme.compare("https"_L1, Qt::CaseInsensitive) != 0;
    return StatusCode(reply) == 200;
}

// A body must be exactly as long as its answer announced. Qt reads up to the first of several
// lengths in one answer and reports success, which would cut a file short. Qt also keeps the
// length of a redirect answer it followed in front of the final one ("0, 56"), so the final
// answer's length is the last one given.
bool BodyHasAnnouncedLength(const QNetworkReply& reply, qint64 received)
{
    if (!reply.hasRawHeader("Content-Length"))
        return true;
    const QByteArray lengths = reply.rawHeader("Content-Length");
    bool isNumber = false;
    const qint64 announced = lengths.mid(lengths.lastIndexOf(',') + 1).trimmed().toLongLong(&isNumber);
    return isNumber && announced == received;
}

}  // namespace

// The state of one fetch while it waits: where the body goes, what has arrived and why it
// failed, if it did.
struct HttpTransfer::Run {
    Run(QNetworkReply& reply, QIODevice* sink, qint64 textLimit) : reply(reply), sink(sink), textLimit(textLimit) {}

    QNetworkReply& reply;
    QIODevice* sink;
    qint64 textLimit;
    QEventLoop loop;
    FetchResult result;
    QString failure;

    void Fail(const QString& why)
    {
        if (failure.isEmpty())
            failure = why;
        loop.quit();
    }

    // Hands what has arrived to the sink or the text. An error page is never handed on: the
    // status is known before the first body byte.
    void TakeArrived()
    {
        if (!failure.isEmpty())
            return;
        if (HasStatus(reply) && !IsWholeResource(reply))
            return Fail(u"HTTP status %1"_s.arg(StatusCode(reply)));
        // Asking for exactly what is buffered hands over the block Qt already holds when it is
        // the only one (the usual case, as each arrival is taken at once); readAll() would copy.
        const QByteArray chunk = reply.read(reply.bytesAvailable());
        if (chunk.isEmpty())
            return;
        result.received += chunk.size();
        if (sink) {
            if (sink->write(chunk) != chunk.size())
                Fail(u"write failed: %1"_s.arg(sink->errorString()));
        } else if (result.body.size() + chunk.size() > textLimit) {
            Fail(u"answer larger than %1 bytes"_s.arg(textLimit));
        } else {
            result.body += chunk;
        }
    }

    // Why the finished transfer is not a whole body, or nothing when it is.
    QString Verdict()
    {
        if (!failure.isEmpty())
            return failure;
        if (reply.error() != QNetworkReply::NoError)
            return reply.errorString();
        if (!IsWholeResource(reply))
            return u"HTTP status %1"_s.arg(StatusCode(reply));
        TakeArrived();  // data that arrived together with the end of the transfer
        if (!failure.isEmpty())
            return failure;
        if (!BodyHasAnnouncedLength(reply, result.received))
            return u"body of %1 bytes does not match Content-Length %2"_s.arg(result.received).arg(
                QString::fromLatin1(reply.rawHeader("Content-Length")));
        return {};
    }
};

HttpTransfer::HttpTransfer(QNetworkAccessManager& network, const QString& name, QObject* parent)
    : QObject(parent), m_network(network)
{
    setObjectName(name);
}

HttpTransfer::~HttpTransfer()
{
    Abort();
}

FetchResult HttpTransfer::OpenUrl(const QString& url)
{
    return Fetch(url, nullptr);
}

FetchResult HttpTransfer::OpenUrlInto(const QString& url, QIODevice& sink)
{
    return Fetch(url, &sink);
}

void HttpTransfer::Abort()
{
    if (m_reply) {
        m_abortRequested = true;
        m_reply->abort();
    }
}

FetchResult HttpTransfer::Fetch(const QString& url, QIODevice* sink)
{
    if (m_reply) {
        FetchResult busy;
        busy.error = u"transfer busy"_s;
        return busy;
    }
    m_abortRequested = false;
    QNetworkReply* reply = m_network.get(MakeRequest(url, m_timeout));
    m_reply = reply;
    reply->setReadBufferSize(kReadBufferSize);

    Run run(*reply, sink, m_textLimit);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [&run] { run.TakeArrived(); });
    QObject::connect(reply, &QNetworkReply::finished, &run.loop, &QEventLoop::quit);
    if (!reply->isFinished())
        run.loop.exec();

    // The loop also returns when the application is quitting (a nested loop then ends at
    // once), so without a failure of our own an unfinished reply means the fetch was cut off.
    if (!reply->isFinished() && run.failure.isEmpty())
        m_abortRequested = true;
    FetchResult result = std::move(run.result);
    if (m_abortRequested) {
        result.outcome = FetchResult::Outcome::Cancelled;
        result.error = u"aborted"_s;
    } else {
        result.error = run.Verdict();
        result.outcome = result.error.isEmpty() ? FetchResult::Outcome::Ok : FetchResult::Outcome::Failed;
    }
    if (!result.ok())
        result.body.clear();

    Release(reply);
    QMetaObject::invokeMethod(this, &HttpTransfer::StateChanged, Qt::QueuedConnection);
    return result;
}

void HttpTransfer::Release(QNetworkReply* reply)
{
    m_reply = nullptr;
    reply->disconnect();
    // A reply that already carries an error (an error page still arriving) is stopped by
    // deleting it: aborting it would try to record a second error.
    if (!reply->isFinished() && reply->error() == QNetworkReply::NoError)
        reply->abort();
    // Deleted now, not later: a deferred deletion waits for the outermost event loop, which
    // does not run again while a queue of thousands of files is fetched from inside it.
    delete reply;
}

}  // namespace tarnwick
