// Fetching one file of the update and saving it in the application folder under its own name;
// the one download error message when that fails.
#include "app/FrmMainUpdater.h"

#include "app/ListedDigest.h"
#include "download/LocalName.h"
#include "download/SaveFile.h"
#include "platform/AppFolder.h"
#include "platform/HttpTransfer.h"
#include "platform/MessageBox.h"
#include "settings/Texts.h"

namespace tarnwick {
namespace {

// The digest the manifest gave for this URL, kept on its list entry. The queue takes entries
// from the top and marks each "Busy..." before its fetch, so that entry sits just above the
// first one still "Valid", or is the last: found without walking a long list for every file.
// Any other order (a caller other than the queue) is covered by a walk.
QByteArray DigestForFetch(DownloadList& list, const QString& url)
{
    const QString busy = QString::fromLatin1(status::kBusy);
    auto isFetched = [&](const QTreeWidgetItem* item) {
        return item && DownloadList::HasStatus(item, busy) && DownloadList::Key(item) == url;
    };
    QTreeWidgetItem* next = list.FirstValid();
    const QTreeWidgetItem* fetched = next ? list.itemAbove(next) : list.Item(list.ItemCount() - 1);
    for (int i = 0; !isFetched(fetched) && i < list.ItemCount(); ++i)
        fetched = list.Item(i);
    return isFetched(fetched) ? ListedDigest(fetched) : QByteArray();
}

}  // namespace

bool FrmMainUpdater::ShowDownloadFailure()
{
    const QString crlf = QStringLiteral("\r\n");
    const QString text = Caption(lblsErrorDownloading) + crlf + Caption(lblsErrorDownloading2) + crlf + crlf +
                         Caption(lblsErrorDownloading3);
    Messages().Show(this, QString::fromLatin1(english::kAppTitle), text, MessageIcon::Information);
    pbDownloading->hide();
    cmdNext->hide();
    SetCaption(cmdCancel, Caption(lblsVersionExplain3));
    return false;
}

bool FrmMainUpdater::DownloadFile(HttpTransfer& transfer, const QString& url, const QString& folder)
{
    const QString name = LocalFileName(url);
    if (!IsSafeLocalName(name))
        return transfer.StillExecuting() ? false : ShowDownloadFailure();

    switch (SaveDownload(transfer, url, AppPath(folder, name), DigestForFetch(*lDownload, url))) {
    case SaveOutcome::Saved:
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
