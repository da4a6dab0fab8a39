#include "update/ManifestWriter.h"

#include "settings/FetchedText.h"
#include "update/Manifest.h"
#include "update/SiteFormat.h"

namespace tarnwick {
namespace {

QString Element(const char* tag, const QString& value)
{
    return u'<' + QLatin1String(tag) + u'>' + value + QLatin1String("</") + QLatin1String(tag) + QLatin1String(">\r\n");
}

QString PatchEntry(const PatchOffer& offer)
{
    if (offer.fromSha256.isEmpty())
        return {};
    return QString::fromLatin1(offer.fromSha256.toHex() + ' ' + offer.patchSha256.toHex());
}

bool SamePatches(const QList<PatchOffer>& a, const QList<PatchOffer>& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].fromSha256 != b[i].fromSha256 || (!a[i].fromSha256.isEmpty() && a[i].patchSha256 != b[i].patchSha256))
            return false;
    }
    return true;
}

// The patches as the updater reads them back: an element whose entries are all empty reads as
// one with no patch at all.
QList<PatchOffer> Offered(const QList<PatchOffer>& patches)
{
    for (const PatchOffer& offer : patches) {
        if (!offer.fromSha256.isEmpty())
            return patches;
    }
    return {};
}

}  // namespace

QByteArray WriteManifest(const ManifestContent& content)
{
    QStringList digests;
    for (const QByteArray& digest : content.digests)
        digests.append(QString::fromLatin1(digest.toHex()));
    QString text = Element(site::kDigests, digests.join(QLatin1String(site::kSeparator)));
    if (!Offered(content.patches).isEmpty()) {
        QStringList entries;
        for (const PatchOffer& offer : content.patches)
            entries.append(PatchEntry(offer));
        text += Element(site::kPatches, entries.join(QLatin1String(site::kSeparator)));
    }
    if (!content.sizes.isEmpty()) {
        QStringList sizes;
        for (const qint64 size : content.sizes)
            sizes.append(QString::number(size));
        text += Element(site::kSizes, sizes.join(QLatin1String(site::kSeparator)));
    }
    text += Element(site::kNewUpdater, content.newUpdater) + Element(site::kVersion, content.version) +
            Element(site::kFiles, content.names.join(QLatin1String(site::kSeparator)));
    return text.toUtf8();
}

std::optional<QString> ReadBackMismatch(const QByteArray& written, const ManifestContent& content)
{
    const QString document = DecodeFetchedText(written);
    const QString version = content.version.section(u' ', 0, 0);
    if (ManifestVersion(document).value_or(QString()) != version || version.isEmpty())
        return QStringLiteral("the version");
    if (ManifestUpdaterVersion(document) != content.newUpdater.section(u' ', 0, 0))
        return QStringLiteral("the newest updater's version");
    if (ManifestFileNames(document) != content.names)
        return QStringLiteral("the file names");
    if (ReadManifestSizes(document).sizes != content.sizes)
        return QStringLiteral("the sizes");
    const ManifestDigests digests = ReadManifestDigests(document);
    if (digests.state != ManifestDigests::State::Listed || digests.digests != content.digests ||
        !ManifestDigestsAcceptable(document, true))
        return QStringLiteral("the digests");
    if (!SamePatches(ReadManifestPatches(document), Offered(content.patches)))
        return QStringLiteral("the patches");
    return std::nullopt;
}

}  // namespace tarnwick
