#include "platform/HttpRules.h"

#include <QList>
#include <QUrl>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace tarnwick {

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

bool IsBusy(long status) { return status == 503 || status == 429; }

std::optional<QByteArray> HeaderValue(const QByteArray& line, QByteArrayView name)
{
    if (line.size() <= name.size() || line[name.size()] != ':' ||
        line.first(name.size()).compare(name, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    return line.mid(name.size() + 1).trimmed();
}

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

QString LengthVerdict(const std::vector<QByteArray>& lengths, qint64 received)
{
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
    if (announced.size() == 1 && announced.front() != received)
        return u"body of %1 bytes does not match Content-Length %2"_s.arg(received).arg(announced.front());
    return {};
}

QString RedirectRefusal(const QByteArray& from, const char* target, int hops)
{
    constexpr int kMaxRedirects = 10;
    const QByteArray to(target ? target : "");
    if (!target)
        return u"redirect without a location"_s;
    if (hops == kMaxRedirects)
        return u"more than %1 redirects"_s.arg(kMaxRedirects);
    if (HasScheme(from, "https") && !HasScheme(to, "https"))
        return u"redirect from https to %1"_s.arg(QString::fromUtf8(to));
    if (!IsWebAddress(to))
        return u"not an http or https address: %1"_s.arg(QString::fromUtf8(to));
    return {};
}

}  // namespace tarnwick
