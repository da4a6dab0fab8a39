// File names in the manifest that would leave the application folder, or that no file system
// takes: each is refused through the download failure path before anything is fetched.
#include "faults/FaultScene.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <gtest/gtest.h>

namespace tarnwick::test {
namespace {

// Guards against a hostile site writing outside the product folder ("..", a leading "\"),
// against names a file system should never be asked for (control characters), and against a
// crash or a silent success where the file system refuses (300 characters, a folder's name).
TEST(HostileFileNames, NamesThatLeaveTheFolderOrCannotExistFailOneByOne)
{
    FaultScene scene;
    scene.Folder().Write(QStringLiteral("Lang/Deutsch.ini"), "[frmMainUpdater]\r\n");
    scene.TakeSnapshot();

    // A fresh name next to the application folder, so that an escape would be seen there.
    const QString escape = QStringLiteral("tarnwick-escape-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString escapedTo = QDir(scene.Folder().Path()).filePath(QStringLiteral("../") + escape);
    const QStringList hostile{
        QStringLiteral(".."),
        QStringLiteral("."),
        QString(),
        QStringLiteral("..\\") + escape,
        QStringLiteral("\\..\\") + escape,
        QStringLiteral("\\tmp\\") + escape,
        QStringLiteral("Lang\\..\\..\\") + escape,
        QStringLiteral("bad\x01name.txt"),
        QStringLiteral("tab\tname.txt"),
        QStringLiteral("line\r\nbreak.txt"),
        QString(300, u'a'),
        QStringLiteral("Lang"),
    };
    scene.Server().Put(kManifestPath, Manifest(QStringLiteral("0.4"), hostile + QStringList{QStringLiteral("readme.txt")}));
    // The long name passes every check of ours and is fetched; only the file system refuses it,
    // when the saved file is given its name.
    const QString longPath = QStringLiteral("/updater/0.3/") + QString(300, u'a');
    scene.Server().Put(longPath, "fits nowhere");

    ASSERT_TRUE(scene.ReachDownloadPage());
    ASSERT_EQ(scene.Harness().ListTexts(), hostile + QStringList{QStringLiteral("readme.txt")});
    scene.Harness().RunDownloads();

    QStringList expected(hostile.size(), QStringLiteral("Failed"));
    expected.append(QStringLiteral("Done"));
    EXPECT_EQ(scene.Harness().ListStatuses(), expected);
    ExpectDownloadMessages(scene.Harness(), static_cast<size_t>(hostile.size()));
    scene.ExpectFolderAsBefore({{QStringLiteral("readme.txt"), FaultScene::NewReadme()}});
    EXPECT_FALSE(QFileInfo::exists(escapedTo));
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/tmp/") + escape));
    EXPECT_TRUE(QFileInfo(scene.Folder().FilePath(QStringLiteral("Lang"))).isDir());

    // Names refused by the updater are never fetched.
    QStringList fetchedFiles = scene.Server().Requests();
    fetchedFiles.removeAll(kManifestPath);
    EXPECT_EQ(fetchedFiles.join(u'|').toStdString(), (longPath + u'|' + kReadmePath).toStdString());
}

}  // namespace
}  // namespace tarnwick::test
