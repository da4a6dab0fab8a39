#include "platform/HttpTransfer.h"

#include "platform/SystemProxy.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QIODevice>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace tarnwick {
namespace {

constexpr int kMaxRedirects = 10;
// What libcurl hands over per call: large enough that a fast download costs few calls, small
// enough that memory stays bounded whatever the body's size.
constexpr long kReceiveBuffer = 256 * 1024;

// The updater's addresses are paths on the site: a "#" or "?" in them belongs to a version or
// file name and must not start a fragment or a query, which would fetch another resource.
// Everything else, "%" escapes included, is sent as written.
QByteArray RequestUrl(const QString& address)
{
    QString path = address;
    path.replace(u'#', "%23"_L1).replace(u'?', "%3F"_L1);
    return QUrl(path, QUrl::TolerantMode).toEncoded();
}

bool HasScheme(const QByteArray& url, const char* scheme)
{
    const int colon = url.indexOf(':');
    return colon > 0 && url.left(colon).compare(scheme, Qt::CaseInsensitive) == 0;
}

bool IsWebAddress(const QByteArray& url) { return HasScheme(url, "http") || HasScheme(url, "https"); }

bool IsRedirect(long status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// A header line's value when the line names this header (in any letter case), or nothing.
std::optional<QByteArray> HeaderValue(const QByteArray& line, QByteArrayView name)
{
    if (line.size() <= name.size() || line[name.size()] != ':' ||
        line.first(name.size()).compare(name, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    return line.mid(name.size() + 1).trimmed();
}

// One socket libcurl asked to have watched, and the two notifiers that watch it.
struct Watch {
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
};

}  // namespace

RangeAnswer ClassifyRangeAnswer(long status, QByteArrayView contentRange, qint64 from)
{
    if (status == 200)
        return RangeAnswer::Whole;
    // "bytes <first>-<last>/<size or *>": exactly the rest, from `from` to the last byte.
    const QList<QByteArray> parts = contentRange.toByteArray().trimmed().split(' ');
    if (status != 206 || parts.size() != 2 || parts[0].compare("bytes", Qt::CaseInsensitive) != 0)
        return RangeAnswer::Refused;
    const QList<QByteArray> span = parts[1].split('/');
    const QList<QByteArray> ends = span.value(0).split('-');
    bool firstOk = false, lastOk = false, sizeOk = false;
    const qint64 first = ends.value(0).toLongLong(&firstOk), last = ends.value(1).toLongLong(&lastOk);
    const qint64 size = span.value(1).toLongLong(&sizeOk);
    const bool toTheEnd = span.value(1) == "*" || (sizeOk && last == size - 1);
    return span.size() == 2 && ends.size() == 2 && firstOk && lastOk && first == from && last >= first && toTheEnd
               ? RangeAnswer::Rest
               : RangeAnswer::Refused;
}

// The state of one fetch while it waits: where the body goes, what the current answer said,
// what has arrived and why it failed, if it did.
struct HttpTransfer::Run {
    QIODevice* sink = nullptr;
    qint64 textLimit = 0;
    qint64 from = 0;  // above 0: the rest of the resource is asked for
    QEventLoop loop;
    FetchResult result;
    QString failure;
    bool aborted = false;
    bool done = false;
    CURLcode code = CURLE_OK;
    long status = 0;                  // of the answer being read; a redirect's answer is replaced
    std::vector<QByteArray> lengths;  // every Content-Length of that answer
    QByteArray etag, lastModified, contentRange;
    QElapsedTimer sinceBytes;

    void Fail(const QString& why)
    {
        if (failure.isEmpty())
            failure = why;
        loop.quit();
    }

    bool Stopped() const { return aborted || !failure.isEmpty(); }

    // Why the finished answer is not a whole body, or nothing when it is.
    QString Verdict(const char* curlError) const
    {
        if (!failure.isEmpty())
            return failure;
        if (code != CURLE_OK)
            return QString::fromUtf8(*curlError ? curlError : curl_easy_strerror(code));
        if (status != (from > 0 ? 206 : 200))
            return u"HTTP status %1"_s.arg(status);
        // A body must be exactly as long as its answer announced; an answer announcing two
        // lengths may have been cut at the first.
        std::vector<qint64> announced;
        for (const QByteArray& length : lengths) {
            bool isNumber = false;
            const qint64 value = length.trimmed().toLongLong(&isNumber);
            if (!isNumber)
                return u"Content-Length %1 is not a number"_s.arg(QString::fromLatin1(length));
            if (std::find(announced.begin(), announced.end(), value) == announced.end())
                announced.push_back(value);
        }
        if (announced.size() > 1)
            return u"answer announces several lengths"_s;
        if (announced.size() == 1 && announced.front() != result.received)
            return u"body of %1 bytes does not match Content-Length %2"_s.arg(result.received).arg(announced.front());
        return {};
    }
};

// libcurl driven from the window's own event loop: its sockets are watched by socket notifiers
// and its time-outs by a timer, so a fetch costs no thread hops and the nested wait behaves
// like any other event-loop wait. One easy handle is kept for the transfer's life, so its
// connection is reused from one file to the next.
struct HttpTransfer::Engine {
    Engine()
    {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        multi = curl_multi_init();
        easy = curl_easy_init();
        curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &Engine::OnSocket);
        curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
        curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &Engine::OnTimer);
        curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
        curlTimer.setSingleShot(true);
        QObject::connect(&curlTimer, &QTimer::timeout, [this] { Act(CURL_SOCKET_TIMEOUT, 0); });
        idleTimer.setSingleShot(true);
        QObject::connect(&idleTimer, &QTimer::timeout, [this] { CheckIdle(); });

        // The bytes as the site stores them: no Accept-Encoding but identity, and no decoding,
        // so a .tar.gz a misconfigured server labels as gzip arrives as stored.
        headers = curl_slist_append(headers, "Accept-Encoding: identity");
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
        curl_easy_setopt(easy, CURLOPT_USERAGENT, "TarnwickUpdater/0.2");
        // Redirects are followed here, not by libcurl, so that each hop is checked (no https to
        // http) and gets the proxy the system names for it.
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        // A name lookup runs on a thread of libcurl's own, which ending a transfer would wait
        // for: a name server that never answers would hold the start-up limit and Cancel until
        // the lookup's own time-out. The lookup is left to end by itself instead.
        curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBuffer);
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Engine::OnBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Engine::OnHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    }

