// The connection budget of the fetches to a site, in one place: how many run side by side, how
// far fetches ahead may go, and what a host that turns fetches away costs them.
#pragma once

#include <QDeadlineTimer>

#include <chrono>
#include <optional>

namespace tarnwick {

struct ConnectionBudget {
    using Duration = std::chrono::milliseconds;

    // Connections at once to a site over HTTP/1.1, the fetch waited for included: fetches ahead
    // never take the last one, so the file whose turn it is is on the wire at once and its
    // no-bytes clock never runs while it waits for a connection.
    static constexpr int kMaxConnections = 8;
    // Where the site multiplexes streams on one connection (HTTP/2) connections cost nothing:
    // fetches ahead are bounded by the bytes they hold and by this many streams.
    static constexpr int kMaxStreamsAhead = 64;
    // What a fetch ahead takes of its body: then it ends, giving its connection back, and its
    // file is continued (or fetched from the start) in its turn. A large file ahead holds no
    // more than this, and never a connection it does not use.
    static constexpr qint64 kAheadBody = 1024 * 1024;
    // The bytes all fetches ahead may hold until they are waited for, each counted at what it
    // took (a small body's first block at least): a budget of memory, not of files. A fetch ahead
    // that would pass it is left for its turn.
    static constexpr qint64 kAheadBytes = 8 * 1024 * 1024;
    static constexpr qint64 kAheadBlock = 64 * 1024;
    // A fetch ahead whose request has no answer for this long is taken for one the host does
    // not accept now: it ends, and its file waits for its turn.
    static constexpr Duration kAheadAnswerWait{5000};
    // A fetch waited for that a busy host answers with 503 or 429 is asked again, at most this
    // many times in all, waiting Retry-After (at most kBusyWaitMost) or else 0.5 s, 1 s, 2 s ...
    // between them, and never more than kBusyWaitAll in all; then it fails as any answer does.
    static constexpr int kBusyAsks = 5;
    static constexpr Duration kBusyWaitMost{10'000}, kBusyWaitAll{20'000};

    // Whether another fetch ahead fits, beside `running` fetches ahead on the wire (the one the
    // file whose turn it is waits for among them when turnRunning) and all of them holding `held`.
    bool AheadRoom(int running, bool turnRunning, qint64 held) const;
    // A host turned a fetch away while it answered `answering` others: from now on fetches ahead
    // leave it that many connections, the one waited for included, and at least that one; and
    // none starts before its Retry-After.
    void Limit(int answering, std::optional<Duration> retryAfter);
    // How long to wait before a busy host is asked again for the fetch waited for, which it
    // was asked `asks` times, waited `waited` for, with `left` before its deadline; nothing when
    // it is not asked again.
    static std::optional<Duration> BusyWait(int asks, Duration waited, std::optional<Duration> retryAfter,
                                            Duration left);

    int connections = kMaxConnections;
    bool multiplexed = false;   // the site answered over HTTP/2: streams, not connections
    QDeadlineTimer quietUntil;  // no fetch ahead starts before a busy host's Retry-After
    qint64 aheadHeld = 0;       // body bytes fetches ahead took that no turn has taken up yet
};

}  // namespace tarnwick
