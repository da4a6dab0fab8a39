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
#include <set>
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

// A host that has more requests than it takes now: shared hosts and CDNs answer so beyond the
// connections they allow an address.
bool IsBusy(long status) { return status == 503 || status == 429; }

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

std::optional<std::chrono::milliseconds> RetryAfter(QByteArrayView value, const QDateTime& now)
{
    const QByteArray text = value.toByteArray().trimmed();
    bool isNumber = false;
    const qint64 seconds = text.toLongLong(&isNumber);
    if (isNumber)
        return seconds < 0 ? std::nullopt : std::optional(std::chrono::milliseconds(seconds * 1000));
    // An HTTP date is always in GMT, a zone Qt's reader knows only as an offset.
    QString date = QString::fromLatin1(text);
    if (date.endsWith(" GMT"_L1))
        date = date.chopped(3) + "+0000"_L1;
    const QDateTime at = QDateTime::fromString(date, Qt::RFC2822Date);
    if (!at.isValid())
        return std::nullopt;
    return std::chrono::milliseconds(std::max<qint64>(0, now.msecsTo(at)));
}

// The state of one fetch: its request, where the body goes, what the current answer said, what
// has arrived and why it failed, if it did. A redirect's hop is the same fetch.
struct HttpTransfer::Run {
    ~Run();

    std::shared_ptr<Engine> engine;
    CURL* easy = nullptr;
    curl_slist* ranged = nullptr;  // the request's headers with If-Range, for the rest of a resource
    QIODevice* sink = nullptr;
    qint64 textLimit = 0;
    qint64 from = 0;  // above 0: the rest of the resource is asked for
    QByteArray validator;
    QByteArray address;
    int hop = 0;
    std::chrono::milliseconds idleTimeout{0};
    QDeadlineTimer deadline;
    bool ahead = false;        // takes no more than kAheadBody until it is waited for
    bool continuable = false;  // its file may be continued in its turn
    int asks = 1;              // of a busy host, for this fetch
    std::chrono::milliseconds busyWaited{0};
    std::optional<std::chrono::milliseconds> retryAfter;  // of the answer being read
    QTimer again;                                         // a busy host asked again when it runs out
    QEventLoop* waiting = nullptr;
    QTimer idle;
    FetchResult result;
    QString failure;
    QString refused;
    bool aborted = false;
    bool finished = false;
    CURLcode code = CURLE_OK;
    long status = 0;                  // of the answer being read; a redirect's answer is replaced
    std::vector<QByteArray> lengths;  // every Content-Length of that answer
    QByteArray etag, lastModified, contentRange;
    QElapsedTimer sinceBytes;  // or since the request went out
    char error[CURL_ERROR_SIZE] = {};

    bool Stopped() const { return aborted || !failure.isEmpty(); }

