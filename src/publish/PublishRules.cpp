#include "publish/PublishRules.h"

#include "download/LocalName.h"
#include "update/SiteFormat.h"

#include <QSet>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace tarnwick {
namespace {

// The updater takes versions and names exactly as written: one that holds a line break or starts
// with a blank is read as another, or a version as empty.
bool PlainText(const QString& text)
{
    return !text.isEmpty() && !text.front().isSpace() && !text.contains(u'\r') && !text.contains(u'\n');
}

}  // namespace

QString Shown(const QString& name)
{
    QString shown;
    for (const QChar c : name)
        shown += c.unicode() < 0x20 || c.unicode() == 0x7F ? u"\\x%1"_s.arg(uint(c.unicode()), 2, 16, QChar(u'0'))
                                                           : QString(c);
    return u'"' + shown + u'"';
}

std::optional<QString> RefusedVersion(const QString& version)
{
    if (!PlainText(version))
        return u"the version %1 is empty, holds a line break or starts with a blank"_s.arg(Shown(version));
    const QString folder = version.section(u' ', 0, 0);
    if (folder == u"."_s || folder == u".."_s || folder.contains(u'/') || folder.contains(u'\\') ||
        !IsSafeLocalName(folder))
        return u"the version %1 cannot name a folder of the site"_s.arg(Shown(version));
    return std::nullopt;
}

std::optional<QString> RefusedName(const QStringList& names)
{
    QSet<QString> seen;
    for (const QString& name : names) {
        if (!PlainText(name))
            return u"the file name %1 holds a line break or starts with a blank"_s.arg(Shown(name));
        if (!IsSafeLocalName(name))
            return u"the file name %1 is one the updater refuses to save (one of its own working names, a "
                   u"\"..\", a control character)"_s.arg(Shown(name));
        const QString folded = name.toCaseFolded();
        if (const QString manifest = QLatin1String(site::kManifest);
            folded == manifest || folded == manifest + QLatin1String(site::kSignatureSuffix))
            return u"the file name %1 is the manifest's own"_s.arg(Shown(name));
        if (seen.contains(folded))
            return u"the file name %1 is listed twice (letters of either case count as the same)"_s.arg(Shown(name));
        seen.insert(folded);
    }
    return std::nullopt;
}

int Refuse(const QString& message, const char* site)
{
    std::fprintf(stderr, "tarnwick-publish: %s; %s\n", qPrintable(message), site);
    return 1;
}

}  // namespace tarnwick
