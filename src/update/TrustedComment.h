// What minisign's trusted comment says of a manifest beyond the signature: when the signature
// stops vouching for it, and which version's folder it was written for. The global signature
// covers the comment, so these fields are as trustworthy as the manifest itself.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace tarnwick {

// Fields are minisign's own form, "name:value" separated by tabs (minisign writes
// "timestamp:...<TAB>file:..."); the publisher adds "expires:SECONDS" (since 1970, UTC) and
// "folder:VERSION". Unknown fields are passed over.
inline constexpr char kExpiresField[] = "expires";
inline constexpr char kFolderField[] = "folder";

inline constexpr qint64 kDaySeconds = 24 * 60 * 60;
// A clock a little off must not stop a user's updates: the expiry holds this much longer.
inline constexpr qint64 kExpiryMarginSeconds = kDaySeconds;

enum class CommentVerdict {
    Holds,        // no expiry or not yet passed, and no folder or this one
    Expired,      // the expiry, plus the margin, lies before now
    OtherFolder,  // signed for another version's folder
    Malformed,    // an expiry that is not digits alone, or a field named twice
};

// The comment as signed (after "trusted comment: "); folder is the installed version whose
// folder the manifest was fetched from; now in seconds since 1970, UTC.
CommentVerdict JudgeTrustedComment(QByteArrayView comment, const QString& folder, qint64 now);

// The comment the publisher signs: minisign's own fields, then the expiry and the folder.
QByteArray WriteTrustedComment(qint64 signedAt, const QString& fileName, qint64 expires, const QString& folder);

}  // namespace tarnwick
