#include "platform/Browser.h"

#include <QDesktopServices>
#include <QUrl>

namespace tarnwick {

bool DesktopBrowser::Open(const QString& address) { return QDesktopServices::openUrl(QUrl(address)); }

}  // namespace tarnwick
