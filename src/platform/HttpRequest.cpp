#include "platform/HttpRequest.h"

#include "platform/HttpRules.h"

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace tarnwick {
namespace {

// What libcurl hands over per call: large enough that a fast download costs few calls, small
// enough that memory stays bounded whatever the body's size.
constexpr long kReceiveBuffer = 256 * 1024;

}  // namespace

HttpSite::HttpSite()
    : bridge([](CURL* easy, CURLcode code) {
          HttpRequest* request = nullptr;
          curl_easy_getinfo(easy, CURLINFO_PRIVATE, &request);
          if (request && !request->m_finished)
              request->EndAnswer(code);
      })
{
    // The bytes as the site stores them: no Accept-Encoding but identity, and no decoding,
    // so a .tar.gz a misconfigured server labels as gzip arrives as stored.
    headers = curl_slist_append(headers, "Accept-Encoding: identity");
    // A site reuses its names from release to release: a cache that keeps an answer by
    // heuristic must ask the site again, which still lets it answer from its copy when the
    // site says nothing changed. Pragma is for proxies that speak only HTTP/1.0.
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");
}

HttpSite::~HttpSite() { curl_slist_free_all(headers); }

HttpRequest::HttpRequest(std::shared_ptr<HttpSite> site, Options options)
    : m_site(std::move(site)), m_options(std::move(options)), m_address(RequestUrl(m_options.url))
{
    CURL* easy = m_easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_PRIVATE, this);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, m_site->headers);
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
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, m_error);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &HttpRequest::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &HttpRequest::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    // The no-bytes clock starts again when the request goes out on its connection.
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &HttpRequest::OnRequestSent);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
    if (!m_site->authorities.isEmpty()) {
        curl_easy_setopt(easy, CURLOPT_CAINFO, m_site->authorities.constData());
        curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
    }
    QObject::connect(&m_idle, &QTimer::timeout, [this] { CheckIdle(); });
    m_idle.setSingleShot(true);
    QObject::connect(&m_again, &QTimer::timeout, [this] { Send(); });
    m_again.setSingleShot(true);
    if (!IsWebAddress(m_address)) {
        m_refused = u"not an http or https address: %1"_s.arg(QString::fromUtf8(m_address));
        m_finished = true;
    } else {
        Send();
    }
}

HttpRequest::~HttpRequest()
{
    TakeUp();
    Stop();
    curl_easy_cleanup(m_easy);
    curl_slist_free_all(m_ranged);
}

void HttpRequest::TakeUp()
{
    m_options.ahead = false;
    m_site->budget.aheadHeld -= std::exchange(m_heldAhead, 0);
}

void HttpRequest::Abort()
{
    if (!m_finished) {
        m_aborted = true;
        Stop();
    }
}

// Sends the request to its current address.
void HttpRequest::Send()
{
    // The rest of a resource only while it is still the one whose start arrived.
    const QByteArray range = m_options.from > 0 ? QByteArray::number(m_options.from) + '-' : QByteArray();
    curl_easy_setopt(m_easy, CURLOPT_RANGE, range.isEmpty() ? nullptr : range.constData());
    if (!range.isEmpty() && !m_ranged) {
        m_ranged = curl_slist_append(nullptr, ("If-Range: " + m_options.validator).constData());
        for (const curl_slist* header = m_site->headers; header; header = header->next)
            m_ranged = curl_slist_append(m_ranged, header->data);
        curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_ranged);
    }
    m_error[0] = '\0';
    m_code = CURLE_OK;
    m_status = 0;
    m_lengths.clear();
    curl_easy_setopt(m_easy, CURLOPT_URL, m_address.constData());
    const std::optional<QByteArray> proxy = m_site->proxies.For(m_address);
    if (proxy)
        curl_easy_setopt(m_easy, CURLOPT_PROXY, proxy->constData());
    // A fetch waits for a stream on a connection being opened rather than open another where
    // the site may multiplex: over https, reached directly (through a proxy's connection
    // libcurl has been seen to wait for ever).
    curl_easy_setopt(m_easy, CURLOPT_PIPEWAIT, long(HasScheme(m_address, "https") && proxy && proxy->isEmpty()));
    m_sinceBytes.start();
    CheckIdle();
    if (!m_finished) {
        m_site->active.insert(this);
        m_site->bridge.Add(m_easy);
    }
}

