// Start-up: everything that happens before the window is first shown. Each step that fails is
// skipped and the next one runs; none of them shows a message.
#include "app/FrmMainUpdater.h"

#include "download/SaveFile.h"
#include "platform/HttpTransfer.h"
#include "platform/SingleInstance.h"
#include "settings/Language.h"
#include "settings/Texts.h"

#include <algorithm>

namespace tarnwick {

bool FrmMainUpdater::IsAlreadyRunning()
{
    // Only "held by another updater" stops start-up; a lock that cannot be made at all must
    // not keep the user from updating.
    return m_instanceLock->TryTake(m_setup.lockFolder, QString::fromLatin1(kInstanceLockName)) ==
           SingleInstanceLock::State::HeldByAnother;
}

StartUpResult FrmMainUpdater::RunStartUp()
{
    const QString language = ReadLanguageName(AppFolder());

    if (IsAlreadyRunning())
        return StartUpResult::EndProgram;
    // Only now, holding the lock: the part files of a running updater are not leftovers.
    RemoveLeftoverParts(AppFolder());

    const QString installedVersion = ReadInstalledVersion(AppFolder());

    // Translation replaces every caption, so whatever start-up writes into captions comes after.
    ApplyLanguage();
    SetCaption(lblWelcome3, Caption(lblWelcome3) + u' ' + installedVersion + u'.');
    SetCaption(lblOldVersion, installedVersion);

    inetCheckUpdate->SetRequestTimeout(std::min(m_setup.startUpTimeout, m_setup.requestTimeout));
    const NewerUpdaterResult notice = CheckForNewerUpdater(language);
    inetCheckUpdate->SetRequestTimeout(m_setup.requestTimeout);
    if (notice == NewerUpdaterResult::NoticeGiven)
        return StartUpResult::EndProgram;

    SetTag(QStringLiteral("1"));
    SetCaption(lblLanguage, ReadLanguageName(AppFolder()));
    FillTextCarriers(language);
    return StartUpResult::ShowWindow;
}

void FrmMainUpdater::FillTextCarriers(const QString& language)
{
    auto text = [&](const char* key, const char* english) { return WindowText(AppFolder(), language, key, english); };
    SetCaption(lblsErrorDownloading, text("ErrorDownloading", english::kErrorDownloading));
    SetCaption(lblsErrorDownloading2, text("ErrorDownloading2", english::kErrorDownloading2));
    SetCaption(lblsErrorDownloading3, text("ErrorDownloading3", english::kErrorDownloading3));
    SetCaption(lblsVersionExplain3, text("VersionExplain3", english::kVersionExplain3));
}

}  // namespace tarnwick
