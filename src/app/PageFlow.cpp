// The two buttons that move through the wizard's pages. The Tag holds the page key: "1" on the
// welcome page, "2" from the start of the check onwards; no page leads back.
#include "app/FrmMainUpdater.h"

#include "platform/DiskWork.h"
#include "platform/HttpTransfer.h"

namespace tarnwick {

void FrmMainUpdater::cmdNext_Click()
{
    if (m_closing)
        return;
    if (Tag() == QStringLiteral("1")) {
        lblExplain->hide();
        pbStatusCheck->show();
        tmrCheckUpdate->start();
        lDownload->show();
        cmdNext->setEnabled(false);
        SetTag(QStringLiteral("2"));
    } else if (Tag() == QStringLiteral("2")) {
        // A press while the downloads run (Next stays enabled during them) would start a
        // second queue that finds the transfer busy and silently fails the next file.
        if (m_downloadRunActive)
            return;
        m_downloadRunActive = true;
        pbStatusCheck->hide();
        lDownload->show();
        lblNextToDownload->hide();
        lblDownloading->show();
        pbDownloading->show();
        DownloadNext();
        if (!m_closing)
            FinishDownloads();
        m_downloadRunActive = false;
    }
}

void FrmMainUpdater::ShowClosingPage(const QString& headline, const QString& closingCaption, const QString& hint)
{
    lblVersionExplain->show();
    SetCaption(lblVersionExplain, headline);
    cmdNext->hide();
    SetCaption(cmdCancel, closingCaption);
    lblNextToDownload->show();
    SetCaption(lblNextToDownload, hint);
}

void FrmMainUpdater::cmdCancel_Click()
{
    if (m_closing)
        return;
    // Whatever waits (a tick, a fetch, a download) sees m_closing when control comes back to
    // it and stops without touching the window or the disk again.
    m_closing = true;
    tmrCheckUpdate->stop();
    inetCheckUpdate->Abort();
    iDownload->Abort();
    m_diskWork->Stop();
    hide();
    m_setup.endProgram();
}

}  // namespace tarnwick