void HttpRequest::Limit()
{
    const auto answering = std::count_if(m_site->active.begin(), m_site->active.end(), [&](const HttpRequest* other) {
        return other != this && other->m_status >= 200 && other->m_status < 300;
    });
    m_site->budget.Limit(int(answering), m_retryAfter);
}

// The current answer has ended: a busy host may be asked again and a redirect is followed;
// anything else ends the fetch.
void HttpRequest::EndAnswer(CURLcode code)
{
    m_code = code;
    m_site->bridge.Remove(m_easy);
    m_site->active.erase(this);
    const bool turnedAway = IsBusy(m_status) || (m_options.ahead && m_code == CURLE_COULDNT_CONNECT);
    if (!Stopped() && turnedAway) {
        m_result.leftForTurn = m_options.ahead;
        Limit();
        const auto wait = m_options.ahead || m_code != CURLE_OK
                              ? std::nullopt
                              : ConnectionBudget::BusyWait(m_asks, m_busyWaited, m_retryAfter,
                                                           std::chrono::duration_cast<std::chrono::milliseconds>(
                                                               m_options.deadline.remainingTimeAsDuration()));
        if (wait) {
            ++m_asks;
            m_busyWaited += *wait;
            m_idle.stop();
            m_again.start(*wait);
            return;
        }
    }
    if (!Stopped() && m_code == CURLE_OK && IsRedirect(m_status)) {
        char* next = nullptr;
        curl_easy_getinfo(m_easy, CURLINFO_REDIRECT_URL, &next);
        m_refused = RedirectRefusal(m_address, next, m_hops);
        if (m_refused.isEmpty()) {
            m_address = next;
            ++m_hops;
            Send();
            return;
        }
    }
    Finish();
}

void HttpRequest::Finish()
{
    m_idle.stop();
    m_finished = true;
    if (m_waiting)
        m_waiting->quit();
}

// Ends the fetch from outside libcurl's calls: a time-out, an abort, or the fetch's end.
void HttpRequest::Stop()
{
    if (m_finished)
        return;
    m_again.stop();
    m_site->bridge.Remove(m_easy);
    m_site->active.erase(this);
    Finish();
}

// Fails the fetch whichever comes first: the time-out without a byte, or the deadline. A fetch
// ahead that has no answer yet waits a shorter time: the host is taken to hold it back.
void HttpRequest::CheckIdle()
{
    if (m_finished)
        return;
    const bool unanswered = m_options.ahead && m_status == 0;
    const auto timeout =
        unanswered ? std::min(m_options.idleTimeout, ConnectionBudget::kAheadAnswerWait) : m_options.idleTimeout;
    const auto quiet = std::chrono::milliseconds(m_sinceBytes.elapsed());
    if (quiet >= timeout || m_options.deadline.hasExpired()) {
        m_failure = quiet >= timeout ? u"no bytes for %1 ms"_s.arg(timeout.count()) : u"deadline passed"_s;
        if (unanswered) {
            m_result.leftForTurn = true;
            Limit();
        }
        Stop();
        return;
    }
    m_idle.start(std::min(timeout - quiet, std::chrono::ceil<std::chrono::milliseconds>(
                                               m_options.deadline.remainingTimeAsDuration())));
}

// Why the finished answer is not a whole body, or nothing when it is.
QString HttpRequest::Verdict() const
{
    if (!m_refused.isEmpty())
        return m_refused;
    if (!m_failure.isEmpty())
        return m_failure;
    if (m_code != CURLE_OK)
        return QString::fromUtf8(*m_error ? m_error : curl_easy_strerror(m_code));
    if (m_status != (m_options.from > 0 ? 206 : 200))
        return u"HTTP status %1"_s.arg(m_status);
    return LengthVerdict(m_lengths, m_result.received);
}

FetchResult HttpRequest::Outcome()
{
    FetchResult outcome = std::move(m_result);
    if (m_aborted) {
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

}  // namespace tarnwick
