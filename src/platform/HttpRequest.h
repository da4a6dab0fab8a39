// One fetch on the wire: its request's options and headers, what the answer said, where its
// body goes, its no-bytes clock and deadline, its redirects and ranges, and why it failed if it
// did. A redirect's hop, a continuation's range and a busy host's second ask are the same fetch.
#pragma once

#include "platform/ConnectionBudget.h"
#include "platform/CurlBridge.h"
#include "platform/HttpTransfer.h"
#include "platform/SystemProxy.h"

#include <QElapsedTimer>
#include <QEventLoop>

#include <set>
#include <vector>

namespace tarnwick {

class HttpRequest;

// What every fetch of the two transfers shares: the bridge with its connections, their budget,
// the system's proxies, the authorities and the headers of every request.
struct HttpSite {
    HttpSite();
    ~HttpSite();

    CurlBridge bridge;
    ConnectionBudget budget;
    std::set<const HttpRequest*> active;  // on the wire, each holding a connection (or a stream)
    SystemProxy proxies;
    QByteArray authorities;
    curl_slist* headers = nullptr;
};

class HttpRequest {
public:
    struct Options {
        QString url;
        QIODevice* sink = nullptr;  // nullptr: the body is text, kept up to textLimit
        qint64 from = 0;            // above 0: the rest of the resource is asked for
        QByteArray validator;       // ... only while it is still the one with this validator
        bool ahead = false;         // takes no more than kAheadBody until it is waited for
        bool continuable = false;   // ahead: its file may be continued in its turn
        qint64 textLimit = 0;
        std::chrono::milliseconds idleTimeout{0};
        QDeadlineTimer deadline;
    };

    // Sends the request at once (or ends it at once, for an address that is not on the web).
    HttpRequest(std::shared_ptr<HttpSite> site, Options options);
    ~HttpRequest();
    HttpRequest(const HttpRequest&) = delete;
    HttpRequest& operator=(const HttpRequest&) = delete;

    bool Finished() const { return m_finished; }
    bool Ahead() const { return m_options.ahead; }
    // From now on the fetch is waited for: no share, no shorter wait for an answer.
    void TakeUp();
    qint64 Received() const { return m_result.received; }
    // Quits this loop once the fetch ends.
    void SetWaiting(QEventLoop* loop) { m_waiting = loop; }
    // Ends the fetch without waiting: Outcome is Cancelled.
    void Abort();
    // What the fetch gave, once finished; taken once.
    FetchResult Outcome();

private:
    void Send();
    void EndAnswer(CURLcode code);
    void Finish();
    void Stop();
    void CheckIdle();
    void Limit();
    bool Stopped() const { return m_aborted || !m_failure.isEmpty(); }
    QString Verdict() const;
    // The lines both callbacks open with: false once the fetch stopped; the clock starts again.
    bool Arrived();
    size_t TakeHeader(const QByteArray& line);
    size_t TakeBody(const char* data, size_t bytes);

    friend struct HttpSite;
    static int OnRequestSent(void* request, char*, char*, int, int);
    static size_t OnHeader(char* data, size_t size, size_t count, void* request);
    static size_t OnBody(char* data, size_t size, size_t count, void* request);

    std::shared_ptr<HttpSite> m_site;
    Options m_options;
    CURL* m_easy = nullptr;
    curl_slist* m_ranged = nullptr;  // the request's headers with If-Range, for the rest of a resource
    QByteArray m_address;
    int m_hops = 0;
    int m_asks = 1;        // of a busy host, for this fetch
    qint64 m_heldAhead = 0;  // of the bytes all fetches ahead hold, those this one took
    std::chrono::milliseconds m_busyWaited{0};
    QTimer m_again;  // a busy host asked again when it runs out
    QTimer m_idle;
    QEventLoop* m_waiting = nullptr;
    FetchResult m_result;
    QString m_failure, m_refused;
    bool m_aborted = false, m_finished = false;
    CURLcode m_code = CURLE_OK;
    // Of the answer being read; a redirect's or an interim answer is replaced.
    long m_status = 0;
    std::vector<QByteArray> m_lengths;  // every Content-Length of that answer
    QByteArray m_etag, m_lastModified, m_contentRange;
    std::optional<std::chrono::milliseconds> m_retryAfter;
    QElapsedTimer m_sinceBytes;  // or since the request went out
    char m_error[CURL_ERROR_SIZE] = {};
};

}  // namespace tarnwick
