#include "download/LocalName.h"

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
    return name != QStringLiteral(".");
}

}  // namespace tarnwick
