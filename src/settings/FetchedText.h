// The one place where bytes from a file or the network become text: UTF-8 when the bytes are
// valid UTF-8, otherwise Windows-1252 (the character set the product's files were written in).
#pragma once

#include <QByteArray>
#include <QString>

namespace tarnwick {

QString DecodeFetchedText(const QByteArray& bytes);

}  // namespace tarnwick
