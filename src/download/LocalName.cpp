#include "download/LocalName.h"

#include "download/PartFile.h"
#include "platform/FolderLock.h"

#include <QStringList>

namespace tarnwick {

QString LocalFileName(const QString& url)
{
    const qsizetype slash = url.lastIndexOf(u'/');
    return slash < 0 ? QString() : url.mid(slash + 1);
}

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
    // The updater's own working files: a part file would be taken for another file's, and
    // removed at the next start; the lock would be replaced under the run that holds it.
    const QString& created = segments.last();
    if (PartFile::IsPartName(created) || created == QLatin1String(FolderLock::kFileName))
        return false;
    return name != QStringLiteral(".");
}

}  // namespace tarnwick
