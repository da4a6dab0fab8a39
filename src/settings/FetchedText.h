// The one place where bytes from a file or the network become text: UTF-16 when they start with
// its byte-order mark (as Windows editors save "Unicode" text), otherwise UTF-8 when the bytes
// are valid UTF-8, otherwise Windows-1252 (the character set the product's files were written in).
#pragma once

#include <QByteArray>
#include <QString>

namespace tarnwick {

// A whole text: a manifest, or a settings file.
QString DecodeFetchedText(const QByteArray& bytes);

bool StartsWithUtf16Mark(const QByteArray& bytes);

// One piece cut out of a text that was not UTF-16: UTF-8 when valid, otherwise Windows-1252.
// No byte-order mark is looked for, since a piece that merely starts with those bytes is not
// UTF-16.
QString DecodeUtf8OrWindows1252(const QByteArray& bytes);

}  // namespace tarnwick
