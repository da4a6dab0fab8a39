#include "download/DownloadQueue.h"

#include "app/FrmMainUpdater.h"
#include "download/CompletionPage.h"
#include "download/DownloadFile.h"
#include "settings/Texts.h"

namespace tarnwick {

void DownloadNext(FrmMainUpdater& window)
{
    // Runs may nest (a state-change notification delivered inside a fetch or a message box
    // starts one); marking an item "Busy..." before its fetch keeps every run from taking it
    // twice, and DownloadFile refuses to start while the transfer is busy.
    const QString valid = QString::fromLatin1(status::kValid);
    while (!window.IsClosing()) {
        QTreeWidgetItem* item = window.lDownload->FirstWithStatus(valid);
        if (!item) {
            FinishDownloads(window);
            return;
        }
        DownloadList::SetStatus(item, QString::fromLatin1(status::kBusy));
        const bool saved = DownloadFile(*window.iDownload, DownloadList::Key(item), window.AppFolder(), window);
        if (window.IsClosing())
            return;
        DownloadList::SetStatus(item, QString::fromLatin1(saved ? status::kDone : status::kFailed));
    }
}

}  // namespace tarnwick
