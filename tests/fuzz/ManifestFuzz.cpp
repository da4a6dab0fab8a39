// Fuzz target: any bytes a site may send, through the one decoding step, the manifest reader and the
// trusted-comment judgement.
#include "settings/FetchedText.h"
#include "update/Manifest.h"
#include "update/ManifestDigests.h"
#include "update/TrustedComment.h"

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
    const ManifestSizes sizes = ReadManifestSizes(text);
    if (sizes.state == ManifestDigests::State::Listed && sizes.sizes.size() != names.value_or(QStringList()).size())
        qFatal("sizes listed that do not pair one for one with the names");
    if (JudgeTrustedComment(bytes, u"0.3"_s, 2'000'000'000) == CommentVerdict::Holds &&
        JudgeTrustedComment(bytes, u"0.3"_s, 0) != CommentVerdict::Holds)
        qFatal("a comment that holds now did not hold before");
    return 0;
}
