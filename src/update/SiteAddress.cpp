#include "update/SiteAddress.h"

#include <QUrl>

namespace tarnwick {

QString ManifestUrl(const QString& siteBase, const QString& installedVersion)
{
    return siteBase + installedVersion + QStringLiteral("/check.update");
}

QString FileUrl(const QString& siteBase, const QString& installedVersion, const QString& fileName)
{
    return siteBase + installedVersion + u'/' + fileName;
}

QString WebSiteDomain(const QString& webSite) { return QUrl(webSite).host(); }

}  // namespace tarnwick
