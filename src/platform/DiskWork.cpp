#include "platform/DiskWork.h"

#include <QEventLoop>

#include <thread>

namespace tarnwick {

bool DiskWork::Run(const Work& work)
{
    if (m_loop)
        return false;  // one at a time; nested runs never share a thread's result
    m_stop = false;
    QEventLoop loop;
    std::thread worker([&] {
        work(m_stop);
        // Queued: delivered by the loop below even when posted before it started; a loop that
        // has gone takes its posted events with it.
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    m_loop = &loop;
    loop.exec();
    m_loop = nullptr;
    worker.join();
    return !m_stop;
}

void DiskWork::Stop()
{
    m_stop = true;
    if (m_loop)
        m_loop->quit();
}

}  // namespace tarnwick
