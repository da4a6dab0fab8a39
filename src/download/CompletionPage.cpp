#include "download/CompletionPage.h"

#include "app/FrmMainUpdater.h"
#include "settings/Language.h"
#include "settings/Texts.h"

namespace tarnwick {

void FinishDownloads(FrmMainUpdater& window)
{
    const int itemCount = window.lDownload->ItemCount();
    const int doneCount = window.lDownload->CountWithStatus(QString::fromLatin1(status::kDone));

    // Each setting stands alone: a value the bar refuses (a maximum of 0 for an empty list)
    // is skipped and the rest still applies.
    window.pbDownloading->SetMax(itemCount);
    window.pbDownloading->SetMin(0);
    window.pbDownloading->SetValue(doneCount);

    if (doneCount != itemCount)
        return;

    const QString language = ReadLanguageName(window.AppFolder());
    auto text = [&](const char* key, const char* english) {
        return WindowText(window.AppFolder(), language, key, english);
    };
    const QString closing = text("VersionExplain3", english::kVersionExplain3);
    const QString hint = text("NextToDownload2", english::kNextToDownload2);
    const QString headline = text("VersionExplain4", english::kVersionExplain4);

    window.lblNewVersion->hide();
    window.ShowClosingPage(headline, closing, hint);
}

}  // namespace tarnwick
