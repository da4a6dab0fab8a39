#include "update/Manifest.h"

#include "update/SiteFormat.h"

namespace tarnwick {
namespace {

// Where the next opening or closing tag of this name starts, and how long it is.
struct TagHit {
    qsizetype position = -1;
    qsizetype length = 0;
};

TagHit FindTag(const QString& document, const QString& openTag, const QString& closeTag, qsizetype from)
{
    const qsizetype open = document.indexOf(openTag, from, Qt::CaseInsensitive);
    const qsizetype close = document.indexOf(closeTag, from, Qt::CaseInsensitive);
    if (open < 0 && close < 0)
        return {};
    if (close < 0 || (open >= 0 && open < close))
        return {open, openTag.size()};
    return {close, closeTag.size()};
}

std::optional<QString> VersionValue(const QString& document, const QString& tagName)
{
    const std::optional<QString> value = ManifestElement(document, tagName);
    if (!value || value->isEmpty())
        return std::nullopt;
    const qsizetype space = value->indexOf(u' ');
    return space < 0 ? *value : value->left(space);
}

}  // namespace

// Closing tags count as opening ones, so the value is the text after the first tag of either
// kind up to the next tag of either kind (or the end of the document).
std::optional<QString> ManifestElement(const QString& document, const QString& tagName)
{
    const QString openTag = u'<' + tagName + u'>';
    const QString closeTag = QStringLiteral("</") + tagName + u'>';
    const TagHit first = FindTag(document, openTag, closeTag, 0);
    if (first.position < 0)
        return std::nullopt;
    const qsizetype begin = first.position + first.length;
    const TagHit next = FindTag(document, openTag, closeTag, begin);
    return document.mid(begin, next.position < 0 ? -1 : next.position - begin);
}

std::optional<QString> ManifestVersion(const QString& document)
{
    return VersionValue(document, QLatin1String(site::kVersion));
}

std::optional<QString> ManifestUpdaterVersion(const QString& document)
{
    return VersionValue(document, QLatin1String(site::kNewUpdater));
}

std::optional<QStringList> ManifestFileNames(const QString& document)
{
    const std::optional<QString> value = ManifestElement(document, QLatin1String(site::kFiles));
    if (!value)
        return std::nullopt;
    if (value->isEmpty())
        return QStringList();
    return value->split(QLatin1String(site::kSeparator), Qt::KeepEmptyParts, Qt::CaseSensitive);
}

VersionOrder CompareVersionText(const QString& a, const QString& b)
{
    const int order = QString::compare(a, b, Qt::CaseSensitive);
    if (order < 0)
        return VersionOrder::Less;
    return order == 0 ? VersionOrder::Equal : VersionOrder::Greater;
}

bool AnnouncesNewerUpdater(const QString& document)
{
    const std::optional<QString> published = ManifestUpdaterVersion(document);
    return published && CompareVersionText(QString::fromLatin1(kUpdaterVersion), *published) == VersionOrder::Less;
}

}  // namespace tarnwick
