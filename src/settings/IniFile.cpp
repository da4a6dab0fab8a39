#include "settings/IniFile.h"

#include "settings/FetchedText.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <optional>

namespace tarnwick {
namespace {

// A profile file is a few hundred bytes; anything far larger is not one of ours and is read
// only up to this size so that a damaged file cannot exhaust memory.
constexpr qint64 kMaxIniBytes = 16 * 1024 * 1024;

// Blanks and tabs (and the rarer vertical tab and form feed) around a name or a value, in the
// file and in what a caller asks for alike.
template <typename View>  // QByteArrayView or QStringView
View TrimBlanks(View text)
{
    auto isBlank = [](auto c) { return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f'; };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

bool SameName(QByteArrayView a, const QString& b)
{
    return QString::compare(DecodeUtf8OrWindows1252(a.toByteArray()), b, Qt::CaseInsensitive) == 0;
}

QByteArrayView Unquote(QByteArrayView value)
{
    if (value.size() >= 2) {
        const char first = value.front();
        if ((first == '"' || first == '\'') && value.back() == first)
            return value.sliced(1, value.size() - 2);
    }
    return value;
}

QString CutToMaxChars(const QString& text)
{
    QString result;
    int chars = 0;
    for (qsizetype i = 0; i < text.size() && chars < kIniValueMaxChars; ++i, ++chars) {
        result.append(text[i]);
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            result.append(text[++i]);
    }
    return result;
}

std::optional<QByteArrayView> FindValue(QByteArrayView content, const QString& section, const QString& key)
{
    bool inSection = false;
    qsizetype pos = 0;
    while (pos < content.size()) {
        // CR, LF and CR LF all end a line; the empty line between CR and LF is skipped below.
        qsizetype end = pos;
        while (end < content.size() && content[end] != '\n' && content[end] != '\r')
            ++end;
        const QByteArrayView line = TrimBlanks(content.sliced(pos, end - pos));
        pos = end + 1;
        if (line.isEmpty() || line.front() == ';')
            continue;
        const qsizetype close = line.front() == '[' ? line.lastIndexOf(']') : -1;
        if (close > 0) {
            if (inSection)
                return std::nullopt;  // the first section of that name is the only one searched
            inSection = SameName(TrimBlanks(line.sliced(1, close - 1)), section);
            continue;
        }
        if (!inSection)
            continue;
        const qsizetype equals = line.indexOf('=');
        const QByteArrayView name = TrimBlanks(equals < 0 ? line : line.first(equals));
        if (!SameName(name, key))
            continue;
        if (equals < 0)
            return QByteArrayView();
        return Unquote(TrimBlanks(line.sliced(equals + 1)));
    }
    return std::nullopt;
}

}  // namespace

QString ReadIniValue(const QString& file, const QString& section, const QString& key, const QString& defaultValue)
{
    // Only a regular file (or a link to one) is read: a folder holds no values, and a pipe or
    // a device would keep start-up waiting for a writer, or reading, for ever.
    if (!QFileInfo(file).isFile())
        return defaultValue;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return defaultValue;
    // QIODevice::read reserves the whole maximum up front, so ask only for what the file holds.
    QByteArray content = f.read(std::min(f.size(), kMaxIniBytes));
    // The lines are searched as bytes so that each value can be decoded by its own bytes. UTF-16
    // text is searched as its UTF-8 form, which every value of it then passes as.
    if (StartsWithUtf16Mark(content))
        content = DecodeFetchedText(content).toUtf8();
    else if (content.startsWith("\xEF\xBB\xBF"))
        content.remove(0, 3);
    const std::optional<QByteArrayView> value =
        FindValue(content, TrimBlanks(QStringView(section)).toString(), TrimBlanks(QStringView(key)).toString());
    if (!value)
        return defaultValue;
    return CutToMaxChars(DecodeUtf8OrWindows1252(value->toByteArray()));
}

}  // namespace tarnwick
