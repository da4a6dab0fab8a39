#include "publish/PublishOptions.h"

#include "publish/PublishRules.h"
#include "update/Manifest.h"

#include <QSet>

using namespace Qt::Literals::StringLiterals;

namespace tarnwick {
namespace {

// Whatever the options say beyond their form: versions the updater reads as meant, each
// earlier version named once and older than the release.
QString Unsound(const PublishOptions& options)
{
    if (options.resign)
        return options.site.isEmpty() || !options.release.isEmpty() || options.expiresDays <= 0
                   ? u"--resign takes --site and --expires, and no release"_s
                   : QString();
    if (options.site.isEmpty() || options.release.isEmpty())
        return u"--site and --release are needed"_s;
    for (const QString& version : {options.release, options.newUpdater}) {
        if (const std::optional<QString> refused = RefusedVersion(version))
            return *refused;
    }
    const QString release = options.release.section(u' ', 0, 0);
    QSet<QString> seen;
    for (const ShippedVersion& shipped : options.shipped) {
        if (const std::optional<QString> refused = RefusedVersion(shipped.version))
            return *refused;
        if (shipped.version.contains(u' ') || seen.contains(shipped.version))
            return u"the earlier version %1 is named twice or holds a blank"_s.arg(Shown(shipped.version));
        if (CompareVersionText(shipped.version, release) != VersionOrder::Less)
            return u"the earlier version %1 is not older than %2 (versions compare as text)"_s.arg(
                Shown(shipped.version), Shown(release));
        seen.insert(shipped.version);
    }
    return {};
}

// How many values follow the option; -1 for an option that does not exist.
qsizetype ValueCount(const QString& option)
{
    if (option == u"--release"_s)
        return 2;
    if (option == u"-q"_s || option == u"-h"_s || option == u"--help"_s || option == u"--resign"_s)
        return 0;
    const QStringList oneValue{u"--site"_s,          u"--shipped"_s,     u"-s"_s,      u"--newupdater"_s,
                               u"--password-file"_s, u"--password-fd"_s, u"--expires"_s};
    return oneValue.contains(option) ? 1 : -1;
}

}  // namespace

ParsedOptions ParsePublishOptions(const QStringList& arguments)
{
    ParsedOptions parsed;
    PublishOptions& options = parsed.options;
    options.newUpdater = QString::fromLatin1(kUpdaterVersion);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& option = arguments[i];
        const qsizetype values = ValueCount(option);
        if (values < 0) {
            parsed.error = u"unknown option %1"_s.arg(Shown(option));
            return parsed;
        }
        if (i + values >= arguments.size()) {
            parsed.error = u"%1 needs %2"_s.arg(option, values == 2 ? u"a version and a folder"_s : u"a value"_s);
            return parsed;
        }
        const QString value = values > 0 ? arguments[i + 1] : QString();
        if (option == u"--site"_s) {
            options.site = value;
        } else if (option == u"--release"_s) {
            options.release = value;
            options.releaseFolder = arguments[i + 2];
        } else if (option == u"--shipped"_s) {
            options.shipped.append({value.section(u'=', 0, 0), value.section(u'=', 1)});
        } else if (option == u"-s"_s) {
            options.keyFile = value;
        } else if (option == u"--password-file"_s) {
            options.passwordFile = value;
        } else if (option == u"--password-fd"_s) {
            bool number = false;
            options.passwordFd = value.toInt(&number);
            if (!number || options.passwordFd < 0) {
                parsed.error = u"--password-fd needs a descriptor's number"_s;
                return parsed;
            }
        } else if (option == u"--newupdater"_s) {
            options.newUpdater = value;
        } else if (option == u"--expires"_s) {
            // Up to a century: a number of days that the updater's clock arithmetic holds.
            bool number = false;
            options.expiresDays = value.toInt(&number);
            if (!number || options.expiresDays < 1 || options.expiresDays > 36500) {
                parsed.error = u"--expires needs a number of days from 1 to 36500"_s;
                return parsed;
            }
        } else if (option == u"--resign"_s) {
            options.resign = true;
        } else if (option == u"-q"_s) {
            options.quiet = true;
        } else {
            options.help = true;
            return parsed;
        }
        i += values;
    }
    parsed.error = Unsound(options);
    return parsed;
}

QString PublishUsage()
{
    return uR"(Usage: tarnwick-publish --site SITE --release VERSION DIR [--shipped VERSION[=SHIPPED]]...
                        [-s SECRET_KEY] [--password-file FILE | --password-fd N]
                        [--newupdater VERSION] [--expires DAYS] [-q]
       tarnwick-publish --resign --site SITE --expires DAYS [-s SECRET_KEY]
                        [--password-file FILE | --password-fd N] [-q]

Publishes the release VERSION, whose files are every file below DIR (laid out as in the product
folder), for each earlier version named with --shipped: SITE/VERSION/ of each earlier version
gets the files, check.update listing them with their digests, and the patches; SITE/VERSION/ of
the release gets a check.update saying it is up to date. Every check.update is signed with
minisign (check.update.minisig) and every folder replaced only once all of them are ready.

  --site SITE          the update site's folder, e.g. site/updater
  --release VERSION DIR
                       the new version ("0.5", or "0.5 second beta": the label is shown, the
                       folder is 0.5) and its files
  --shipped VERSION[=SHIPPED]
                       an earlier version that updates to this one; SHIPPED holds its files
                       exactly as it shipped them, laid out as DIR: a file that changed gets a
                       patch, NAME.zst-patch, when the patch is at most 3/4 of the file's size
                       and neither copy is over 2 GiB
  -s SECRET_KEY        the minisign secret key (default: minisign's own, ~/.minisign/minisign.key)
  --password-file FILE the key's password, on the first line of FILE
  --password-fd N      the key's password, on the first line read from descriptor N (0: the
                       standard input); without either, a key with a password is asked for on
                       the terminal, and with no terminal the run fails at once
  --newupdater VERSION the newest updater (default: this updater's own version)
  --expires DAYS       each signature expires after DAYS days and names its folder; an updater
                       with a key built in takes no manifest whose signature has expired
  --resign             only sign every SITE/VERSION/check.update again, with a fresh expiry
  -q                   no progress and no summary
)"_s;
}

}  // namespace tarnwick
