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

QByteArrayView TrimBlanks(QByteArrayView text)
{
    auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; };
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
    return QString::compare(DecodeFetchedText(a.toByteArray()), b, Qt::CaseInsensitive) == 0;
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

std::optional<QByteArrayView> FindValue(QByteArrayView content, const QString& section,
                                        const QString& key)
{
    bool inSection = false;
    qsizetype pos = 0;
    while (pos < content.size()) {
        qsizetype end = content.indexOf('\n', pos);
        if (end < 0)
            end = content.size();
        const QByteArrayView line = TrimBlanks(content.sliced(pos, end - pos));
        pos = end + 1;
        if (line.isEmpty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            if (inSection)
                return std::nullopt;  // the first section of that name is the only one searched
            const qsizetype close = line.lastIndexOf(']');
            const QByteArrayView name =
                TrimBlanks(close > 0 ? line.sliced(1, close - 1) : line.sliced(1));
            inSection = SameName(name, section);
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

QString ReadIniValue(const QString& file, const QString& section, const QString& key,
                     const QString& defaultValue)
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
    if (content.startsWith("\xEF\xBB\xBF"))
        content.remove(0, 3);
    const std::optional<QByteArrayView> value = FindValue(content, section, key);
    if (!value)
        return defaultValue;
    return CutToMaxChars(DecodeFetchedText(value->toByteArray()));
}

}  // namespace tarnwick
