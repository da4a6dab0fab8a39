// Writing the update manifest in the form the reader beside it takes, and reading it back with
// that reader: a publisher's tool puts in place only what an updater will read as it was meant.
#pragma once

#include "update/ManifestDigests.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace tarnwick {

// What one version folder's manifest says.
struct ManifestContent {
    QString newUpdater;         // the newest updater's version
    QString version;            // the published version, with an optional label after a blank
    QStringList names;          // as the updater fetches and saves them
    QList<QByteArray> digests;  // SHA-256 of each listed file, 32 bytes, in the order of names
    QList<PatchOffer> patches;  // one per name (empty offers: no patch), or none at all
    QList<qint64> sizes;        // each file's size in bytes, in the order of names, or none at all
};

// The manifest's bytes (UTF-8): "sha256" and "patch" first, as earlier sites have them, then
// "size", "newupdater", "ver" and "file", one element a line with CR LF.
QByteArray WriteManifest(const ManifestContent& content);

// What the updater reads differently from the content these bytes were written for (its version,
// newer-updater version, names, digests, patches or sizes), or nothing when it reads all of it back.
std::optional<QString> ReadBackMismatch(const QByteArray& written, const ManifestContent& content);

}  // namespace tarnwick
