#include "platform/AppFolder.h"

#include <QCoreApplication>
#include <QDir>

namespace tarnwick {

QString ApplicationFolder() { return QDir::toNativeSeparators(QCoreApplication::applicationDirPath()); }

QString AppPath(const QString& appFolder, const QString& relativePart)
{
    QString relative = u'\\' + relativePart;
#ifndef Q_OS_WIN
    // Only the part we add is converted; the folder's own name is taken as the platform gave it.
    relative.replace(u'\\', u'/');
#endif
    return appFolder + relative;
}

}  // namespace tarnwick
