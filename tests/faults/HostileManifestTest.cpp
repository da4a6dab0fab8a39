// Manifests a broken or hostile site might serve: nothing, far too much, noise, NUL bytes, the
// wrong encoding, a huge file list.
#include "faults/FaultScene.h"

#include <QStringEncoder>

#include <gtest/gtest.h>

namespace tarnwick::test {
namespace {

// The manifest of the scene announcing a newer updater, padded past the 4 MiB limit.
QByteArray OversizedManifest()
{
    return Manifest(QStringLiteral("0.4"), {QStringLiteral("readme.txt")}, QStringLiteral("0.9")) +
           QByteArray(5 * 1024 * 1024, ' ');
}

// The same manifest in UTF-16 with its byte-order mark: to the updater, a text without tags.
QByteArray Utf16Manifest()
{
    QStringEncoder encoder(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
    return encoder.encode(QString::fromUtf8(Manifest(QStringLiteral("0.4"), {QStringLiteral("readme.txt")},
                                                     QStringLiteral("0.9"))));
}

struct UnreadableManifest {
    const char* name;
    QByteArray body;  // served as a 200 answer; empty means an empty answer each time
};

std::vector<UnreadableManifest> UnreadableManifests()
{
    return {
        {"empty", QByteArray()},
        {"5 MiB", OversizedManifest()},
        {"random bytes", RandomBytes(64 * 1024)},
        {"UTF-16", Utf16Manifest()},
    };
}

void Serve(FaultScene& scene, const QByteArray& body)
{
    if (body.isEmpty())
        scene.Server().SetFault(kManifestPath, Fault::Empty());
    else
        scene.Server().Put(kManifestPath, body);
}

// Guards against a manifest that cannot be read giving a notice (two of them announce a newer
// updater in a form that must not be read), a crash, or a hang.
TEST(HostileManifests, StartUpGivesNoNoticeForAManifestItCannotRead)
{
    for (const UnreadableManifest& manifest : UnreadableManifests()) {
        SCOPED_TRACE(manifest.name);
        FaultScene scene;
        Serve(scene, manifest.body);
        WindowHarness& harness = scene.MakeHarness();
        EXPECT_EQ(harness.StartUp(), StartUpResult::ShowWindow);
        ExpectWelcomePageWithoutNotice(harness);
        scene.ExpectFolderAsBefore();
    }
}

// Guards against the check run listing files from noise, accepting an oversized answer, or
// crashing on bytes that are no text at all.
TEST(HostileManifests, CheckRunFailsQuietlyOnAManifestItCannotRead)
{
    for (const UnreadableManifest& manifest : UnreadableManifests()) {
        SCOPED_TRACE(manifest.name);
        FaultScene scene;
        WindowHarness& harness = scene.MakeHarness();
        ASSERT_EQ(harness.StartUp(), StartUpResult::ShowWindow);
        Serve(scene, manifest.body);
        ASSERT_TRUE(harness.RunCheck());
        ExpectCheckPageAfterFailure(harness);
        scene.ExpectFolderAsBefore();
    }
}

// Guards against NUL bytes cutting a text short or crashing the reader: they are ordinary
// characters of the version and the names, and a file name holding one is refused.
TEST(HostileManifests, NulBytesAreCharactersAndANameWithOneIsRefused)
{
    FaultScene scene;
    static const char manifest[] = "<newupdater>0.2</newupdater>\0\0\r\n<ver>0.4\0beta</ver>\r\n"
                                   "<file>Tar\0wick.exe<br>readme.txt</file>\0";
    scene.Server().Put(kManifestPath, QByteArray(manifest, sizeof(manifest) - 1));
    WindowHarness& harness = scene.MakeHarness();
    ASSERT_EQ(harness.StartUp(), StartUpResult::ShowWindow);
    ExpectWelcomePageWithoutNotice(harness);
    ASSERT_TRUE(harness.RunCheck());
    EXPECT_EQ(Caption(scene.Window().lblNewVersion), QString::fromUtf8("0.4\0beta", 8));
    EXPECT_EQ(harness.ListTexts(), (QStringList{QString::fromUtf8("Tar\0wick.exe", 12), QStringLiteral("readme.txt")}));

    harness.RunDownloads();
    scene.ExpectExeFailedReadmeDone();
    EXPECT_FALSE(scene.Server().Requests().contains(QString::fromUtf8("/updater/0.3/Tar\0wick.exe", 25)));
}

// Guards against a long file list being cut, slowed to a hang or crashing the list.
TEST(HostileManifests, TenThousandFilesAreAllListed)
{
    FaultScene scene;
    QStringList names;
    for (int i = 0; i < 10000; ++i)
        names.append(QStringLiteral("file%1.bin").arg(i, 5, 10, QLatin1Char('0')));
    scene.Server().Put(kManifestPath, Manifest(QStringLiteral("0.4"), names));
    WindowHarness& harness = scene.MakeHarness();
    ASSERT_EQ(harness.StartUp(), StartUpResult::ShowWindow);
    ASSERT_TRUE(harness.RunCheck(std::chrono::milliseconds(20), std::chrono::seconds(60)));
    FrmMainUpdater& w = scene.Window();
    ASSERT_EQ(w.lDownload->ItemCount(), 10000);
    EXPECT_EQ(w.lDownload->CountWithStatus(u"Valid"), 10000);
    EXPECT_EQ(DownloadList::Key(w.lDownload->Item(9999)), scene.Server().SiteUrl() + QStringLiteral("0.3/file09999.bin"));
    EXPECT_TRUE(w.cmdNext->isEnabled());
    EXPECT_TRUE(harness.Messages().shown.empty());
}

}  // namespace
}  // namespace tarnwick::test
