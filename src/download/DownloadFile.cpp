#include "download/DownloadFile.h"

#include "app/FrmMainUpdater.h"
#include "download/LocalName.h"
#include "platform/HttpTransfer.h"
#include "platform/MessageBox.h"
#include "settings/Language.h"
#include "settings/Texts.h"

#include <QFileInfo>
#include <QSaveFile>

namespace tarnwick {
namespace {

// The product may be running and hold the file, or the file may be marked read-only: such a
// file is not replaced. The permission bits are asked directly because a privileged user may
// write anyway, and a read-only mark must hold for everyone.
bool IsReadOnlyFile(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile() && !(info.permissions() & QFileDevice::WriteOwner);
}

bool ShowDownloadFailure(FrmMainUpdater& window)
{
    const QString crlf = QStringLiteral("\r\n");
    const QString text = Caption(window.lblsErrorDownloading) + crlf + Caption(window.lblsErrorDownloading2) +
                         crlf + crlf + Caption(window.lblsErrorDownloading3);
    window.Messages().Show(&window, QString::fromLatin1(english::kAppTitle), text, MessageIcon::Information);
    window.pbDownloading->hide();
    window.cmdNext->hide();
    SetCaption(window.cmdCancel, Caption(window.lblsVersionExplain3));
    return false;
}

}  // namespace

bool DownloadFile(HttpTransfer& transfer, const QString& url, const QString& folder, FrmMainUpdater& window)
{
    if (transfer.StillExecuting())
        return false;

    const QString name = LocalFileName(url);
    if (!IsSafeLocalName(name))
        return ShowDownloadFailure(window);
    const QString path = AppPath(folder, name);
    if (IsReadOnlyFile(path))
        return ShowDownloadFailure(window);

    // The body goes into a temporary file beside the target, which replaces the target only
    // once every byte is on disk: a broken transfer or a full disk leaves the old file whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return ShowDownloadFailure(window);

    const FetchResult result = transfer.OpenUrlInto(url, file);
    if (result.cancelled()) {
        file.cancelWriting();
        return false;  // the user ended the program; nothing more to say
    }
    if (!result.ok()) {
        file.cancelWriting();
        return ShowDownloadFailure(window);
    }
    if (!file.commit())
        return ShowDownloadFailure(window);
    return true;
}

}  // namespace tarnwick
