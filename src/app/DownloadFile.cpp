// Fetching one file of the update and saving it in the application folder under its own name;
// the one download error message when that fails.
#include "app/FrmMainUpdater.h"

#include "app/ListedChecks.h"
#include "download/FetchAhead.h"
#include "download/GroupCommit.h"
#include "download/LocalName.h"
#include "download/SaveFile.h"
#include "platform/AppFolder.h"
#include "platform/DiskWork.h"
#include "platform/HttpTransfer.h"
#include "platform/MessageBox.h"
#include "settings/Language.h"
#include "settings/Texts.h"

#include <QDir>

namespace tarnwick {

bool FrmMainUpdater::ShowDownloadFailure()
{
    // The files that arrived before this one are in place, and listed "Done", before the
    // message shows.
    m_arrivedFiles->Commit();
    const QString crlf = QStringLiteral("\r\n");
    const QString text = Caption(lblsErrorDownloading) + crlf + Caption(lblsErrorDownloading2) + crlf + crlf +
                         Caption(lblsErrorDownloading3);
    Messages().Show(this, QString::fromLatin1(english::kAppTitle), text, MessageIcon::Information);
    pbDownloading->hide();
    cmdNext->hide();
    SetCaption(cmdCancel, Caption(lblsVersionExplain3));
    return false;
}

GroupCommit& FrmMainUpdater::GroupFor(const QString& path) const
{
    // The installed version is read from Preferences.ini: it takes its place only after every
    // other file has taken its own, so that a run that fails or is left still offers the update.
    const bool installedVersion = QDir::cleanPath(path) == QDir::cleanPath(PreferencesPath(AppFolder()));
    return installedVersion ? *m_lastFiles : *m_arrivedFiles;
}

bool FrmMainUpdater::DownloadFile(HttpTransfer& transfer, const QString& url, const QString& folder)
{
    const QString name = LocalFileName(url);
    if (!IsSafeLocalName(name))
        return transfer.StillExecuting() ? false : ShowDownloadFailure();

    const QString path = AppPath(folder, name);
    QTreeWidgetItem* item = lDownload->ItemByKey(url);
    GroupCommit& group = GroupFor(path);
    // A copy listed earlier gives way: the later one decides what the file holds.
    if (&group == m_lastFiles && !transfer.StillExecuting())
        m_lastFiles->Discard();
    switch (StageDownload(transfer, *m_diskWork, ListedChecks(item, url, path, folder), group, m_fetchAhead.get())) {
    case SaveOutcome::Current:
        if (item)
            DownloadList::SetStatus(item, QString::fromLatin1(status::kDone));
        return true;
    case SaveOutcome::Saved:
        if (!item)
            return true;
        if (&group == m_lastFiles)
            m_heldItems.append(item);  // its place is taken at the end of the queue
        else
            group.WhenCommitted([this, item](bool committed) {
                DownloadList::SetStatus(item, QString::fromLatin1(committed ? status::kDone : status::kFailed));
                if (!committed && !IsClosing())
                    ShowDownloadFailure();
            });
        return true;
    case SaveOutcome::Busy:
    case SaveOutcome::Cancelled:  // the user ended the program; nothing more to say
        return false;
    case SaveOutcome::Failed:
        break;
    }
    return ShowDownloadFailure();
}

}  // namespace tarnwick