    ~Engine()
    {
        curlTimer.stop();
        idleTimer.stop();
        curl_multi_remove_handle(multi, easy);
        curl_easy_cleanup(easy);
        curl_multi_cleanup(multi);
        curl_slist_free_all(headers);
        curl_global_cleanup();
    }

    // Runs one request to its end (or its abort) inside a nested event loop.
    void Perform(const QByteArray& url, std::chrono::milliseconds timeout, const QByteArray& validator)
    {
        // The rest of a resource only while it is still the one whose start arrived.
        const QByteArray range = run->from > 0 ? QByteArray::number(run->from) + '-' : QByteArray();
        curl_easy_setopt(easy, CURLOPT_RANGE, range.isEmpty() ? nullptr : range.constData());
        curl_slist* ranged =
            range.isEmpty() ? nullptr : curl_slist_append(nullptr, ("If-Range: " + validator).constData());
        for (const curl_slist* header = headers; ranged && header; header = header->next)
            ranged = curl_slist_append(ranged, header->data);
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, ranged ? ranged : headers);
        retired.clear();  // no notifier of this engine is delivering now
        error[0] = '\0';
        run->done = false;
        run->code = CURLE_OK;
        run->status = 0;
        run->lengths.clear();
        curl_easy_setopt(easy, CURLOPT_URL, url.constData());
        if (const std::optional<QByteArray> proxy = proxies.For(url))
            curl_easy_setopt(easy, CURLOPT_PROXY, proxy->constData());
        idleTimeout = timeout;
        run->sinceBytes.start();
        CheckIdle();
        if (!run->Stopped())
            curl_multi_add_handle(multi, easy);
        if (!run->done && !run->Stopped())
            run->loop.exec();
        idleTimer.stop();
        curl_multi_remove_handle(multi, easy);
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
        curl_slist_free_all(ranged);
    }

    // Waits for whichever comes first: the time-out without a byte, or the deadline.
    void CheckIdle()
    {
        if (!run)
            return;
        const auto quiet = std::chrono::milliseconds(run->sinceBytes.elapsed());
        if (quiet >= idleTimeout)
            run->Fail(u"no bytes for %1 ms"_s.arg(idleTimeout.count()));
        else if (deadline.hasExpired())
            run->Fail(u"deadline passed"_s);
        else
            idleTimer.start(std::min(idleTimeout - quiet,
                                     std::chrono::ceil<std::chrono::milliseconds>(deadline.remainingTimeAsDuration())));
    }

    void Act(curl_socket_t socket, int events)
    {
        int running = 0;
        curl_multi_socket_action(multi, socket, events, &running);
        while (CURLMsg* message = curl_multi_info_read(multi, &running)) {
            if (message->msg == CURLMSG_DONE && run) {
                run->code = message->data.result;
                run->done = true;
                run->loop.quit();
            }
        }
    }

    static int OnSocket(CURL*, curl_socket_t socket, int what, void* engine, void* watched)
    {
        auto& self = *static_cast<Engine*>(engine);
        auto* watch = static_cast<Watch*>(watched);
        if (what == CURL_POLL_REMOVE) {
            if (watch) {
                // Disabled now, deleted at the next fetch: this may run inside the notifier's
                // own delivery.
                watch->read->setEnabled(false);
                watch->write->setEnabled(false);
                auto found = self.sockets.find(socket);
                if (found != self.sockets.end()) {
                    self.retired.push_back(std::move(found->second));
                    self.sockets.erase(found);
                }
                curl_multi_assign(self.multi, socket, nullptr);
            }
            return 0;
        }
        if (!watch) {
            auto made = std::make_unique<Watch>();
            made->read = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Read);
            made->write = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Write);
            QObject::connect(made->read.get(), &QSocketNotifier::activated,
                             [&self, socket] { self.Act(socket, CURL_CSELECT_IN); });
            QObject::connect(made->write.get(), &QSocketNotifier::activated,
                             [&self, socket] { self.Act(socket, CURL_CSELECT_OUT); });
            watch = made.get();
            self.sockets[socket] = std::move(made);
            curl_multi_assign(self.multi, socket, watch);
        }
        watch->read->setEnabled(what & CURL_POLL_IN);
        watch->write->setEnabled(what & CURL_POLL_OUT);
        return 0;
    }

    static int OnTimer(CURLM*, long ms, void* engine)
    {
        auto& self = *static_cast<Engine*>(engine);
        if (ms < 0)
            self.curlTimer.stop();
        else
            self.curlTimer.start(std::chrono::milliseconds(ms));
        return 0;
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* engine)
    {
        Run* run = static_cast<Engine*>(engine)->run;
        const size_t bytes = size * count;
        if (!run || run->Stopped())
            return 0;
        run->sinceBytes.start();
        const QByteArray line = QByteArray::fromRawData(data, qsizetype(bytes));
        if (line.startsWith("HTTP/")) {  // a new answer: an interim one or a redirect's is replaced
            run->status = line.split(' ').value(1).toLong();
            run->lengths.clear();
            run->etag = run->lastModified = run->contentRange = {};
            run->result.rangesServed = false;
        } else if (const auto length = HeaderValue(line, "content-length")) {
            run->lengths.push_back(*length);
        } else if (const auto etag = HeaderValue(line, "etag")) {
            run->etag = *etag;
        } else if (const auto modified = HeaderValue(line, "last-modified")) {
            run->lastModified = *modified;
        } else if (const auto range = HeaderValue(line, "content-range")) {
            run->contentRange = *range;
        } else if (const auto ranges = HeaderValue(line, "accept-ranges")) {
            run->result.rangesServed = ranges->compare("bytes", Qt::CaseInsensitive) == 0;
        }
        return bytes;
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* engine)
    {
        Run* run = static_cast<Engine*>(engine)->run;
        const size_t bytes = size * count;
        if (!run || run->Stopped())
            return 0;
        run->sinceBytes.start();
        // Only a 200 is the whole resource: 204 has no body, 206 a piece of one, and the rest of
        // 2xx are not answers to a plain request for a file. A redirect's own page is dropped;
        // any other answer ends the fetch before a byte of it is handed on.
        if (IsRedirect(run->status))
            return bytes;
        const RangeAnswer answer = run->from > 0 ? ClassifyRangeAnswer(run->status, run->contentRange, run->from)
                                                 : (run->status == 200 ? RangeAnswer::Whole : RangeAnswer::Refused);
        if (answer != (run->from > 0 ? RangeAnswer::Rest : RangeAnswer::Whole)) {
            run->result.wholeInstead = answer == RangeAnswer::Whole;
            run->Fail(u"HTTP status %1"_s.arg(run->status));
            return 0;
        }
        // The answer is taken: what would continue it. If-Range takes only a strong tag; a weak
        // one says nothing about the bytes.
        if (run->result.received == 0)
            run->result.validator = run->etag.isEmpty() || run->etag.startsWith("W/") ? run->lastModified : run->etag;
        run->result.received += qint64(bytes);
        if (run->sink) {
            if (run->sink->write(data, qint64(bytes)) != qint64(bytes)) {
                run->Fail(u"write failed: %1"_s.arg(run->sink->errorString()));
                return 0;
            }
        } else if (run->result.body.size() + qint64(bytes) > run->textLimit) {
            run->Fail(u"answer larger than %1 bytes"_s.arg(run->textLimit));
            return 0;
        } else {
            run->result.body.append(data, qsizetype(bytes));
        }
        return bytes;
    }

    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    char error[CURL_ERROR_SIZE] = {};
    QTimer curlTimer;
    QTimer idleTimer;
    std::chrono::milliseconds idleTimeout{0};
    QDeadlineTimer deadline{QDeadlineTimer::Forever};
    std::map<curl_socket_t, std::unique_ptr<Watch>> sockets;
    std::vector<std::unique_ptr<Watch>> retired;
    SystemProxy proxies;
    Run* run = nullptr;
};

