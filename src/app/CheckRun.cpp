// The update check run: two steps driven by tmrCheckUpdate, counted by the value of
// pbStatusCheck. Every end and every failure goes through EndCheckRun, silently.
#include "app/FrmMainUpdater.h"

#include "app/ListedChecks.h"
#include "platform/HttpTransfer.h"
#include "settings/Language.h"
#include "settings/Texts.h"
#include "update/Manifest.h"
#include "update/ManifestDigests.h"
#include "update/ManifestFetch.h"
#include "update/SiteAddress.h"

#include <optional>

namespace tarnwick {
namespace {

QString CheckText(const FrmMainUpdater& window, const char* key, const char* english)
{
    // The language is read afresh for every text; nothing is cached.
    return WindowText(window.AppFolder(), ReadLanguageName(window.AppFolder()), key, english);
}

std::optional<QString> FetchManifest(FrmMainUpdater& window, int attempts)
{
    const QString installed = Caption(window.lblOldVersion);
    return FetchManifestText(*window.inetCheckUpdate, ManifestUrl(window.Setup().updateSite, installed), attempts,
                             window.Setup().signingKey, installed);
}

// Step 1: fetch the manifest and keep the published version in lblNewVersion.
bool CheckStep1(FrmMainUpdater& window)
{
    const std::optional<QString> manifest = FetchManifest(window, kManifestAttempts);
    if (!manifest || window.IsClosing())
        return false;
    const std::optional<QString> version = ManifestVersion(*manifest);
    if (!version)
        return false;
    SetCaption(window.lblNewVersion, *version);
    return true;
}

void ShowNewVersion(FrmMainUpdater& window, const QString& installed)
{
    window.lblVersionExplain->show();
    SetCaption(window.lblVersionExplain, CheckText(window, "VersionExplain", english::kVersionExplain));
    window.lblNewVersion->show();

    const std::optional<QString> manifest = FetchManifest(window, 1);
    if (!manifest || window.IsClosing())
        return;
    const std::optional<QStringList> names = ManifestFileNames(*manifest);
    if (!names)
        return;
    // Empty when the manifest gives no digests; the fetch refused any other count than one per name.
    const QList<QByteArray> digests = ReadManifestDigests(*manifest).digests;
    const QList<PatchOffer> patches = ReadManifestPatches(*manifest);
    // A size vouches for nothing unsigned, and an earlier updater would not have cut off there.
    const QList<qint64> sizes =
        window.Setup().signingKey.isEmpty() ? QList<qint64>() : ReadManifestSizes(*manifest).sizes;
    for (qsizetype i = 0; i < names->size(); ++i) {
        QTreeWidgetItem* item =
            window.lDownload->AddItem(FileUrl(window.Setup().updateSite, installed, names->at(i)), names->at(i));
        if (!item)
            return;  // a duplicate key ends the list; the entries so far stay
        SetListedChecks(item, digests.value(i), patches.value(i), sizes.value(i, -1));
        DownloadList::SetStatus(item, QString::fromLatin1(status::kValid));
    }
}

void ShowUpToDate(FrmMainUpdater& window)
{
    const QString headline = CheckText(window, "VersionExplain2", english::kVersionExplain2);
    const QString closing = CheckText(window, "VersionExplain3", english::kVersionExplain3);
    const QString hint = CheckText(window, "NextToDownload2", english::kNextToDownload2);
    window.ShowClosingPage(headline, closing, hint);
}

}  // namespace

void FrmMainUpdater::EndCheckRun()
{
    tmrCheckUpdate->stop();
    cmdNext->setEnabled(true);
    // Disabling Next for the check moved the focus to Cancel; Enter must press Next again.
    cmdNext->setFocus();
}

void FrmMainUpdater::tmrCheckUpdate_Timer()
{
    // Ticks keep arriving while a step waits for its fetch; each must not start a step of its
    // own, or the counter would run ahead of the steps.
    if (inetCheckUpdate->StillExecuting() || IsClosing())
        return;

    ProgressBar& counter = *pbStatusCheck;
    if (!counter.SetValue(counter.value() + 1)) {
        EndCheckRun();  // the up-to-date result ends here, one tick after step 2
        return;
    }
    if (counter.value() == 1 && !CheckStep1(*this)) {
        if (!IsClosing())
            EndCheckRun();
        return;
    }
    if (counter.value() == 2) {
        const QString installed = Caption(lblOldVersion);
        const QString published = Caption(lblNewVersion);
        if (CompareVersionText(installed, published) == VersionOrder::Less) {
            ShowNewVersion(*this, installed);
            if (!IsClosing())
                EndCheckRun();
        } else {
            ShowUpToDate(*this);
        }
    }
}

}  // namespace tarnwick
