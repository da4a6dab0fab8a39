// Fetching one file of the update and saving it in the application folder under its own name;
// the one download error message when that fails.
#include "app/FrmMainUpdater.h"

#include "app/ListedDigest.h"
#include "download/GroupCommit.h"
#include "download/LocalName.h"
#include "download/SaveFile.h"
#include "platform/AppFolder.h"
#include "platform/HttpTransfer.h"
#include "platform/MessageBox.h"
#include "settings/Texts.h"

namespace tarnwick {

bool FrmMainUpdater::ShowDownloadFailure()
{
    // The files that arrived before this one are in place, and listed "Done", before the
    // message shows.
    if (m_arrivedFiles)
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

bool FrmMainUpdater::DownloadFile(HttpTransfer& transfer, const QString& url, const QString& folder)
{
    const QString name = LocalFileName(url);
    if (!IsSafeLocalName(name))
        return transfer.StillExecuting() ? false : ShowDownloadFailure();

    // Within a run of the queue the file waits in its group; alone it is put in place at once.
    const QString path = AppPath(folder, name);
    const QByteArray digest = ListedDigest(lDownload->ItemByKey(url));
    switch (m_arrivedFiles ? StageDownload(transfer, url, path, digest, *m_arrivedFiles)
                           : SaveDownload(transfer, url, path, digest)) {
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
