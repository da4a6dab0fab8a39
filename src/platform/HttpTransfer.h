// HTTP fetches that wait while the event loop keeps running (timers, clicks and queued
// notifications are delivered during the wait): one waited for at a time, and beside it fetches
// started ahead, which run while anything else waits and are waited for in their turn. The
// window owns two transfers, one for the manifest and one for the update's files, that share
// their connections.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QObject>
#include <QString>

#include <chrono>
#include <map>
#include <memory>
#include <optional>

class QIODevice;

namespace tarnwick {

struct FetchResult {
    enum class Outcome { Ok, Failed, Cancelled };
    Outcome outcome = Outcome::Failed;
    QByteArray body;      // only for text fetches; a streamed fetch writes to its sink instead
    qint64 received = 0;  // body bytes that arrived, handed to the sink or the text
    QString error;        // why it failed, for tests and debugging; never shown to the user
    // What a broken transfer needs to be continued: the answer's strong ETag (or else
    // Last-Modified), and whether the site serves byte ranges.
    QByteArray validator;
    bool rangesServed = false;
    bool wholeInstead = false;  // asked for the rest, the site sent the whole resource (it changed)
    // Ended ahead of its turn by what only a fetch ahead meets: taken up to its share, or turned
    // away by a host that limits connections (503, 429, refused, unanswered). Its turn takes it up.
    bool leftForTurn = false;

    bool ok() const { return outcome == Outcome::Ok; }
    bool cancelled() const { return outcome == Outcome::Cancelled; }
};

// How an answer to a request for the rest of a resource, from byte `from` on, is taken: its rest
// (206 for exactly that range, to the end), the whole resource again (200: it changed since),
// or neither.
enum class RangeAnswer { Rest, Whole, Refused };
RangeAnswer ClassifyRangeAnswer(long status, QByteArrayView contentRange, qint64 from);

// How long a Retry-After value (seconds, or an HTTP date) asks to wait from `now`; nothing when
// it is neither, zero for a time already past.
std::optional<std::chrono::milliseconds> RetryAfter(QByteArrayView value, const QDateTime& now);

class HttpTransfer : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{60'000};
    // A manifest is a few lines; a larger answer is a broken or hostile site.
    static constexpr qint64 kDefaultTextLimit = 4 * 1024 * 1024;
    // The connection budget. Connections at once to a site over HTTP/1.1, the fetch waited for
    // included: fetches ahead never take the last one, so the file whose turn it is is on the
    // wire at once and its no-bytes clock never runs while it waits for a connection. A host
    // that turns a fetch away (503, 429, a refused or unanswered connection) lowers the budget
    // for the rest of the run to the connections it was answering at that moment.
    static constexpr int kMaxInFlight = 8;
    // Where the site multiplexes streams on one connection (HTTP/2) connections cost nothing:
    // fetches ahead are bounded by the bytes they hold (kAheadBytes) and by this many streams.
    static constexpr int kMaxStreamsAhead = 64;
    // What a fetch started ahead takes of its body: then it ends, giving its connection back,
    // and its file is continued (or fetched from the start) in its turn. A large file ahead
    // holds no more than this, and never a connection it does not use.
    static constexpr qint64 kAheadBody = 1024 * 1024;
    // The bytes all fetches ahead may hold until they are waited for, counting each running
    // one at its share and each ended one at what it took (a small body's first block at least).
    static constexpr qint64 kAheadBytes = 8 * 1024 * 1024;
    static constexpr qint64 kAheadBlock = 64 * 1024;
    // A fetch ahead whose request has no answer for this long is taken for one the host does
    // not accept now: it ends, and its file waits for its turn.
    static constexpr std::chrono::milliseconds kAheadAnswerWait{5000};
    // A fetch waited for that a busy host answers with 503 or 429 is asked again, at most this
    // many times in all, waiting Retry-After (at most kBusyWaitMost) or else 0.5 s, 1 s, 2 s ...
    // between them, and never more than kBusyWaitAll in all; then it fails as any answer does.
    static constexpr int kBusyAsks = 5;
    static constexpr std::chrono::milliseconds kBusyWaitMost{10'000}, kBusyWaitAll{20'000};

    explicit HttpTransfer(const QString& name, QObject* parent = nullptr);
    ~HttpTransfer() override;

    // From now on fetches go over the same connections as other's (one handshake with a site
    // for both); before any fetch of either.
    void ShareConnectionsWith(HttpTransfer& other);

    // Inactivity time-out: the transfer fails when no bytes move for this long.
    void SetRequestTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }
    // Every fetch fails once this has passed, however steadily bytes arrive; Forever lifts it.
    void SetDeadline(QDeadlineTimer deadline);
    void SetTextLimit(qint64 bytes) { m_textLimit = bytes; }
    // HTTPS certificates are checked against the system's authorities; these (a PEM file)
    // replace them, for a site signed by an authority of its own such as a test's.
    void SetAuthorities(const QString& pemFile);

    bool StillExecuting() const { return m_running; }

    // The whole body, at most the text limit. Fails on any transfer error, a status other
    // than 200 after redirects, or a body over the limit. "#" and "?" in url are part of the
    // path, never a fragment or a query; the body is asked for as the site stores it.
    FetchResult OpenUrl(const QString& url);

    // Streams the body into sink as it arrives; fails also when the sink refuses a write. With
    // `from` above 0, asks for the rest from there, only if the resource still has `validator`.
    FetchResult OpenUrlInto(const QString& url, QIODevice& sink, qint64 from = 0, const QByteArray& validator = {});

    // Whether another fetch ahead fits the budget now; turn: the number of the fetch ahead that
    // the file whose turn it is waits for, or -1 (it then needs a connection of its own).
    bool AheadRoom(int turn) const;
    // Starts streaming url into sink without waiting; the sink must outlive the fetch until it
    // is waited for or dropped. continuable: its file may be continued in its turn (a large
    // body ahead is then taken up to its share; else it is left whole for its turn). Returns
    // its number.
    int StartAhead(const QString& url, QIODevice& sink, bool continuable);
    int AheadInFlight() const;  // started ahead, neither waited for nor dropped yet
    // Waits for a fetch started ahead as OpenUrlInto waits (the transfer is busy meanwhile) and
    // gives its result; its number is then free.
    FetchResult WaitAhead(int number);
    // Ends a fetch started ahead without waiting for it; nothing more reaches its sink.
    void DropAhead(int number);

    // Ends every running fetch at once, those started ahead too; a waiting call returns
    // Cancelled.
    void Abort();

signals:
    // Posted through the event loop after every transfer that ended.
    void StateChanged();

private:
    struct Engine;
    struct Run;
    void Begin(Run& run, const QString& url, QIODevice* sink, qint64 from, const QByteArray& validator);
    // Waits for run as the one fetch waited for; the transfer is busy meanwhile.
    FetchResult Wait(std::unique_ptr<Run> run);
    FetchResult Fetch(const QString& url, QIODevice* sink, qint64 from, const QByteArray& validator);

    std::shared_ptr<Engine> m_engine;
    std::chrono::milliseconds m_timeout = kDefaultTimeout;
    QDeadlineTimer m_deadline{QDeadlineTimer::Forever};
    qint64 m_textLimit = kDefaultTextLimit;
    bool m_running = false;
    Run* m_waited = nullptr;
    std::map<int, std::unique_ptr<Run>> m_ahead;
    int m_nextAhead = 0;
};

}  // namespace tarnwick
