// Addresses on the update site: one folder per installed version, holding its manifest and
// the files that manifest lists. Version and file name are inserted verbatim.
#pragma once

#include <QString>

namespace tarnwick {

// siteBase ends in "/updater/".
QString ManifestUrl(const QString& siteBase, const QString& installedVersion);
QString FileUrl(const QString& siteBase, const QString& installedVersion, const QString& fileName);

// The host name of the product web site, as the newer-updater notice names it.
QString WebSiteDomain(const QString& webSite);

}  // namespace tarnwick
