// Work on many files spread over every core: the files are independent, and one thread per core
// keeps both the disk and the processors busy without a process per file.
#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>

namespace tarnwick {

// Counts finished files and, at most once a second, says how many on stderr; silent when quiet.
class Progress {
public:
    Progress(qint64 total, bool quiet) : m_total(total), m_quiet(quiet) {}
    void Advance();
    void Finish();

private:
    void Show(qint64 done, char end);

    const qint64 m_total;
    const bool m_quiet;
    std::atomic<qint64> m_done = 0;
    std::mutex m_showing;
    std::chrono::steady_clock::time_point m_shown = std::chrono::steady_clock::now();
    bool m_shownOnce = false;
};

// Runs task(i) for every i below count on one thread per core, each index once. A task that
// returns false stops the others from starting new ones; the result is false then.
bool RunOnEveryCore(qint64 count, const std::function<bool(qint64)>& task);

}  // namespace tarnwick
