#include "update/ManifestDigests.h"

#include "update/Manifest.h"
#include "update/SiteFormat.h"

#include <algorithm>

namespace tarnwick {
namespace {

constexpr qsizetype kHexDigits = 64;

bool IsHexDigest(QStringView text)
{
    if (text.size() != kHexDigits)
        return false;
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    });
}

// The element's entries, split at "<br>" like the file names; nothing when it is absent.
std::optional<QStringList> Entries(const QString& document, const char* tagName)
{
    const std::optional<QString> element = ManifestElement(document, QString::fromLatin1(tagName));
    if (!element)
        return std::nullopt;
    return element->isEmpty() ? QStringList()
                              : element->split(QLatin1String(site::kSeparator), Qt::KeepEmptyParts, Qt::CaseSensitive);
}

bool OnePerFile(const QStringList& entries, const QString& document)
{
    return entries.size() == ManifestFileNames(document).value_or(QStringList()).size();
}

// One value of each entry (blanks around it ignored), one entry per file; Malformed at the first
// entry that gives none.
template <typename T, typename Parse>
std::pair<ManifestDigests::State, QList<T>> ReadPerFile(const QString& document, const char* tagName, Parse parse)
{
    const std::optional<QStringList> parts = Entries(document, tagName);
    if (!parts)
        return {ManifestDigests::State::Absent, {}};
    if (!OnePerFile(*parts, document))
        return {ManifestDigests::State::Malformed, {}};
    QList<T> values;
    for (const QString& part : *parts) {
        const std::optional<T> value = parse(part.trimmed());
        if (!value)
            return {ManifestDigests::State::Malformed, {}};
        values.append(*value);
    }
    return {ManifestDigests::State::Listed, values};
}

}  // namespace

ManifestDigests ReadManifestDigests(const QString& document)
{
    auto [state, digests] = ReadPerFile<QByteArray>(document, site::kDigests, [](const QString& digest) {
        return IsHexDigest(digest) ? std::optional(QByteArray::fromHex(digest.toLatin1())) : std::nullopt;
    });
    return {state, std::move(digests)};
}

ManifestSizes ReadManifestSizes(const QString& document)
{
    auto [state, sizes] =
        ReadPerFile<qint64>(document, site::kSizes, [](const QString& number) -> std::optional<qint64> {
            bool ok = false;
            const qint64 size = number.toLongLong(&ok);
            if (!ok || !std::all_of(number.begin(), number.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
                return std::nullopt;
            return size;
        });
    return {state, std::move(sizes)};
}

QList<PatchOffer> ReadManifestPatches(const QString& document)
{
    const std::optional<QStringList> parts = Entries(document, site::kPatches);
    if (!parts || !OnePerFile(*parts, document) ||
        ReadManifestDigests(document).state != ManifestDigests::State::Listed)
        return {};
    QList<PatchOffer> offers;
    for (const QString& part : *parts) {
        const QStringList digests = part.simplified().split(u' ', Qt::SkipEmptyParts);
        if (digests.isEmpty()) {
            offers.append(PatchOffer());
            continue;
        }
        // A patch is only a saving: a malformed element leaves every file to be fetched whole.
        if (digests.size() != 2 || !IsHexDigest(digests[0]) || !IsHexDigest(digests[1]))
            return {};
        offers.append(
            PatchOffer{QByteArray::fromHex(digests[0].toLatin1()), QByteArray::fromHex(digests[1].toLatin1())});
    }
    return offers;
}

bool ManifestDigestsAcceptable(const QString& document, bool signatureChecked)
{
    if (signatureChecked && ReadManifestSizes(document).state == ManifestDigests::State::Malformed)
        return false;
    switch (ReadManifestDigests(document).state) {
    case ManifestDigests::State::Absent:
        return !signatureChecked;
    case ManifestDigests::State::Listed:
        return true;
    case ManifestDigests::State::Malformed:
        break;
    }
    return false;
}

}  // namespace tarnwick
