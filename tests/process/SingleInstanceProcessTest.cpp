// The single-instance rule between real updater processes: one runs, every other start ends at
// once with status 0, and a killed updater never blocks the next start.
#include "process/UpdaterProcesses.h"

#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>

namespace tarnwick::test {
namespace {

using namespace std::chrono_literals;

// Starting an updater means the process: loading Qt, perhaps under a sanitizer, on a busy
// machine. Generous, because only a hang may fail here.
constexpr auto kStartDeadline = 60s;

// Waits until `pid` holds the lock, and says whether it is still running then.
bool BecomesTheRunningUpdater(UpdaterProcesses& updaters, pid_t pid)
{
    const bool holds = QTest::qWaitFor([&] { return updaters.LockHolder() == pid || updaters.HasEnded(pid); },
                                       static_cast<int>(std::chrono::milliseconds(kStartDeadline).count()));
    return holds && updaters.LockHolder() == pid && !updaters.HasEnded(pid);
}

// Guards against a second updater that keeps running beside the first, ends with an error
// status, or a lock that outlives a killed updater and keeps every later start away.
TEST(SingleInstanceProcess, SecondUpdaterEndsAtOnceAndAKilledOneBlocksNothing)
{
    UpdaterProcesses updaters;
    ASSERT_TRUE(updaters.Ready());
    const pid_t first = updaters.Start();
    ASSERT_TRUE(BecomesTheRunningUpdater(updaters, first));

    const pid_t second = updaters.Start();
    int exitCode = -2;
    ASSERT_TRUE(updaters.WaitForEnd(second, kStartDeadline, &exitCode)) << "the second updater kept running";
    EXPECT_EQ(exitCode, 0);
    EXPECT_FALSE(updaters.HasEnded(first));

    updaters.Kill(first);
    const pid_t third = updaters.Start();
    EXPECT_TRUE(BecomesTheRunningUpdater(updaters, third)) << "a killed updater kept the next one from starting";
}

// Guards against a race in taking the lock: of updaters started at the same moment exactly one
// stays, every other ends with status 0, and after the survivor is killed the next start works.
TEST(SingleInstanceProcess, OfTwoOrTwentyStartedTogetherExactlyOneStays)
{
    for (const int count : {2, 20}) {
        SCOPED_TRACE(count);
        UpdaterProcesses updaters;
        ASSERT_TRUE(updaters.Ready());
        const std::vector<pid_t> pids = updaters.StartTogether(count);
        ASSERT_EQ(pids.size(), static_cast<size_t>(count));

        auto running = [&] {
            return std::count_if(pids.begin(), pids.end(), [&](pid_t pid) { return !updaters.HasEnded(pid); });
        };
        ASSERT_TRUE(QTest::qWaitFor([&] { return running() <= 1; },
                                    static_cast<int>(std::chrono::milliseconds(kStartDeadline).count())));
        ASSERT_EQ(running(), 1);
        const pid_t survivor = *std::find_if(pids.begin(), pids.end(), [&](pid_t pid) { return !updaters.HasEnded(pid); });
        for (const pid_t pid : pids) {
            int exitCode = -2;
            if (pid != survivor && updaters.HasEnded(pid, &exitCode))
                EXPECT_EQ(exitCode, 0) << "updater " << pid;
        }
        EXPECT_TRUE(BecomesTheRunningUpdater(updaters, survivor));

        updaters.Kill(survivor);
        const pid_t next = updaters.Start();
        EXPECT_TRUE(BecomesTheRunningUpdater(updaters, next));
    }
}

}  // namespace
}  // namespace tarnwick::test
