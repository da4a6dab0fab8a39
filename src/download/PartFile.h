// A file of the update while it arrives: written under the updater's own temporary name beside
// the file it will replace, checked against its listed size and digest, then put in the old
// one's place or discarded.
#pragma once

#include <QIODevice>
#include <QString>

#include <memory>

namespace tarnwick {

class PartWriter;
class Sha256;

class PartFile : public QIODevice {
public:
    // target is the file to replace (a symbolic link is followed to the file it names).
    explicit PartFile(const QString& target);
    // The product may be running and hold the file, or the file may be marked read-only: such
    // a file is not replaced. The permission bits are asked directly because a privileged user
    // may write anyway, and a read-only mark must hold for everyone.
    bool TargetIsReadOnly() const;
    bool TargetIsFile() const;
    qint64 TargetSize() const { return m_targetSize; }
    ~PartFile() override;  // removes the part file unless it was committed

    // expectedSha256 empty: the manifest gave no digest and the file is not checked. With a
    // listed size (not -1), a write that would pass it fails, so that a site that sends on
    // without end fills no disk, and Finish refuses a file that ends short of it.
    bool Create(const QByteArray& expectedSha256 = {}, qint64 listedSize = -1);
    qint64 ListedSize() const { return m_listedSize; }
    // Every byte written, its size on disk checked and its digest compared; true when the part
    // file holds exactly the published file. Not yet durable: see Flush, or a flush of the
    // whole file system.
    bool Finish();
    // A write was refused (the disk, not the transfer): a new attempt cannot help.
    bool Failed() const { return m_failed; }
    // What arrived is not the listed file: its digest or its size differs.
    bool NotTheListedFile() const { return m_notListed; }
    // Makes this file's data durable on its own.
    bool Flush();
    // Takes the target's place; the part file is gone afterwards. Fails when the part file's
    // name no longer holds the file this run wrote and checked: someone else's file is never
    // put in place.
    bool Commit();
    void Discard();

    const QString& Target() const { return m_target; }
    const QString& PartPath() const { return m_partPath; }
    int Descriptor() const { return m_fd; }
    qint64 Written() const { return m_written; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override;

private:
    bool Fail(int error);
    bool NotPublished(const QString& why);

    QString m_target;
    QString m_partPath;
    int m_targetMode = -1;  // permission and type bits of the file replaced; -1 when there is none
    qint64 m_targetSize = 0;
    int m_fd = -1;
    qint64 m_written = 0;
    bool m_failed = false;
    bool m_notListed = false;
    QByteArray m_expectedSha256;
    qint64 m_listedSize = -1;
    // Fed by the writer in the file's order: small blocks on the thread that writes them, whole
    // chunks on a thread of their own while they are written, so a large file is hashed beside
    // its arrival.
    std::unique_ptr<Sha256> m_hash;
    std::unique_ptr<PartWriter> m_writer;
};

}  // namespace tarnwick
