// At start-up, before any window shows: when the update site publishes a newer updater, tell
// the user, open the product web site and end.
#include "app/FrmMainUpdater.h"

#include "platform/Browser.h"
#include "platform/MessageBox.h"
#include "settings/Language.h"
#include "settings/Texts.h"
#include "update/Manifest.h"
#include "update/ManifestFetch.h"
#include "update/SiteAddress.h"

namespace tarnwick {

NewerUpdaterResult FrmMainUpdater::CheckForNewerUpdater(const QString& language)
{
    const QString installed = Caption(lblOldVersion);
    const std::optional<QString> manifest = FetchManifestText(
        *inetCheckUpdate, ManifestUrl(Setup().updateSite, installed), kManifestAttempts, Setup().signingKey, installed);
    if (!manifest || !AnnouncesNewerUpdater(*manifest))
        return NewerUpdaterResult::GoOn;

    const QString webSite = Setup().webSite;
    auto text = [&](const char* key, const QString& english) {
        return LanguageText(AppFolder(), language, QString::fromLatin1(kGeneralSection), QString::fromLatin1(key),
                            english);
    };
    const QString line1 = text("NewUpdater", QString::fromLatin1(english::kNewUpdater));
    const QString line2 =
        text("NewUpdater2", QString::fromLatin1(english::kNewUpdater2Before) + WebSiteDomain(webSite) +
                                QString::fromLatin1(english::kNewUpdater2After));
    Messages().Show(nullptr, QString::fromLatin1(english::kAppTitle), line1 + QStringLiteral("\r\n") + line2,
                    MessageIcon::None);
    WebBrowser().Open(webSite);  // a browser that does not start must not keep the updater open
    return NewerUpdaterResult::NoticeGiven;
}

}  // namespace tarnwick
