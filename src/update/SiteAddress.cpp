#include "update/SiteAddress.h"

#include "update/SiteFormat.h"

#include <QUrl>

namespace tarnwick {

QString ManifestUrl(const QString& siteBase, const QString& installedVersion)
{
    return siteBase + installedVersion + u'/' + QLatin1String(site::kManifest);
}

QString FileUrl(const QString& siteBase, const QString& installedVersion, const QString& fileName)
{
    return siteBase + installedVersion + u'/' + fileName;
}

QString WebSiteDomain(const QString& webSite) { return QUrl(webSite).host(); }

}  // namespace tarnwick
