#include "update/NewerUpdater.h"

#include "app/FrmMainUpdater.h"
#include "platform/Browser.h"
#include "platform/HttpTransfer.h"
#include "platform/MessageBox.h"
#include "settings/Language.h"
#include "settings/Texts.h"
#include "update/Manifest.h"
#include "update/ManifestFetch.h"
#include "update/SiteAddress.h"

#include <optional>

namespace tarnwick {
namespace {

std::optional<QString> PublishedUpdaterVersion(FrmMainUpdater& window)
{
    const std::optional<QString> manifest = FetchManifestText(
        *window.inetCheckUpdate, ManifestUrl(window.Setup().updateSite, Caption(window.lblOldVersion)),
        kManifestAttempts);
    if (!manifest)
        return std::nullopt;
    return ManifestUpdaterVersion(*manifest);
}

}  // namespace

NewerUpdaterResult CheckForNewerUpdater(FrmMainUpdater& window, const QString& language)
{
    const std::optional<QString> published = PublishedUpdaterVersion(window);
    if (!published || CompareVersionText(QString::fromLatin1(kUpdaterVersion), *published) != VersionOrder::Less)
        return NewerUpdaterResult::GoOn;

    const QString webSite = window.Setup().webSite;
    auto text = [&](const char* key, const QString& english) {
        return LanguageText(window.AppFolder(), language, QString::fromLatin1(kGeneralSection),
                            QString::fromLatin1(key), english);
    };
    const QString line1 = text("NewUpdater", QString::fromLatin1(english::kNewUpdater));
    const QString line2 = text("NewUpdater2", QString::fromLatin1(english::kNewUpdater2Before) +
                                                  WebSiteDomain(webSite) +
                                                  QString::fromLatin1(english::kNewUpdater2After));
    window.Messages().Show(nullptr, QString::fromLatin1(english::kAppTitle), line1 + QStringLiteral("\r\n") + line2,
                           MessageIcon::None);
    window.WebBrowser().Open(webSite);  // a browser that does not start must not keep the updater open
    return NewerUpdaterResult::NoticeGiven;
}

}  // namespace tarnwick
