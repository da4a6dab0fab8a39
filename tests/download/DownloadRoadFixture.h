// A window brought to the new-version result (installed 0.3, published 0.4) with the given files
// on the local site, ready for Next to start the downloads, and the checks every download test
// makes afterwards.
#pragma once

#include "support/PageView.h"
#include "support/SiteContent.h"

#include <gtest/gtest.h>

#include <memory>

namespace tarnwick::test {

inline const QString kInstalled = QStringLiteral("0.3");

// The download error message with the built-in English texts.
inline const QString kDownloadError = QStringLiteral(
    "An error has occured while downloading or saving the file.\r\nBe sure Tarnwick is closed.\r\n\r\nTry again later!");

class DownloadRoad {
public:
    DownloadRoad() { folder.WritePreferences(kInstalled); }

    // Publishes the files, starts up and runs the check; the folder is snapshotted and the
    // request log cleared afterwards, so both show only what the downloads do.
    void ReachFileList(const SiteFiles& files)
    {
        PublishUpdate(server, kInstalled, QStringLiteral("0.4"), files);
        harness = std::make_unique<WindowHarness>(server, folder);
        ASSERT_EQ(harness->StartUp(), StartUpResult::ShowWindow);
        ASSERT_TRUE(harness->RunCheck());
        ASSERT_EQ(harness->ListTexts().size(), static_cast<qsizetype>(files.size()));
        before = folder.Snapshot();
        server.ClearRequests();
    }

    FrmMainUpdater& Window() { return harness->Window(); }
    QString PathOf(const QString& name) const { return SitePath(kInstalled, name); }

    // Every file but `changed` is byte for byte as it was, none is gone, and no new file (a
    // left-over temporary) appeared besides `changed`.
    void ExpectOnlyChanged(const QStringList& changed, const std::string& what = {}) const
    {
        const QMap<QString, QByteArray> now = folder.Snapshot();
        for (auto it = before.begin(); it != before.end(); ++it) {
            if (changed.contains(it.key()))
                continue;
            EXPECT_TRUE(now.contains(it.key())) << what << ": " << it.key().toStdString() << " is gone";
            EXPECT_EQ(now.value(it.key()), it.value()) << what << ": " << it.key().toStdString() << " changed";
        }
        EXPECT_EQ(folder.NewFilesBesides(before, changed), QStringList()) << what;
    }

    // The download-failed state: the list, the headline of the result, the closing Cancel.
    void ExpectFailedPage(const std::string& what = {}) const
    {
        FrmMainUpdater& w = harness->Window();
        EXPECT_EQ(ShownNow(*harness),
                  PageShows({QStringLiteral("lDownload"), QStringLiteral("lblDownloading"),
                             QStringLiteral("lblVersionExplain"), QStringLiteral("lblNewVersion"),
                             QStringLiteral("cmdCancel")}))
            << what;
        EXPECT_EQ(Caption(w.cmdCancel), QStringLiteral("Complete")) << what;
        EXPECT_EQ(Caption(w.lblVersionExplain), QStringLiteral("New version available:")) << what;
    }

    // One recorded message per failed file, each the exact download error.
    void ExpectErrorMessages(size_t count, const std::string& what = {}) const
    {
        const auto& shown = harness->Messages().shown;
        ASSERT_EQ(shown.size(), count) << what;
        for (const ShownMessage& message : shown) {
            EXPECT_EQ(message.title, QStringLiteral("Updater")) << what;
            EXPECT_EQ(message.text, kDownloadError) << what;
            EXPECT_EQ(message.icon, MessageIcon::Information) << what;
        }
    }

    TestServer server;
    TempAppFolder folder;
    std::unique_ptr<WindowHarness> harness;
    QMap<QString, QByteArray> before;
};

}  // namespace tarnwick::test
