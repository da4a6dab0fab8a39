#include "platform/AppFolder.h"

#include <QCoreApplication>
#include <QDir>

namespace tarnwick {

QString ApplicationFolder()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

}  // namespace tarnwick
