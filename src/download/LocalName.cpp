#include "download/LocalName.h"

#include "download/PartName.h"
#include "platform/FolderLock.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>

#include <sys/stat.h>

namespace tarnwick {

QString LocalFileName(const QString& url)
{
    const qsizetype slash = url.lastIndexOf(u'/');
    return slash < 0 ? QString() : url.mid(slash + 1);
}

namespace {

// A name the updater's own working files have: a part file would be taken for another file's,
// and removed at the next start; the lock would be replaced under the run that holds it.
bool IsWorkingName(const QString& name)
{
    return IsPartName(name) || name == QLatin1String(FolderLock::kFileName);
}

}  // namespace

bool IsSafeLocalName(const QString& name)
{
    if (name.isEmpty() || name.startsWith(u'\\'))
        return false;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
#ifdef Q_OS_WIN
        if (c == u':')
            return false;
#endif
    }
    const QStringList segments = name.split(u'\\');
    for (const QString& segment : segments) {
        if (segment == QStringLiteral(".."))
            return false;
    }
    return !IsWorkingName(segments.last()) && name != QStringLiteral(".");
}

bool MakeFoldersFor(const QString& folder, const QString& name)
{
    QStringList folders = name.split(u'\\');
    folders.removeLast();
    const QString root = QFileInfo(folder).canonicalFilePath();
    if (folders.isEmpty() || root.isEmpty() || QFileInfo(QDir(folder).filePath(folders.join(u'/'))).isDir())
        return true;
    for (const QString& part : folders)
        if (part.isEmpty() || part == QStringLiteral(".") || part == QStringLiteral("..") || IsWorkingName(part))
            return false;
    QString path = folder;
    for (const QString& part : folders) {
        path += u'/' + part;
        const QFileInfo here(path);
        // A folder that is there, or a link to one, is used only while it stays inside.
        if (here.exists() || here.isSymLink()) {
            const QString real = here.canonicalFilePath();
            if (!here.isDir() || (real != root && !real.startsWith(root + u'/')))
                return false;
        } else if (::mkdir(QFile::encodeName(path).constData(), 0777) != 0 && errno != EEXIST) {
            return false;
        } else if (!QFileInfo(path).isDir() || QFileInfo(path).isSymLink()) {
            return false;
        }
    }
    return true;
}

}  // namespace tarnwick