    // Why the finished answer is not a whole body, or nothing when it is.
    QString Verdict() const
    {
        if (!refused.isEmpty())
            return refused;
        if (!failure.isEmpty())
            return failure;
        if (code != CURLE_OK)
            return QString::fromUtf8(*error ? error : curl_easy_strerror(code));
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

    FetchResult Outcome()
    {
        FetchResult outcome = std::move(result);
        if (aborted) {
            outcome.outcome = FetchResult::Outcome::Cancelled;
            outcome.error = u"aborted"_s;
        } else {
            outcome.error = Verdict();
            outcome.outcome = outcome.error.isEmpty() ? FetchResult::Outcome::Ok : FetchResult::Outcome::Failed;
        }
        if (!outcome.ok())
            outcome.body.clear();
        return outcome;
    }
};

// libcurl driven from the window's own event loop: its sockets are watched by socket notifiers
// and its time-outs by a timer, so a fetch costs no thread hops and the nested wait behaves like
// any other event-loop wait. One multi handle for all fetches keeps their connections, so a
// connection is reused from one file to the next and up to kMaxInFlight run side by side.
struct HttpTransfer::Engine {
    Engine()
    {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        multi = curl_multi_init();
        curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &Engine::OnSocket);
        curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
        curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &Engine::OnTimer);
        curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
        curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, long(kMaxInFlight));
        curl_multi_setopt(multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, long(kMaxInFlight));
        curl_multi_setopt(multi, CURLMOPT_PIPELINING, long(CURLPIPE_MULTIPLEX));
        curlTimer.setSingleShot(true);
        QObject::connect(&curlTimer, &QTimer::timeout, [this] { Act(CURL_SOCKET_TIMEOUT, 0); });
        // The bytes as the site stores them: no Accept-Encoding but identity, and no decoding,
        // so a .tar.gz a misconfigured server labels as gzip arrives as stored.
        headers = curl_slist_append(headers, "Accept-Encoding: identity");
        // A site reuses its names from release to release: a cache that keeps an answer by
        // heuristic must ask the site again, which still lets it answer from its copy when the
        // site says nothing changed. Pragma is for proxies that speak only HTTP/1.0.
        headers = curl_slist_append(headers, "Cache-Control: no-cache");
        headers = curl_slist_append(headers, "Pragma: no-cache");
    }

    ~Engine()
    {
        curlTimer.stop();
        curl_multi_cleanup(multi);
        curl_slist_free_all(headers);
        curl_global_cleanup();
    }

    void Prepare(Run& run)
    {
        CURL* easy = run.easy = curl_easy_init();
        curl_easy_setopt(easy, CURLOPT_PRIVATE, &run);
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
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, run.error);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Engine::OnBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &run);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Engine::OnHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, &run);
        // The no-bytes clock starts again when the request goes out on its connection.
        curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Engine::OnRequestSent);
        curl_easy_setopt(easy, CURLOPT_PREREQDATA, &run);
        if (!authorities.isEmpty()) {
            curl_easy_setopt(easy, CURLOPT_CAINFO, authorities.constData());
            curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
        }
        QObject::connect(&run.idle, &QTimer::timeout, [this, &run] { CheckIdle(run); });
        run.idle.setSingleShot(true);
        QObject::connect(&run.again, &QTimer::timeout, [this, &run] { Send(run); });
        run.again.setSingleShot(true);
    }

    // Sends the run's request to its current address.
    void Send(Run& run)
    {
        // The rest of a resource only while it is still the one whose start arrived.
        const QByteArray range = run.from > 0 ? QByteArray::number(run.from) + '-' : QByteArray();
        curl_easy_setopt(run.easy, CURLOPT_RANGE, range.isEmpty() ? nullptr : range.constData());
        if (!range.isEmpty() && !run.ranged) {
            run.ranged = curl_slist_append(nullptr, ("If-Range: " + run.validator).constData());
            for (const curl_slist* header = headers; header; header = header->next)
                run.ranged = curl_slist_append(run.ranged, header->data);
            curl_easy_setopt(run.easy, CURLOPT_HTTPHEADER, run.ranged);
        }
        run.error[0] = '\0';
        run.code = CURLE_OK;
        run.status = 0;
        run.lengths.clear();
        curl_easy_setopt(run.easy, CURLOPT_URL, run.address.constData());
        const std::optional<QByteArray> proxy = proxies.For(run.address);
        if (proxy)
            curl_easy_setopt(run.easy, CURLOPT_PROXY, proxy->constData());
        // A fetch waits for a stream on a connection being opened rather than open another where
        // the site may multiplex: over https, reached directly (through a proxy's connection
        // libcurl has been seen to wait for ever).
        curl_easy_setopt(run.easy, CURLOPT_PIPEWAIT,
                         long(HasScheme(run.address, "https") && proxy && proxy->isEmpty()));
        run.sinceBytes.start();
        CheckIdle(run);
        if (!run.finished) {
            active.insert(&run);
            curl_multi_add_handle(multi, run.easy);
        }
    }

    // A host turned a fetch away: from now on fetches ahead leave it as many connections as it
    // was answering then, the one waited for included, and at least that one.
    void Limit(const Run& refused)
    {
        const auto answering = std::count_if(active.begin(), active.end(), [&](const Run* run) {
            return run != &refused && run->status >= 200 && run->status < 300;
        });
        budget = std::max(1, std::min(budget, int(answering)));
        if (refused.retryAfter)
            quietUntil = QDeadlineTimer(std::min(*refused.retryAfter, kBusyWaitMost));
    }

    // A busy host's answer to the fetch waited for: asked again after the wait it names (or a
    // growing one), within the bounds on asks and on the time waited. False: it stays the answer.
    bool AskAgain(Run& run)
    {
        using std::chrono::milliseconds;
        const milliseconds wait = std::min(run.retryAfter.value_or(milliseconds(500 << (run.asks - 1))), kBusyWaitMost);
        if (run.ahead || run.asks >= kBusyAsks || run.busyWaited + wait > kBusyWaitAll ||
            run.deadline.remainingTimeAsDuration() < wait)
            return false;
        ++run.asks;
        run.busyWaited += wait;
        run.idle.stop();
        run.again.start(wait);
        return true;
    }

    // The current answer has ended: a redirect is followed, anything else ends the fetch.
    void EndAnswer(Run& run)
    {
        curl_multi_remove_handle(multi, run.easy);
        active.erase(&run);
        const bool refused = IsBusy(run.status) || (run.ahead && run.code == CURLE_COULDNT_CONNECT);
        if (!run.Stopped() && refused) {
            run.result.leftForTurn = run.ahead;
            Limit(run);
            if (run.code == CURLE_OK && AskAgain(run))
                return;
        }
        if (!run.Stopped() && run.code == CURLE_OK && IsRedirect(run.status)) {
            char* next = nullptr;
            curl_easy_getinfo(run.easy, CURLINFO_REDIRECT_URL, &next);
            const QByteArray target(next ? next : "");
            if (!next)
                run.refused = u"redirect without a location"_s;
            else if (run.hop == kMaxRedirects)
                run.refused = u"more than %1 redirects"_s.arg(kMaxRedirects);
            else if (HasScheme(run.address, "https") && !HasScheme(target, "https"))
                run.refused = u"redirect from https to %1"_s.arg(QString::fromUtf8(target));
            else if (!IsWebAddress(target))
                run.refused = u"not an http or https address: %1"_s.arg(QString::fromUtf8(target));
            if (run.refused.isEmpty()) {
                run.address = target;
                ++run.hop;
                Send(run);
                return;
            }
        }
        Finish(run);
    }

    void Finish(Run& run)
    {
        run.idle.stop();
        run.finished = true;
        if (run.waiting)
            run.waiting->quit();
    }

    // Ends a fetch from outside libcurl's calls: a time-out, an abort, or the fetch's end.
    void Stop(Run& run)
    {
        if (run.finished)
            return;
        run.again.stop();
        curl_multi_remove_handle(multi, run.easy);
        active.erase(&run);
        Finish(run);
    }

    // Fails the run whichever comes first: the time-out without a byte, or the deadline. A fetch
    // ahead that has no answer yet waits a shorter time: the host is taken to hold it back.
    void CheckIdle(Run& run)
    {
        if (run.finished)
            return;
        const bool unanswered = run.ahead && run.status == 0;
        const auto timeout = unanswered ? std::min(run.idleTimeout, kAheadAnswerWait) : run.idleTimeout;
        const auto quiet = std::chrono::milliseconds(run.sinceBytes.elapsed());
        if (quiet >= timeout || run.deadline.hasExpired()) {
            run.failure = quiet >= timeout ? u"no bytes for %1 ms"_s.arg(timeout.count()) : u"deadline passed"_s;
            if (unanswered) {
                run.result.leftForTurn = true;
                Limit(run);
            }
            Stop(run);
            return;
        }
        run.idle.start(std::min(timeout - quiet,
                                std::chrono::ceil<std::chrono::milliseconds>(run.deadline.remainingTimeAsDuration())));
    }

    void Act(curl_socket_t socket, int events)
    {
        int running = 0;
        curl_multi_socket_action(multi, socket, events, &running);
        while (CURLMsg* message = curl_multi_info_read(multi, &running)) {
            Run* run = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &run);
            if (message->msg == CURLMSG_DONE && run && !run->finished) {
                run->code = message->data.result;
                EndAnswer(*run);
            }
        }
    }

    static int OnSocket(CURL*, curl_socket_t socket, int what, void* engine, void* watched)
    {
        auto& self = *static_cast<Engine*>(engine);
        auto* watch = static_cast<Watch*>(watched);
        if (what == CURL_POLL_REMOVE) {
            if (watch) {
                // Deleted later: this may run inside the notifier's own delivery.
                auto found = self.sockets.find(socket);
                if (found != self.sockets.end()) {
                    for (auto* notifier : {found->second->read.release(), found->second->write.release()}) {
                        notifier->setEnabled(false);
                        notifier->deleteLater();
                    }
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

    static int OnRequestSent(void* fetch, char*, char*, int, int)
    {
        static_cast<Run*>(fetch)->sinceBytes.start();
        return CURL_PREREQFUNC_OK;
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* fetch)
    {
        auto* run = static_cast<Run*>(fetch);
        const size_t bytes = size * count;
        if (run->Stopped())
            return 0;
        run->sinceBytes.start();
        const QByteArray line = QByteArray::fromRawData(data, qsizetype(bytes));
        if (line.startsWith("HTTP/")) {  // a new answer: an interim one or a redirect's is replaced
            run->status = line.split(' ').value(1).toLong();
            if (line.startsWith("HTTP/2") || line.startsWith("HTTP/3"))
                run->engine->multiplexed = true;
            run->retryAfter.reset();
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
        } else if (const auto wait = HeaderValue(line, "retry-after")) {
            run->retryAfter = RetryAfter(*wait, QDateTime::currentDateTimeUtc());
        }
        return bytes;
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* fetch)
    {
        auto* run = static_cast<Run*>(fetch);
        const size_t bytes = size * count;
        if (run->Stopped())
            return 0;
        run->sinceBytes.start();
        // Only a 200 is the whole resource: 204 has no body, 206 a piece of one, and the rest of
        // 2xx are not answers to a plain request for a file. A redirect's or a busy host's own
        // page is dropped; any other answer ends the fetch before a byte of it is handed on.
        if (IsRedirect(run->status) || IsBusy(run->status))
            return bytes;
        const RangeAnswer answer = run->from > 0 ? ClassifyRangeAnswer(run->status, run->contentRange, run->from)
                                                 : (run->status == 200 ? RangeAnswer::Whole : RangeAnswer::Refused);
        if (answer != (run->from > 0 ? RangeAnswer::Rest : RangeAnswer::Whole)) {
            run->result.wholeInstead = answer == RangeAnswer::Whole;
            run->failure = u"HTTP status %1"_s.arg(run->status);
            return 0;
        }
        // The answer is taken: what would continue it. If-Range takes only a strong tag; a weak
        // one says nothing about the bytes.
        if (run->result.received == 0)
            run->result.validator = run->etag.isEmpty() || run->etag.startsWith("W/") ? run->lastModified : run->etag;
        // Ahead of its turn a body is taken up to its share and then left to its turn, which
        // continues it; a large one that could not be continued is left whole at once.
        if (run->ahead && run->sink) {
            const bool continuable = run->continuable && run->result.rangesServed && !run->result.validator.isEmpty();
            const bool large = run->lengths.empty() || run->lengths.front().trimmed().toLongLong() > kAheadBody;
            if (run->result.received + qint64(bytes) > kAheadBody || (run->result.received == 0 && large && !continuable)) {
                run->failure = u"left for its turn after %1 bytes"_s.arg(run->result.received);
                run->result.leftForTurn = true;
                return 0;
            }
        }
        run->result.received += qint64(bytes);
        if (run->sink) {
            if (run->sink->write(data, qint64(bytes)) != qint64(bytes)) {
                run->failure = u"write failed: %1"_s.arg(run->sink->errorString());
                return 0;
            }
        } else if (run->result.body.size() + qint64(bytes) > run->textLimit) {
            run->failure = u"answer larger than %1 bytes"_s.arg(run->textLimit);
            return 0;
        } else {
            run->result.body.append(data, qsizetype(bytes));
        }
        return bytes;
    }

    CURLM* multi = nullptr;
    curl_slist* headers = nullptr;
    QByteArray authorities;
    QTimer curlTimer;
    std::map<curl_socket_t, std::unique_ptr<Watch>> sockets;
    SystemProxy proxies;
    std::set<const Run*> active;  // on the wire, each holding a connection (or an HTTP/2 stream)
    int budget = kMaxInFlight;    // see kMaxInFlight
    bool multiplexed = false;     // the site answered over HTTP/2: streams, not connections
    QDeadlineTimer quietUntil;    // no fetch ahead starts before a busy host's Retry-After
};

HttpTransfer::Run::~Run()
{
    if (engine)
        engine->Stop(*this);
    curl_easy_cleanup(easy);
    curl_slist_free_all(ranged);
}

HttpTransfer::HttpTransfer(const QString& name, QObject* parent) : QObject(parent), m_engine(std::make_shared<Engine>())
{
    setObjectName(name);
}

HttpTransfer::~HttpTransfer()
{
    Abort();
    m_ahead.clear();
}

void HttpTransfer::ShareConnectionsWith(HttpTransfer& other) { m_engine = other.m_engine; }

void HttpTransfer::SetAuthorities(const QString& pemFile) { m_engine->authorities = pemFile.toLocal8Bit(); }

void HttpTransfer::SetDeadline(QDeadlineTimer deadline) { m_deadline = deadline; }

FetchResult HttpTransfer::OpenUrl(const QString& url) { return Fetch(url, nullptr, 0, {}); }

FetchResult HttpTransfer::OpenUrlInto(const QString& url, QIODevice& sink, qint64 from, const QByteArray& validator)
{
    return Fetch(url, &sink, from, validator);
}

void HttpTransfer::Abort()
{
    const auto abort = [this](Run* run) {
        if (run && !run->finished) {
            run->aborted = true;
            m_engine->Stop(*run);
        }
    };
    abort(m_waited);
    for (auto& [number, run] : m_ahead)
        abort(run.get());
}

void HttpTransfer::Begin(Run& run, const QString& url, QIODevice* sink, qint64 from, const QByteArray& validator)
{
    run.engine = m_engine;
    run.sink = sink;
    run.textLimit = m_textLimit;
    run.from = from;
    run.validator = validator;
    run.idleTimeout = m_timeout;
    run.deadline = m_deadline;
    run.address = RequestUrl(url);
    m_engine->Prepare(run);
    if (!IsWebAddress(run.address)) {
        run.refused = u"not an http or https address: %1"_s.arg(QString::fromUtf8(run.address));
        run.finished = true;
    } else {
        m_engine->Send(run);
    }
}

FetchResult HttpTransfer::Wait(std::unique_ptr<Run> run)
{
    m_running = true;
    m_waited = run.get();
    if (!run->finished) {
        QEventLoop loop;
        run->waiting = &loop;
        loop.exec();
        run->waiting = nullptr;
        // The loop also returns when the application is quitting (a nested loop then ends at
        // once), so without an end of its own the fetch was cut off.
        if (!run->finished) {
            run->aborted = true;
            m_engine->Stop(*run);
        }
    }
    FetchResult result = run->Outcome();
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
    auto run = std::make_unique<Run>();
    Begin(*run, url, sink, from, validator);
    return Wait(std::move(run));
}

bool HttpTransfer::AheadRoom(int turn) const
{
    if (!m_engine->quietUntil.hasExpired())
        return false;
    int running = 0;
    bool turnRunning = false;
    qint64 held = kAheadBody;
    for (const auto& [number, run] : m_ahead) {
        running += !run->finished;
        turnRunning = turnRunning || (number == turn && !run->finished);
        held += run->finished ? std::max(run->result.received, kAheadBlock) : kAheadBody;
    }
    if (held > kAheadBytes)
        return false;
    // The connection of the file whose turn it is: its own fetch ahead's, or one kept free.
    return m_engine->multiplexed ? running < kMaxStreamsAhead : running + (turnRunning ? 0 : 1) < m_engine->budget;
}

int HttpTransfer::StartAhead(const QString& url, QIODevice& sink, bool continuable)
{
    auto run = std::make_unique<Run>();
    run->ahead = true;
    run->continuable = continuable;
    Begin(*run, url, &sink, 0, {});
    m_ahead.emplace(m_nextAhead, std::move(run));
    return m_nextAhead++;
}

int HttpTransfer::AheadInFlight() const { return int(m_ahead.size()); }

FetchResult HttpTransfer::WaitAhead(int number)
{
    const auto found = m_ahead.find(number);
    if (m_running || found == m_ahead.end()) {
        FetchResult none;
        none.error = m_running ? u"transfer busy"_s : u"no such fetch"_s;
        return none;
    }
    std::unique_ptr<Run> run = std::move(found->second);
    m_ahead.erase(found);
    run->ahead = false;
    return Wait(std::move(run));
}

void HttpTransfer::DropAhead(int number) { m_ahead.erase(number); }

}  // namespace tarnwick
