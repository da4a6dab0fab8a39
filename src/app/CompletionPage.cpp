// The completion step: the share of "Done" files on pbDownloading and, when every file is
// "Done", the completion page.
#include "app/FrmMainUpdater.h"

#include "settings/Language.h"
#include "settings/Texts.h"

namespace tarnwick {

void FrmMainUpdater::FinishDownloads()
{
    const int itemCount = lDownload->ItemCount();
    const int doneCount = lDownload->CountWithStatus(QString::fromLatin1(status::kDone));

    // Each setting stands alone: a value the bar refuses (a maximum of 0 for an empty list)
    // is skipped and the rest still applies.
    pbDownloading->SetMax(itemCount);
    pbDownloading->SetMin(0);
    pbDownloading->SetValue(doneCount);

    if (doneCount != itemCount)
        return;

    const QString language = ReadLanguageName(AppFolder());
    auto text = [&](const char* key, const char* english) { return WindowText(AppFolder(), language, key, english); };
    const QString closing = text("VersionExplain3", english::kVersionExplain3);
    const QString hint = text("NextToDownload2", english::kNextToDownload2);
    const QString headline = text("VersionExplain4", english::kVersionExplain4);

    lblNewVersion->hide();
    ShowClosingPage(headline, closing, hint);
}

}  // namespace tarnwick
