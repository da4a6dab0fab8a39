// Readable gtest failure messages for Qt texts: without these, a failed comparison of two
// QStrings prints their raw object bytes.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <ostream>

// gtest finds these through argument-dependent lookup, so they live beside Qt's own types.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList& texts, std::ostream* os)
{
    *os << '{';
    for (qsizetype i = 0; i < texts.size(); ++i)
        *os << (i ? ", " : "") << '"' << texts[i].toStdString() << '"';
    *os << '}';
}

inline void PrintTo(const QByteArray& bytes, std::ostream* os)
{
    constexpr qsizetype kShown = 80;
    *os << bytes.size() << " bytes \"" << bytes.left(kShown).toStdString() << (bytes.size() > kShown ? "...\"" : "\"");
}
