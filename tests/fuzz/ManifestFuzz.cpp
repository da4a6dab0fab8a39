// Fuzz target: any bytes a site may send, through the one decoding step and every manifest
// reader, with the properties the check run relies on checked on each input.
#include "settings/FetchedText.h"
#include "update/Manifest.h"

#include <cstdint>
#include <cstdlib>

using namespace tarnwick;

namespace {

void Require(bool holds)
{
    if (!holds)
        std::abort();
}

VersionOrder Reversed(VersionOrder order)
{
    if (order == VersionOrder::Less)
        return VersionOrder::Greater;
    return order == VersionOrder::Greater ? VersionOrder::Less : VersionOrder::Equal;
}

void CheckVersion(const QString& text, const QString& tagName, const std::optional<QString>& version)
{
    const std::optional<QString> element = ManifestElement(text, tagName);
    if (!version) {
        Require(!element || element->isEmpty());
        return;
    }
    // The version is the element up to its first blank, so never longer and never holding one.
    Require(element && element->startsWith(*version) && !version->contains(u' '));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString text = DecodeFetchedText(bytes);
    // UTF-8 comes back byte for byte (a leading byte-order mark is dropped); anything else is
    // one character per byte.
    const QByteArray bom("\xEF\xBB\xBF");
    Require(text.toUtf8() == bytes || bom + text.toUtf8() == bytes || text.size() == bytes.size());

    CheckVersion(text, QStringLiteral("ver"), ManifestVersion(text));
    CheckVersion(text, QStringLiteral("newupdater"), ManifestUpdaterVersion(text));

    const std::optional<QStringList> names = ManifestFileNames(text);
    const std::optional<QString> file = ManifestElement(text, QStringLiteral("file"));
    Require(names.has_value() == file.has_value());
    if (names && !file->isEmpty())
        Require(names->join(QStringLiteral("<br>")) == *file);

    // Split the text in two and compare the halves both ways: an order, and a strict one.
    const QString a = text.left(text.size() / 2);
    const QString b = text.mid(text.size() / 2);
    Require(CompareVersionText(a, a) == VersionOrder::Equal);
    Require(CompareVersionText(b, a) == Reversed(CompareVersionText(a, b)));
    return 0;
}
