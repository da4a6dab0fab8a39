// Signing the manifests with the publisher's minisign key, by minisign itself: its key files and
// its password prompt stay what publishers know, and one call asks for the password once.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace tarnwick {

// Signs every manifest (each beside it as NAME.minisig); keyFile empty: minisign's own default
// key. The reason when minisign failed or could not run.
std::optional<QString> SignManifests(const QStringList& manifests, const QString& keyFile);

}  // namespace tarnwick
