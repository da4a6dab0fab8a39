#include "publish/Resign.h"

#include "publish/PublishRules.h"
#include "publish/Signing.h"
#include "publish/SiteFolders.h"
#include "update/SiteFormat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace tarnwick {
int Resign(const PublishOptions& options)
{
    const SigningPlan signing = PlanSigning(options, ::isatty(STDIN_FILENO));
    if (!signing.error.isEmpty())
        return Refuse(signing.error);
    // The work folder publishing uses, beside the site: nothing of this run can be uploaded with it.
    const SiteRun held(options.site);
    if (!held.Error().isEmpty())
        return Refuse(held.Error());
    const QString& work = held.Work();
    QStringList copies, signatures;
    const QStringList folders = QDir(options.site).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& folder : folders) {
        const QString manifest = options.site + u'/' + folder + u'/' + QLatin1String(site::kManifest);
        if (!QFileInfo(manifest).isFile())
            continue;
        // The copy is what is signed, in a folder of the same name, so the signature covers
        // exactly the bytes that stay on the site and names the folder they stay in.
        const QString copy = work + u"/resign/"_s + folder + u'/' + QLatin1String(site::kManifest);
        if (!QDir().mkpath(work + u"/resign/"_s + folder) || !QFile::copy(manifest, copy))
            return Refuse(u"cannot copy "_s + Shown(manifest));
        copies.append(copy);
        signatures.append(manifest + QLatin1String(site::kSignatureSuffix));
    }
    if (copies.isEmpty())
        return Refuse(Shown(options.site) + u" holds no manifest"_s);
    if (!SameFileSystem(work, options.site))
        return Refuse(Shown(work) + u" is on another file system than "_s + Shown(options.site));
    if (const std::optional<QString> unsigned_ = SignManifests(copies, signing, options))
        return Refuse(*unsigned_);
    // Each signature takes its old one's place in one step; both vouch for the same manifest.
    for (qsizetype i = 0; i < copies.size(); ++i)
        if (::rename(QFile::encodeName(copies[i] + QLatin1String(site::kSignatureSuffix)).constData(),
                     QFile::encodeName(signatures[i]).constData()) != 0)
            return Refuse(u"cannot put the signature "_s + Shown(signatures[i]) + u" in place"_s);
    if (!options.quiet)
        std::printf("tarnwick-publish: %lld manifests signed again, expiring in %d days\n",
                    static_cast<long long>(copies.size()), options.expiresDays);
    return 0;
}

}  // namespace tarnwick
