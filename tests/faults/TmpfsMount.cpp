#include "faults/TmpfsMount.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>

namespace tarnwick::test {

TmpfsMount::TmpfsMount(const QString& folder, qint64 sizeBytes)
    : m_folder(folder), m_options(QStringLiteral("size=%1,mode=0755").arg(sizeBytes))
{
    const QByteArray path = QFile::encodeName(m_folder);
    if (::mount("tmpfs", path.constData(), "tmpfs", MS_NOSUID | MS_NODEV, m_options.toLatin1().constData()) == 0)
        m_mounted = true;
    else
        m_error = QStringLiteral("cannot mount a tmpfs (%1); this case needs root").arg(QString::fromLocal8Bit(std::strerror(errno)));
}

TmpfsMount::~TmpfsMount()
{
    // Detached, so that a file a failed test left open never keeps the mount in place.
    if (m_mounted)
        ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
}

bool TmpfsMount::MakeReadOnly()
{
    const QByteArray path = QFile::encodeName(m_folder);
    return m_mounted && ::mount("tmpfs", path.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV,
                                m_options.toLatin1().constData()) == 0;
}

}  // namespace tarnwick::test