HttpTransfer::HttpTransfer(const QString& name, QObject* parent) : QObject(parent), m_engine(std::make_unique<Engine>())
{
    setObjectName(name);
}

HttpTransfer::~HttpTransfer() { Abort(); }

void HttpTransfer::SetAuthorities(const QString& pemFile)
{
    const QByteArray path = pemFile.toLocal8Bit();
    curl_easy_setopt(m_engine->easy, CURLOPT_CAINFO, path.constData());
    curl_easy_setopt(m_engine->easy, CURLOPT_CAPATH, nullptr);
}

void HttpTransfer::SetDeadline(QDeadlineTimer deadline) { m_engine->deadline = deadline; }

FetchResult HttpTransfer::OpenUrl(const QString& url) { return Fetch(url, nullptr, 0, {}); }

FetchResult HttpTransfer::OpenUrlInto(const QString& url, QIODevice& sink, qint64 from, const QByteArray& validator)
{
    return Fetch(url, &sink, from, validator);
}

void HttpTransfer::Abort()
{
    if (Run* run = m_engine->run) {
        run->aborted = true;
        run->loop.quit();
    }
}

FetchResult HttpTransfer::Fetch(const QString& url, QIODevice* sink, qint64 from, const QByteArray& validator)
{
    if (m_running) {
        FetchResult busy;
        busy.error = u"transfer busy"_s;
        return busy;
    }
    m_running = true;
    Run run;
    run.sink = sink;
    run.textLimit = m_textLimit;
    run.from = from;
    m_engine->run = &run;

    QByteArray address = RequestUrl(url);
    QString refused;
    for (int hop = 0;; ++hop) {
        if (!IsWebAddress(address)) {
            refused = u"not an http or https address: %1"_s.arg(QString::fromUtf8(address));
            break;
        }
        m_engine->Perform(address, m_timeout, validator);
        // The loop also returns when the application is quitting (a nested loop then ends at
        // once), so without an end of our own the fetch was cut off.
        if (!run.done && run.failure.isEmpty())
            run.aborted = true;
        if (run.Stopped() || run.code != CURLE_OK || !IsRedirect(run.status))
            break;
        char* next = nullptr;
        curl_easy_getinfo(m_engine->easy, CURLINFO_REDIRECT_URL, &next);
        if (!next) {
            refused = u"redirect without a location"_s;
            break;
        }
        if (hop == kMaxRedirects) {
            refused = u"more than %1 redirects"_s.arg(kMaxRedirects);
            break;
        }
        const QByteArray target(next);
        if (HasScheme(address, "https") && !HasScheme(target, "https")) {
            refused = u"redirect from https to %1"_s.arg(QString::fromUtf8(target));
            break;
        }
        address = target;
    }
    m_engine->run = nullptr;

    FetchResult result = std::move(run.result);
    if (run.aborted) {
        result.outcome = FetchResult::Outcome::Cancelled;
        result.error = u"aborted"_s;
    } else {
        result.error = refused.isEmpty() ? run.Verdict(m_engine->error) : refused;
        result.outcome = result.error.isEmpty() ? FetchResult::Outcome::Ok : FetchResult::Outcome::Failed;
    }
    if (!result.ok())
        result.body.clear();
    m_running = false;
    QMetaObject::invokeMethod(this, &HttpTransfer::StateChanged, Qt::QueuedConnection);
    return result;
}

}  // namespace tarnwick
