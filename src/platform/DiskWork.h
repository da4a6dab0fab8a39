// Long work on files (hashing an installed copy, applying a patch) done on a thread of its own
// while the window's event loop keeps running: the window repaints and Cancel is heard, as
// during a fetch.
#pragma once

#include <QObject>

#include <atomic>
#include <functional>

class QEventLoop;

namespace tarnwick {

class DiskWork : public QObject {
    Q_OBJECT
public:
    using Work = std::function<void(const std::atomic<bool>& stop)>;

    explicit DiskWork(QObject* parent = nullptr) : QObject(parent) {}

    // Runs work to its end and returns true, or returns false once Stop was asked (the work is
    // told through `stop` and waited for, but its result is not to be used).
    bool Run(const Work& work);
    bool Running() const { return m_loop != nullptr; }
    // Ends a running Run: the work should look at `stop` often enough to end soon.
    void Stop();

private:
    QEventLoop* m_loop = nullptr;
    std::atomic<bool> m_stop = false;
};

}  // namespace tarnwick
