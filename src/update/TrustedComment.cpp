#include "update/TrustedComment.h"

#include <QList>

#include <algorithm>
#include <optional>

namespace tarnwick {

CommentVerdict JudgeTrustedComment(QByteArrayView comment, const QString& folder, qint64 now)
{
    std::optional<QByteArray> expires, named;
    for (const QByteArrayView field : comment.toByteArray().split('\t')) {
        const qsizetype colon = field.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArrayView name = field.first(colon);
        std::optional<QByteArray>* slot = name == kExpiresField ? &expires : name == kFolderField ? &named : nullptr;
        if (!slot)
            continue;
        // Two values would let a reader that takes the other one see another manifest.
        if (*slot)
            return CommentVerdict::Malformed;
        *slot = field.sliced(colon + 1).toByteArray();
    }
    if (named && QString::fromUtf8(*named) != folder)
        return CommentVerdict::OtherFolder;
    if (!expires)
        return CommentVerdict::Holds;
    bool number = false;
    const qint64 until = expires->toLongLong(&number);
    if (!number || !std::all_of(expires->begin(), expires->end(), [](char c) { return c >= '0' && c <= '9'; }))
        return CommentVerdict::Malformed;
    // Subtracted from now, which is far from the ends of the range, so a huge expiry cannot overflow.
    return now - kExpiryMarginSeconds > until ? CommentVerdict::Expired : CommentVerdict::Holds;
}

QByteArray WriteTrustedComment(qint64 signedAt, const QString& fileName, qint64 expires, const QString& folder)
{
    return "timestamp:" + QByteArray::number(signedAt) + "\tfile:" + fileName.toUtf8() + "\thashed\t" + kExpiresField +
           ':' + QByteArray::number(expires) + '\t' + kFolderField + ':' + folder.toUtf8();
}

}  // namespace tarnwick
