// A release file put on the site: copied once, summed from the very bytes written, and linked
// into every further version folder where the file system allows.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace tarnwick {

struct CopiedFile {
    std::optional<QByteArray> sha256;  // of the bytes written; nothing when the copy failed
    QString error;
};

// Copies from into the new file to (it must not exist yet); fails, naming it, when from changed
// while it was read, so that no torn copy is ever listed and signed.
CopiedFile CopyAndSum(const QString& from, const QString& to);

// Writes all of data, or says false (errno tells why).
bool WriteAll(int fd, const char* data, qint64 size);

// The path and the reason of the last failed call, for a message.
QString SystemError(const QString& path);

// A hard link to the copy where the file system allows one, otherwise another copy of it.
bool LinkOrCopy(const QString& copy, const QString& to);

}  // namespace tarnwick
