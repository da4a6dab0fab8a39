// Faults on the receiving side of a download: the file to replace, the folder it lives in and
// the disk under it.
#include "faults/FaultScene.h"
#include "faults/TmpfsMount.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace tarnwick::test {
namespace {

bool CanCreateFileIn(const QString& folder)
{
    QFile probe(QDir(folder).filePath(QStringLiteral(".probe")));
    if (!probe.open(QIODevice::WriteOnly))
        return false;
    probe.remove();
    return true;
}

// Guards against a read-only product file being replaced (the mark must hold for every user,
// root included) or damaged by the attempt.
TEST(TargetFaults, ReadOnlyTargetIsKeptWithOneMessage)
{
    FaultScene scene;
    const QString exe = scene.Folder().FilePath(QStringLiteral("Tarnwick.exe"));
    ASSERT_TRUE(QFile::setPermissions(exe, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    ASSERT_TRUE(scene.ReachDownloadPage());
    scene.Harness().RunDownloads();
    scene.ExpectExeFailedReadmeDone();
    EXPECT_EQ(QFileInfo(exe).permissions() & (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther), 0);
}

// Guards against a folder that refuses new files being reported as a success, or a failed
// save leaving anything behind: every file fails with its own message.
TEST(TargetFaults, UnwritableFolderFailsEveryFileAndChangesNothing)
{
    FaultScene scene;
    const QString folder = scene.Folder().Path();
    std::unique_ptr<TmpfsMount> mount;
    struct GiveBackWriteAccess {
        QString folder;
        ~GiveBackWriteAccess() { QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); }
    } giveBack{folder};
    if (geteuid() != 0) {
        ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    } else {
        // Root writes through any permission bits; only a read-only file system stops it.
        mount = std::make_unique<TmpfsMount>(folder, 1024 * 1024);
        if (!mount->Mounted())
            GTEST_SKIP() << "running as root and " << mount->Error().toStdString();
        scene.WriteInstalledFiles();
        ASSERT_TRUE(mount->MakeReadOnly());
    }
    ASSERT_FALSE(CanCreateFileIn(folder));
    ASSERT_TRUE(scene.ReachDownloadPage());
    scene.Harness().RunDownloads();
    EXPECT_EQ(scene.Harness().ListStatuses(), (QStringList{QStringLiteral("Failed"), QStringLiteral("Failed")}));
    ExpectDownloadMessages(scene.Harness(), 2);
    scene.ExpectFolderAsBefore();
}

// Guards against a disk that fills up mid-file: the old file must stay whole, the half-written
// temporary file must go, and the next file (which fits once that space is freed) still works.
TEST(TargetFaults, FullDiskKeepsTheOldFileAndLeavesNoTemporaryFile)
{
    FaultScene scene;
    TmpfsMount mount(scene.Folder().Path(), 1024 * 1024);
    if (!mount.Mounted())
        GTEST_SKIP() << mount.Error().toStdString();
    scene.WriteInstalledFiles();
    scene.Server().Put(kExePath, QByteArray(3 * 1024 * 1024, 'n'));
    ASSERT_TRUE(scene.ReachDownloadPage());
    scene.Harness().RunDownloads();
    scene.ExpectExeFailedReadmeDone();
}

// Guards against a symbolic link in the product folder changing anything but the one choice
// made for it: the file the link points to is replaced (as QSaveFile does), the link stays a
// link to the same place, and no temporary file is left beside either.
TEST(TargetFaults, SymbolicLinkTargetIsReplacedAndTheLinkStays)
{
    FaultScene scene;
    QTemporaryDir outside;
    const QString real = QDir(outside.path()).filePath(QStringLiteral("real.exe"));
    const QString sibling = QDir(outside.path()).filePath(QStringLiteral("sibling.txt"));
    for (const QString& path : {real, sibling}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(FaultScene::OldExe());
    }
    const QString link = scene.Folder().FilePath(QStringLiteral("Tarnwick.exe"));
    ASSERT_TRUE(QFile::remove(link));
    ASSERT_TRUE(QFile::link(real, link));
    scene.TakeSnapshot();

    ASSERT_TRUE(scene.ReachDownloadPage());
    scene.Harness().RunDownloads();

    EXPECT_EQ(scene.Harness().ListStatuses(), (QStringList{QStringLiteral("Done"), QStringLiteral("Done")}));
    EXPECT_TRUE(scene.Harness().Messages().shown.empty());
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), real);
    scene.ExpectFolderAsBefore({{QStringLiteral("Tarnwick.exe"), FaultScene::NewExe()},
                                {QStringLiteral("readme.txt"), FaultScene::NewReadme()}});
    EXPECT_EQ(QDir(outside.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
              (QStringList{QStringLiteral("real.exe"), QStringLiteral("sibling.txt")}));
    QFile file(real);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), FaultScene::NewExe());
    QFile other(sibling);
    ASSERT_TRUE(other.open(QIODevice::ReadOnly));
    EXPECT_EQ(other.readAll(), FaultScene::OldExe());
}

}  // namespace
}  // namespace tarnwick::test
