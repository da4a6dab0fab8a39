// The main road through the real window: welcome, check, downloads, completion page.
#include "support/WindowHarness.h"

#include "platform/HttpTransfer.h"

#include <gtest/gtest.h>

namespace tarnwick::test {
namespace {

// Guards the whole wiring: pages in order, the files' bytes, statuses, request paths.
TEST(MainRoad, NewVersionWithThreeFilesEndsOnCompletionPage)
{
    TestServer server;
    TempAppFolder folder;
    folder.WritePreferences(QStringLiteral("0.3"), QStringLiteral("English"));
    folder.Write(QStringLiteral("readme.txt"), "old readme that is longer than the new one");
    server.Put(QStringLiteral("/updater/0.3/check.update"),
               Manifest(QStringLiteral("0.4 second beta"),
                        {QStringLiteral("Tarnwick.exe"), QStringLiteral("Preferences.ini"), QStringLiteral("readme.txt")}));
    server.Put(QStringLiteral("/updater/0.3/Tarnwick.exe"), QByteArray(100000, 'x'));
    server.Put(QStringLiteral("/updater/0.3/Preferences.ini"), "[Settings]\r\nVersion=0.4\r\n");
    server.Put(QStringLiteral("/updater/0.3/readme.txt"), "new readme");

    WindowHarness harness(server, folder);
    ASSERT_EQ(harness.StartUp(), StartUpResult::ShowWindow);
    FrmMainUpdater& w = harness.Window();
    EXPECT_EQ(w.Tag(), QStringLiteral("1"));
    EXPECT_EQ(Caption(w.lblWelcome3),
              QStringLiteral("Tarnwick Updater will use the internet to check for updates for Tarnwick 0.3."));

    ASSERT_TRUE(harness.RunCheck());
    EXPECT_EQ(w.Tag(), QStringLiteral("2"));
    EXPECT_EQ(Caption(w.lblVersionExplain), QStringLiteral("New version available:"));
    EXPECT_EQ(Caption(w.lblNewVersion), QStringLiteral("0.4"));
    EXPECT_TRUE(w.cmdNext->isEnabled());
    EXPECT_EQ(harness.ListTexts(),
              (QStringList{QStringLiteral("Tarnwick.exe"), QStringLiteral("Preferences.ini"), QStringLiteral("readme.txt")}));
    EXPECT_EQ(harness.ListStatuses(), (QStringList{QStringLiteral("Valid"), QStringLiteral("Valid"), QStringLiteral("Valid")}));
    EXPECT_EQ(harness.ListKeys().first(), server.SiteUrl() + QStringLiteral("0.3/Tarnwick.exe"));

    harness.RunDownloads();
    EXPECT_EQ(harness.ListStatuses(), (QStringList{QStringLiteral("Done"), QStringLiteral("Done"), QStringLiteral("Done")}));
    EXPECT_EQ(folder.Read(QStringLiteral("Tarnwick.exe")), QByteArray(100000, 'x'));
    EXPECT_EQ(folder.Read(QStringLiteral("readme.txt")), QByteArray("new readme"));
    EXPECT_EQ(folder.Read(QStringLiteral("Preferences.ini")), QByteArray("[Settings]\r\nVersion=0.4\r\n"));
    EXPECT_EQ(Caption(w.lblVersionExplain), QStringLiteral("Downloading complete!"));
    EXPECT_EQ(Caption(w.lblNextToDownload), QStringLiteral("Click Complete to close."));
    EXPECT_EQ(Caption(w.cmdCancel), QStringLiteral("Complete"));
    EXPECT_EQ(w.pbDownloading->maximum(), 3);
    EXPECT_EQ(w.pbDownloading->value(), 3);
    EXPECT_TRUE(harness.Messages().shown.empty());
    EXPECT_EQ(server.Requests(),
              (QStringList{QStringLiteral("/updater/0.3/check.update"), QStringLiteral("/updater/0.3/check.update"),
                           QStringLiteral("/updater/0.3/check.update"), QStringLiteral("/updater/0.3/Tarnwick.exe"),
                           QStringLiteral("/updater/0.3/Preferences.ini"), QStringLiteral("/updater/0.3/readme.txt")}));
    EXPECT_EQ(harness.VisibleControls(),
              (QStringList{QStringLiteral("pbDownloading"), QStringLiteral("cmdCancel"), QStringLiteral("lDownload"),
                           QStringLiteral("lblDownloading"), QStringLiteral("lblNextToDownload"),
                           QStringLiteral("lblVersionExplain"), QStringLiteral("Line1"), QStringLiteral("lblWelcome3"),
                           QStringLiteral("lblWelcome2"), QStringLiteral("lblWelcome")}));

    w.cmdCancel->click();
    EXPECT_EQ(harness.EndProgramCalls(), 1);
}

}  // namespace
}  // namespace tarnwick::test
