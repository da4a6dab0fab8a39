// Puts an update on the local test site: the manifest for one installed version and the files it
// lists, each under that version's folder, so that tests state only what differs.
#pragma once

#include "support/TestServer.h"
#include "support/WindowHarness.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

namespace tarnwick::test {

using SiteFiles = std::vector<std::pair<QString, QByteArray>>;

// "/updater/<installed>/check.update"
inline QString ManifestPath(const QString& installed)
{
    return QStringLiteral("/updater/") + installed + QStringLiteral("/check.update");
}

// "/updater/<installed>/<name>", the path the server sees for a listed file.
inline QString SitePath(const QString& installed, const QString& name)
{
    return QStringLiteral("/updater/") + installed + u'/' + name;
}

// Lists the files in manifest order and serves each body.
inline void PublishUpdate(TestServer& server, const QString& installed, const QString& published,
                          const SiteFiles& files)
{
    QStringList names;
    for (const auto& [name, body] : files) {
        names.append(name);
        server.Put(SitePath(installed, name), body);
    }
    server.Put(ManifestPath(installed), Manifest(published, names));
}

}  // namespace tarnwick::test
