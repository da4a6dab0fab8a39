// How one request reads its answer, as libcurl hands it over: the header lines (status, lengths,
// validators, ranges, Retry-After) and the body, which goes to its sink or into the text, taken
// only as the answer the request asked for.
#include "platform/HttpRequest.h"

#include "platform/HttpRules.h"

#include <QIODevice>

using namespace Qt::Literals::StringLiterals;

namespace tarnwick {

bool HttpRequest::Arrived()
{
    if (Stopped())
        return false;
    m_sinceBytes.start();
    return true;
}

int HttpRequest::OnRequestSent(void* request, char*, char*, int, int)
{
    static_cast<HttpRequest*>(request)->m_sinceBytes.start();
    return CURL_PREREQFUNC_OK;
}

size_t HttpRequest::OnHeader(char* data, size_t size, size_t count, void* request)
{
    auto& self = *static_cast<HttpRequest*>(request);
    return self.Arrived() ? self.TakeHeader(QByteArray::fromRawData(data, qsizetype(size * count))) : 0;
}

size_t HttpRequest::OnBody(char* data, size_t size, size_t count, void* request)
{
    auto& self = *static_cast<HttpRequest*>(request);
    return self.Arrived() ? self.TakeBody(data, size * count) : 0;
}

size_t HttpRequest::TakeHeader(const QByteArray& line)
{
    if (line.startsWith("HTTP/")) {  // a new answer: an interim one or a redirect's is replaced
        m_status = line.split(' ').value(1).toLong();
        if (line.startsWith("HTTP/2") || line.startsWith("HTTP/3"))
            m_site->budget.multiplexed = true;
        m_retryAfter.reset();
        m_lengths.clear();
        m_etag = m_lastModified = m_contentRange = {};
        m_result.rangesServed = false;
    } else if (const auto length = HeaderValue(line, "content-length")) {
        m_lengths.push_back(*length);
    } else if (const auto etag = HeaderValue(line, "etag")) {
        m_etag = *etag;
    } else if (const auto modified = HeaderValue(line, "last-modified")) {
        m_lastModified = *modified;
    } else if (const auto range = HeaderValue(line, "content-range")) {
        m_contentRange = *range;
    } else if (const auto ranges = HeaderValue(line, "accept-ranges")) {
        m_result.rangesServed = ranges->compare("bytes", Qt::CaseInsensitive) == 0;
    } else if (const auto wait = HeaderValue(line, "retry-after")) {
        m_retryAfter = RetryAfter(*wait, QDateTime::currentDateTimeUtc());
    }
    return size_t(line.size());
}

size_t HttpRequest::TakeBody(const char* data, size_t bytes)
{
    // Only a 200 is the whole resource: 204 has no body, 206 a piece of one, and the rest of
    // 2xx are not answers to a plain request for a file. A redirect's or a busy host's own
    // page is dropped; any other answer ends the fetch before a byte of it is handed on.
    if (IsRedirect(m_status) || IsBusy(m_status))
        return bytes;
    const qint64 from = m_options.from;
    const RangeAnswer answer = from > 0 ? ClassifyRangeAnswer(m_status, m_contentRange, from)
                                        : (m_status == 200 ? RangeAnswer::Whole : RangeAnswer::Refused);
    if (answer != (from > 0 ? RangeAnswer::Rest : RangeAnswer::Whole)) {
        m_result.wholeInstead = answer == RangeAnswer::Whole;
        m_failure = u"HTTP status %1"_s.arg(m_status);
        return 0;
    }
    // The answer is taken: what would continue it. If-Range takes only a strong tag; a weak
    // one says nothing about the bytes.
    if (m_result.received == 0)
        m_result.validator = m_etag.isEmpty() || m_etag.startsWith("W/") ? m_lastModified : m_etag;
    // Ahead of its turn a body is taken up to its share, while all fetches ahead hold no more
    // than their budget, and then left to its turn, which continues it; a large one that could
    // not be continued is left whole at once.
    if (m_options.ahead && m_options.sink) {
        constexpr qint64 share = ConnectionBudget::kAheadBody;
        const bool continuable = m_options.continuable && m_result.rangesServed && !m_result.validator.isEmpty();
        const bool large = m_lengths.empty() || m_lengths.front().trimmed().toLongLong() > share;
        if (m_result.received + qint64(bytes) > share || (m_result.received == 0 && large && !continuable) ||
            m_site->budget.aheadHeld + qint64(bytes) > ConnectionBudget::kAheadBytes) {
            m_failure = u"left for its turn after %1 bytes"_s.arg(m_result.received);
            m_result.leftForTurn = true;
            return 0;
        }
        m_heldAhead += qint64(bytes);
        m_site->budget.aheadHeld += qint64(bytes);
    }
    m_result.received += qint64(bytes);
    if (m_options.sink) {
        if (m_options.sink->write(data, qint64(bytes)) != qint64(bytes)) {
            m_failure = u"write failed: %1"_s.arg(m_options.sink->errorString());
            return 0;
        }
    } else if (m_result.body.size() + qint64(bytes) > m_options.textLimit) {
        m_failure = u"answer larger than %1 bytes"_s.arg(m_options.textLimit);
        return 0;
    } else {
        m_result.body.append(data, qsizetype(bytes));
    }
    return bytes;
}

}  // namespace tarnwick
