#include "update/ManifestDigests.h"

#include "update/Manifest.h"

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

}  // namespace

ManifestDigests ReadManifestDigests(const QString& document)
{
    const std::optional<QString> element = ManifestElement(document, QStringLiteral("sha256"));
    if (!element)
        return {};
    const QStringList parts = element->isEmpty()
                                  ? QStringList()
                                  : element->split(QStringLiteral("<br>"), Qt::KeepEmptyParts, Qt::CaseSensitive);
    const ManifestDigests malformed{ManifestDigests::State::Malformed, {}};
    if (parts.size() != ManifestFileNames(document).value_or(QStringList()).size())
        return malformed;
    ManifestDigests listed{ManifestDigests::State::Listed, {}};
    for (const QString& part : parts) {
        const QString digest = part.trimmed();
        if (!IsHexDigest(digest))
            return malformed;
        listed.digests.append(QByteArray::fromHex(digest.toLatin1()));
    }
    return listed;
}

bool ManifestDigestsAcceptable(const QString& document, bool signatureChecked)
{
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
