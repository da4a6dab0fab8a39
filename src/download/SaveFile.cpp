#include "download/SaveFile.h"

#include "platform/HttpTransfer.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QSaveFile>

namespace tarnwick {
namespace {

// The product may be running and hold the file, or the file may be marked read-only: such a
// file is not replaced. The permission bits are asked directly because a privileged user may
// write anyway, and a read-only mark must hold for everyone.
bool IsReadOnlyFile(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile() && !(info.permissions() & QFileDevice::WriteOwner);
}

// The temporary file, hashing each block as it goes to disk: the digest is known when the
// last byte is written, without reading the file a second time.
class HashingSaveFile : public QSaveFile {
public:
    using QSaveFile::QSaveFile;
    QByteArray Sha256() const { return m_hash.result(); }

protected:
    qint64 writeData(const char* data, qint64 length) override
    {
        const qint64 written = QSaveFile::writeData(data, length);
        if (written > 0)
            m_hash.addData(QByteArrayView(data, written));
        return written;
    }

private:
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
};

}  // namespace

SaveOutcome SaveDownload(HttpTransfer& transfer, const QString& url, const QString& path,
                         const QByteArray& expectedSha256)
{
    if (transfer.StillExecuting())
        return SaveOutcome::Busy;
    if (IsReadOnlyFile(path))
        return SaveOutcome::Failed;

    // Unbuffered, so that every write reaches the file system and its failure is seen where
    // it happens: a buffered tail written only at commit may fail on a full disk without the
    // save noticing, and a small file would then replace the old one empty or cut.
    HashingSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return SaveOutcome::Failed;

    const FetchResult result = transfer.OpenUrlInto(url, file);
    if (!result.ok()) {
        file.cancelWriting();
        return result.cancelled() ? SaveOutcome::Cancelled : SaveOutcome::Failed;
    }
    // What the file system holds must be the whole body before it takes the old file's place,
    // and the very file the manifest describes.
    if (!file.flush() || file.size() != result.received ||
        (!expectedSha256.isEmpty() && file.Sha256() != expectedSha256)) {
        file.cancelWriting();
        return SaveOutcome::Failed;
    }
    return file.commit() ? SaveOutcome::Saved : SaveOutcome::Failed;
}

}  // namespace tarnwick
