#include "platform/HttpTransfer.h"

#include <QEventLoop>
#include <QIODevice>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace tarnwick {
namespace {

constexpr int kMaxRedirects = 10;
// Bounds what Qt buffers for us between two readyRead deliveries.
constexpr qint64 kReadBufferSize = 1024 * 1024;

bool IsSuccessStatus(const QNetworkReply& reply)
{
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return reply.url().scheme().compare(QStringLiteral("http"), Qt::CaseInsensitive) != 0 &&
               reply.url().scheme().compare(QStringLiteral("https"), Qt::CaseInsensitive) != 0;
    const int code = status.toInt();
    return code >= 200 && code < 300;
}

bool HasStatus(const QNetworkReply& reply)
{
    return reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
}

// A body must be exactly as long as its answer announced. Qt reads up to the first of several
// lengths in one answer and reports success, which would cut a file short. Qt also keeps the
// length of a redirect answer it followed in front of the final one ("0, 56"), so the final
// answer's length is the last one given. A body Qt unpacked carries no length and is not counted.
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
    FetchResult result;
    if (m_reply) {
        result.error = QStringLiteral("transfer busy");
        return result;
    }

    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    request.setTransferTimeout(static_cast<int>(m_timeout.count()));
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("TarnwickUpdater/0.2"));

    m_abortRequested = false;
    QNetworkReply* reply = m_network.get(request);
    m_reply = reply;
    reply->setReadBufferSize(kReadBufferSize);

    // A failure found while reading ends the wait at once; the reply is stopped below.
    QEventLoop loop;
    QString failure;
    qint64 received = 0;
    auto failWith = [&](const QString& why) {
        if (failure.isEmpty())
            failure = why;
        loop.quit();
    };

    // Bytes are taken as they arrive so that nothing but one chunk is ever held, and an error
    // page is never handed on: the status is known before the first body byte.
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] {
        if (!failure.isEmpty())
            return;
        if (HasStatus(*reply) && !IsSuccessStatus(*reply)) {
            failWith(QStringLiteral("HTTP status %1")
                         .arg(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt()));
            return;
        }
        // Asking for exactly what is buffered hands over the block Qt already holds when it is
        // the only one (the usual case, as each arrival is taken at once); readAll() would
        // allocate a new array and copy every byte of the body once more.
        const QByteArray chunk = reply->read(reply->bytesAvailable());
        received += chunk.size();
        if (sink) {
            if (sink->write(chunk) != chunk.size())
                failWith(QStringLiteral("write failed: %1").arg(sink->errorString()));
        } else if (result.body.size() + chunk.size() > m_textLimit) {
            failWith(QStringLiteral("answer larger than %1 bytes").arg(m_textLimit));
        } else {
            result.body += chunk;
        }
    });

    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();

    // The loop also returns when the application is quitting (a nested loop then ends at
    // once), so without a failure of our own an unfinished reply means the fetch was cut off.
    if (!reply->isFinished() && failure.isEmpty())
        m_abortRequested = true;
    if (m_abortRequested) {
        result.outcome = FetchResult::Outcome::Cancelled;
        result.error = QStringLiteral("aborted");
    } else if (!failure.isEmpty()) {
        result.error = failure;
    } else if (reply->error() != QNetworkReply::NoError) {
        result.error = reply->errorString();
    } else if (!IsSuccessStatus(*reply)) {
        result.error = QStringLiteral("HTTP status %1")
                           .arg(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt());
    } else {
        if (reply->bytesAvailable() > 0) {
            // Data that arrived together with the end of the transfer.
            const QByteArray rest = reply->read(reply->bytesAvailable());
            received += rest.size();
            if (sink ? sink->write(rest) != rest.size()
                     : result.body.size() + rest.size() > m_textLimit)
                result.error = QStringLiteral("final chunk refused");
            else if (!sink)
                result.body += rest;
        }
        if (result.error.isEmpty() && !BodyHasAnnouncedLength(*reply, received))
            result.error = QStringLiteral("body of %1 bytes does not match Content-Length %2")
                               .arg(received)
                               .arg(QString::fromLatin1(reply->rawHeader("Content-Length")));
        if (result.error.isEmpty())
            result.outcome = FetchResult::Outcome::Ok;
    }
    if (!result.ok())
        result.body.clear();

    reply->disconnect();
    // A reply that already carries an error (an error page still arriving) is stopped by
    // deleting it: aborting it would try to record a second error.
    if (!reply->isFinished() && reply->error() == QNetworkReply::NoError)
        reply->abort();
    reply->deleteLater();
    m_reply = nullptr;
    QMetaObject::invokeMethod(this, &HttpTransfer::StateChanged, Qt::QueuedConnection);
    return result;
}

}  // namespace tarnwick
