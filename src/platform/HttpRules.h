// The rules of a fetch that need no socket: how the updater's addresses become request targets,
// and what an answer's status, redirect, ranges, lengths and Retry-After mean.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <chrono>
#include <optional>
#include <vector>

namespace tarnwick {

// The updater's addresses are paths on the site: a "#" or "?" in them belongs to a version or
// file name and must not start a fragment or a query, which would fetch another resource.
// Everything else, "%" escapes included, is sent as written.
QByteArray RequestUrl(const QString& address);

bool HasScheme(const QByteArray& url, const char* scheme);
bool IsWebAddress(const QByteArray& url);
bool IsRedirect(long status);
// A host that has more requests than it takes now: shared hosts and CDNs answer so beyond the
// connections they allow an address.
bool IsBusy(long status);

// A header line's value when the line names this header (in any letter case), or nothing.
std::optional<QByteArray> HeaderValue(const QByteArray& line, QByteArrayView name);

// How an answer to a request for the rest of a resource, from byte `from` on, is taken: its rest
// (206 for exactly that range, to the end), the whole resource again (200: it changed since),
// or neither.
enum class RangeAnswer { Rest, Whole, Refused };
RangeAnswer ClassifyRangeAnswer(long status, QByteArrayView contentRange, qint64 from);

// How long a Retry-After value (seconds, or an HTTP date) asks to wait from `now`; nothing when
// it is neither, zero for a time already past.
std::optional<std::chrono::milliseconds> RetryAfter(QByteArrayView value, const QDateTime& now);

// Why a body of `received` bytes is not the one its answer's Content-Length lines announced, or
// nothing when it is: an answer announcing two lengths may have been cut at the first.
QString LengthVerdict(const std::vector<QByteArray>& lengths, qint64 received);

// Why the redirect from `from` to `target` (nullptr: it named none) after `hops` hops is not
// followed, or nothing when it is: never from https to anything else, never more than ten.
QString RedirectRefusal(const QByteArray& from, const char* target, int hops);

}  // namespace tarnwick
