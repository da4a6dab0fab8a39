// The download queue: the list lDownload itself. Each run walks it from the first item and
// takes the first "Valid" one, until none is left; then the completion step runs. A file that
// arrived whole waits, still "Busy...", until its group takes the old files' places; it turns
// "Done" there. The installed Preferences.ini waits for the end of the queue.
#include "app/FrmMainUpdater.h"

#include "app/ListedChecks.h"
#include "download/FetchAhead.h"
#include "download/GroupCommit.h"
#include "download/LocalName.h"
#include "platform/AppFolder.h"
#include "settings/Texts.h"

#include <utility>

namespace tarnwick {

void FrmMainUpdater::DownloadNext()
{
    GroupCommit* group = m_arrivedFiles;

    // Runs may nest (a state-change notification delivered inside a fetch or a message box
    // starts one); marking an item "Busy..." before its fetch keeps every run from taking it
    // twice, and DownloadFile refuses to start while the transfer is busy.
    while (!IsClosing()) {
        QTreeWidgetItem* item = lDownload->FirstValid();
        if (!item && group->IsEmpty()) {
            m_fetchAhead->Clear();
            PutLastFilesInPlace();
            FinishDownloads();
            return;
        }
        if (!item) {
            group->Commit();
            continue;
        }
        DownloadList::SetStatus(item, QString::fromLatin1(status::kBusy));
        FetchAheadOf(item);
        const bool saved = DownloadFile(*iDownload, DownloadList::Key(item), AppFolder());
        if (IsClosing())
            break;
        if (!saved) {
            DownloadList::SetStatus(item, QString::fromLatin1(status::kFailed));
            continue;
        }
        // A due group is flushed while the next files arrive, and put in place once flushed.
        group->Settle();
        if (group->Due())
            group->Seal();
    }
    // Files that arrived whole before the user left still take their places; Preferences.ini
    // does not, so that the next run offers the same update again. Nothing fetched ahead stays.
    m_fetchAhead->Clear();
    group->Commit();
    m_lastFiles->Discard();
}

void FrmMainUpdater::PutLastFilesInPlace()
{
    if (m_heldItems.isEmpty())
        return;
    const QList<QTreeWidgetItem*> held = std::exchange(m_heldItems, {});
    const bool othersDone =
        lDownload->CountWithStatus(QString::fromLatin1(status::kDone)) + held.size() == lDownload->ItemCount();
    const bool placed = othersDone && m_lastFiles->Commit() == 0;
    m_lastFiles->Discard();
    // Kept back because another file failed, it stays "Failed" without a message of its own:
    // that file's message has been shown.
    for (QTreeWidgetItem* item : held)
        DownloadList::SetStatus(item, QString::fromLatin1(placed ? status::kDone : status::kFailed));
    if (othersDone && !placed && !IsClosing())
        ShowDownloadFailure();
}

void FrmMainUpdater::FetchAheadOf(QTreeWidgetItem* current)
{
    // The "Valid" files after this one, in list order, as far as fetches fit in flight; a look
    // goes no further than this many entries, so that a long run of files that need nothing
    // costs each turn little.
    constexpr int kLookAhead = 64;
    const int next = lDownload->indexOfTopLevelItem(current) + 1;
    const QString turn = DownloadList::Key(current);
    for (int i = next; i < std::min(lDownload->ItemCount(), next + kLookAhead); ++i) {
        QTreeWidgetItem* item = lDownload->Item(i);
        const QString url = DownloadList::Key(item);
        if (m_fetchAhead->Looked(url) || DownloadList::Status(item) != QLatin1String(status::kValid))
            continue;
        const QString path = AppPath(AppFolder(), LocalFileName(url));
        if (!m_fetchAhead->Consider(ListedChecks(item, url, path, AppFolder()), turn))
            return;
    }
}

}  // namespace tarnwick
