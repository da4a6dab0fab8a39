// The download queue: the list lDownload itself. Each run walks it from the first item and
// takes the first "Valid" one, until none is left; then the completion step runs. A file that
// arrived whole waits, still "Busy...", until its group takes the old files' places; it turns
// "Done" there.
#include "app/FrmMainUpdater.h"

#include "download/GroupCommit.h"
#include "settings/Texts.h"

namespace tarnwick {

void FrmMainUpdater::DownloadNext()
{
    if (!m_arrivedFiles)
        m_arrivedFiles = new GroupCommit(this);
    GroupCommit* group = m_arrivedFiles;

    // Runs may nest (a state-change notification delivered inside a fetch or a message box
    // starts one); marking an item "Busy..." before its fetch keeps every run from taking it
    // twice, and DownloadFile refuses to start while the transfer is busy.
    while (!IsClosing()) {
        QTreeWidgetItem* item = lDownload->FirstValid();
        if (!item && group->IsEmpty()) {
            FinishDownloads();
            return;
        }
        if (!item) {
            group->Commit();
            continue;
        }
        DownloadList::SetStatus(item, QString::fromLatin1(status::kBusy));
        const bool saved = DownloadFile(*iDownload, DownloadList::Key(item), AppFolder());
        if (IsClosing())
            break;
        if (!saved) {
            DownloadList::SetStatus(item, QString::fromLatin1(status::kFailed));
            continue;
        }
        group->WhenCommitted([this, item](bool committed) {
            DownloadList::SetStatus(item, QString::fromLatin1(committed ? status::kDone : status::kFailed));
            if (!committed && !IsClosing())
                ShowDownloadFailure();
        });
        // A due group is flushed while the next files arrive, and put in place once flushed.
        group->Settle();
        if (group->Due())
            group->Seal();
    }
    // Files that arrived whole before the user left still take their places.
    group->Commit();
}

}  // namespace tarnwick
