// Readable gtest failure messages for Qt texts: without these, a failed
// comparison prints raw object bytes. Lists of texts print element by element
// through the QString printer.
#pragma once

#include <QString>

#include <ostream>

// gtest finds these through argument-dependent lookup, so they live beside Qt's
// own types.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QByteArray& bytes, std::ostream* os)
{
    *os << bytes.size() << " bytes \"" << bytes.left(80).toStdString() << (bytes.size() > 80 ? "...\"" : "\"");
}
