// Real processes of the test-site build of the updater, each started from a copy in a temporary
// application folder, with its own runtime folder (so the lock never meets a developer's real
// updater) and Qt's offscreen platform.
#pragma once

#include <QString>
#include <QTemporaryDir>

#include <sys/types.h>

#include <chrono>
#include <vector>

namespace tarnwick::test {

class UpdaterProcesses {
public:
    UpdaterProcesses();
    ~UpdaterProcesses();  // kills whatever still runs
    UpdaterProcesses(const UpdaterProcesses&) = delete;
    UpdaterProcesses& operator=(const UpdaterProcesses&) = delete;

    bool Ready() const { return m_ready; }
    QString RuntimeFolder() const { return m_runtime.path(); }

    // Starts `count` updaters at the same moment: every child waits at a shared gate and all
    // of them exec together when it opens. Returns their ids.
    std::vector<pid_t> StartTogether(int count);
    pid_t Start() { return StartTogether(1).front(); }

    // Collects a child that has ended; false while it runs. `exitCode` is -1 for a signal.
    bool HasEnded(pid_t pid, int* exitCode = nullptr);
    // Waits until the child ends, at most `deadline`; true when it did.
    bool WaitForEnd(pid_t pid, std::chrono::milliseconds deadline, int* exitCode = nullptr);
    void Kill(pid_t pid);

    // The process that holds the single-instance lock in this runtime folder, 0 for none. Read
    // from /proc/locks, because trying the lock ourselves could turn away an updater that
    // starts at that moment.
    pid_t LockHolder() const;

private:
    struct Child {
        pid_t pid;
        bool ended;
        int exitCode;
    };
    Child* Find(pid_t pid);

    QTemporaryDir m_appFolder;
    QTemporaryDir m_runtime;
    QString m_program;
    bool m_ready = false;
    std::vector<Child> m_children;
};

}  // namespace tarnwick::test
