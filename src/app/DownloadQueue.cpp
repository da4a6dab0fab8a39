// The download queue: the list lDownload itself. Each run walks it from the first item and
// takes the first "Valid" one, until none is left; then the completion step runs.
#include "app/FrmMainUpdater.h"

#include "settings/Texts.h"

namespace tarnwick {

void FrmMainUpdater::DownloadNext()
{
    // Runs may nest (a state-change notification delivered inside a fetch or a message box
    // starts one); marking an item "Busy..." before its fetch keeps every run from taking it
    // twice, and DownloadFile refuses to start while the transfer is busy.
    while (!IsClosing()) {
        QTreeWidgetItem* item = lDownload->FirstValid();
        if (!item) {
            FinishDownloads();
            return;
        }
        DownloadList::SetStatus(item, QString::fromLatin1(status::kBusy));
        const bool saved = DownloadFile(*iDownload, DownloadList::Key(item), AppFolder());
        if (IsClosing())
            return;
        DownloadList::SetStatus(item, QString::fromLatin1(saved ? status::kDone : status::kFailed));
    }
}

}  // namespace tarnwick
