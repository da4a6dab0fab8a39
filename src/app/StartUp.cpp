// Start-up: everything that happens before the window is first shown. Each step that fails is
// skipped and the next one runs; none of them shows a message.
#include "app/FrmMainUpdater.h"

#include "download/SaveFile.h"
#include "platform/FolderLock.h"
#include "platform/HttpTransfer.h"
#include "platform/SingleInstance.h"
#include "settings/Language.h"
#include "settings/Texts.h"

namespace tarnwick {

bool FrmMainUpdater::IsAlreadyRunning()
{
    // Only "held by another updater" stops start-up; a lock that cannot be made at all must
    // not keep the user from updating.
    return m_instanceLock->TryTake(m_setup.lockFolder, QString::fromLatin1(kInstanceLockName)) ==
           SingleInstanceLock::State::HeldByAnother;
}

bool FrmMainUpdater::IsFolderTaken()
{
    // An updater of another user, or one started through sudo, passes the per-user lock; the
    // folder's own lock keeps it from sharing the files. Where no lock can be made (a read-only
    // folder) the run goes on as before, and nothing there is removed.
    const FolderLock::State state = m_folderLock->TryTake(AppFolder());
    if (state == FolderLock::State::Held)
        m_partRecord = PartRecord(m_folderLock->Descriptor(), AppFolder());
    return state == FolderLock::State::HeldByAnother;
}

StartUpResult FrmMainUpdater::RunStartUp()
{
    const QString language = ReadLanguageName(AppFolder());

    if (IsAlreadyRunning() || IsFolderTaken())
        return StartUpResult::EndProgram;
    // Only under the folder's lock: the part files of a running updater are not leftovers.
    if (m_folderLock->Current() == FolderLock::State::Held) {
        RemoveLeftoverParts(AppFolder());
        m_partRecord.RemoveListed();
    }

    const QString installedVersion = ReadInstalledVersion(AppFolder());

    // Translation replaces every caption, so whatever start-up writes into captions comes after.
    ApplyLanguage();
    SetCaption(lblWelcome3, Caption(lblWelcome3) + u' ' + installedVersion + u'.');
    SetCaption(lblOldVersion, installedVersion);

    // Nothing shows before this step ends, so it ends in time however the site answers: a
    // manifest and signature sent a byte at a time must not keep the window away either.
    inetCheckUpdate->SetDeadline(QDeadlineTimer(m_setup.startUpTimeout));
    const NewerUpdaterResult notice = CheckForNewerUpdater(language);
    inetCheckUpdate->SetDeadline(QDeadlineTimer(QDeadlineTimer::Forever));
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
