// Making a patch as Zstandard's patch mode makes it (the old file as the prefix, at level 9, with
// the window and long-distance matching the command line's --patch-from chooses), in one frame
// that records the new file's size, which is what the updater's decoder asks for.
#pragma once

#include <QByteArray>
#include <QString>

namespace tarnwick {

struct MadePatch {
    bool made = false;  // false: the patch would be larger than the limit, or failed (see error)
    qint64 size = 0;
    QByteArray sha256;
    QString error;  // a file that could not be read or written
};

// Zstandard's patch mode takes files of up to 2 GiB, its largest window.
inline constexpr qint64 kLargestPatchedFile = qint64(1) << 31;

// Writes the patch that turns oldPath into newPath at patchPath, when it holds at most limit
// bytes; otherwise removes what it began. Memory: both files mapped, and level 9's match tables.
MadePatch MakePatch(const QString& oldPath, const QString& newPath, const QString& patchPath, qint64 limit);

}  // namespace tarnwick
