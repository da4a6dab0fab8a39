#include "settings/FetchedText.h"

#include <QStringDecoder>

namespace tarnwick {
namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F; the five unassigned codes keep their
// Latin-1 (C1 control) meaning, as the Windows conversion functions do.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

QString DecodeWindows1252(const QByteArray& bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        *out++ = QChar(byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : char16_t(byte));
    }
    return text;
}

}  // namespace

QString DecodeFetchedText(const QByteArray& bytes)
{
    // Neither FF nor FE occurs in UTF-8, and no manifest or settings file of ours opens with the
    // Windows-1252 letters they would be, so the mark decides. The decoder drops it.
    if (StartsWithUtf16Mark(bytes)) {
        const bool littleEndian = bytes.startsWith("\xFF\xFE");
        return QStringDecoder(littleEndian ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE,
                              QStringDecoder::Flag::Stateless)
            .decode(bytes);
    }
    return DecodeUtf8OrWindows1252(bytes);
}

bool StartsWithUtf16Mark(const QByteArray& bytes)
{
    return bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF");
}

QString DecodeUtf8OrWindows1252(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return DecodeWindows1252(bytes);
}

}  // namespace tarnwick
