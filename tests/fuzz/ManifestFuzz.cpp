// Fuzz target: any bytes a site may send, through the one decoding step and the manifest reader.
#include "settings/FetchedText.h"
#include "update/Manifest.h"

using namespace Qt::Literals::StringLiterals;
using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString text = DecodeFetchedText(bytes);
    const QByteArray utf8 = bytes.startsWith("\xEF\xBB\xBF") ? bytes.sliced(3) : bytes;
    if (!StartsWithUtf16Mark(bytes) && text.size() != bytes.size() && text.toUtf8() != utf8)
        qFatal("neither the same UTF-8 nor one character per byte");
    const std::optional<QString> version = ManifestVersion(text), element = ManifestElement(text, u"ver"_s);
    if (version.has_value() != (element && !element->isEmpty()) ||
        (version && (!element->startsWith(*version) || version->contains(u' '))))
        qFatal("the version is not its element up to the first blank");
    const std::optional<QStringList> names = ManifestFileNames(text);
    const std::optional<QString> files = ManifestElement(text, u"file"_s);
    if (names.has_value() != files.has_value() || (names && names->join(u"<br>"_s) != *files))
        qFatal("the file names do not join back into their element");
    return 0;
}
