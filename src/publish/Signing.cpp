#include "publish/Signing.h"

#include <QProcess>

namespace tarnwick {

std::optional<QString> SignManifests(const QStringList& manifests, const QString& keyFile)
{
    QStringList arguments{QStringLiteral("-S")};
    if (!keyFile.isEmpty())
        arguments << QStringLiteral("-s") << keyFile;
    arguments << QStringLiteral("-m") << manifests;
    QProcess minisign;
    // The password prompt (minisign writes it to its standard output) and its answer pass through.
    minisign.setProcessChannelMode(QProcess::ForwardedChannels);
    minisign.setInputChannelMode(QProcess::ForwardedInputChannel);
    minisign.start(QStringLiteral("minisign"), arguments);
    if (!minisign.waitForStarted())
        return QStringLiteral("minisign cannot run (Debian package minisign)");
    if (!minisign.waitForFinished(-1) || minisign.exitStatus() != QProcess::NormalExit || minisign.exitCode() != 0)
        return QStringLiteral("signing failed");
    return std::nullopt;
}

}  // namespace tarnwick
