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
#include <memory>
#include <set>

class QIODevice;

namespace tarnwick {

class HttpRequest;
struct HttpSite;

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

class HttpTransfer : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{60'000};
    // A manifest is a few lines; a larger answer is a broken or hostile site.
    static constexpr qint64 kDefaultTextLimit = 4 * 1024 * 1024;
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

    // A fetch started ahead, until it is waited for; dropping it ends the fetch, and nothing more
    // reaches its sink. The sink must outlive it.
    class Ahead {
    public:
        Ahead();
        Ahead(Ahead&& other) noexcept;
        Ahead& operator=(Ahead&& other) noexcept;
        ~Ahead();
        explicit operator bool() const { return m_request != nullptr; }

    private:
        friend class HttpTransfer;
        HttpTransfer* m_transfer = nullptr;
        std::unique_ptr<HttpRequest> m_request;
    };

    // Whether another fetch ahead fits the connection budget now; turn: the fetch ahead that the
    // file whose turn it is waits for, if any (else it needs a connection of its own).
    bool AheadRoom(const Ahead* turn) const;
    // Starts streaming url into sink without waiting. continuable: its file may be continued in
    // its turn (a large body ahead is then taken up to its share; else it is left whole for its
    // turn).
    Ahead StartAhead(const QString& url, QIODevice& sink, bool continuable);
    int AheadInFlight() const { return int(m_ahead.size()); }  // started ahead, not yet waited for or dropped
    // Waits for a fetch started ahead as OpenUrlInto waits (the transfer is busy meanwhile) and
    // gives its result.
    FetchResult WaitAhead(Ahead ahead);

    // Ends every running fetch at once, those started ahead too; a waiting call returns
    // Cancelled.
    void Abort();

signals:
    // Posted through the event loop after every transfer that ended.
    void StateChanged();

private:
    // Waits for request as the one fetch waited for; the transfer is busy meanwhile.
    FetchResult Wait(std::unique_ptr<HttpRequest> request);
    FetchResult Fetch(const QString& url, QIODevice* sink, qint64 from, const QByteArray& validator);
    std::unique_ptr<HttpRequest> Begin(const QString& url, QIODevice* sink, qint64 from, const QByteArray& validator);

    std::shared_ptr<HttpSite> m_site;
    std::chrono::milliseconds m_timeout = kDefaultTimeout;
    QDeadlineTimer m_deadline{QDeadlineTimer::Forever};
    qint64 m_textLimit = kDefaultTextLimit;
    bool m_running = false;
    HttpRequest* m_waited = nullptr;
    std::set<HttpRequest*> m_ahead;
};

}  // namespace tarnwick
