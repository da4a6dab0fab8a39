#include "platform/ConnectionBudget.h"

#include <algorithm>

namespace tarnwick {

bool ConnectionBudget::AheadRoom(int running, bool turnRunning, qint64 held) const
{
    if (!quietUntil.hasExpired() || held + kAheadBlock > kAheadBytes)
        return false;
    // The connection of the file whose turn it is: its own fetch ahead's, or one kept free.
    return multiplexed ? running < kMaxStreamsAhead : running + (turnRunning ? 0 : 1) < connections;
}

void ConnectionBudget::Limit(int answering, std::optional<Duration> retryAfter)
{
    connections = std::max(1, std::min(connections, answering));
    if (retryAfter)
        quietUntil = QDeadlineTimer(std::min(*retryAfter, kBusyWaitMost));
}

std::optional<ConnectionBudget::Duration> ConnectionBudget::BusyWait(int asks, Duration waited,
                                                                     std::optional<Duration> retryAfter, Duration left)
{
    const Duration wait = std::min(retryAfter.value_or(Duration(500 << (asks - 1))), kBusyWaitMost);
    if (asks >= kBusyAsks || waited + wait > kBusyWaitAll || left < wait)
        return std::nullopt;
    return wait;
}

}  // namespace tarnwick
