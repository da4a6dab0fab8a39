// Network faults at each of the three places the updater fetches: the manifest at start-up, the
// manifest in the check run, and a file of the update.
#include "faults/FaultScene.h"

#include "platform/HttpTransfer.h"

#include <QNetworkAccessManager>
#include <QTemporaryFile>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace tarnwick::test {
namespace {

using namespace std::chrono_literals;

struct TransportFault {
    const char* name;
    std::function<void(TestServer&, const QString& path)> apply;
    bool transferSucceeds;
    bool emptyBody;
};

// A valid manifest announcing a newer updater, lying on the local disk for the whole run.
QString LocalManifestFile()
{
    static QTemporaryFile file;
    if (!file.isOpen() && file.open()) {
        file.write(Manifest(QStringLiteral("0.4"), {QStringLiteral("readme.txt")}, QStringLiteral("0.9")));
        file.flush();
    }
    return file.fileName();
}

std::vector<TransportFault> TransportFaults()
{
    auto on = [](Fault fault) {
        return [fault](TestServer& server, const QString& path) { server.SetFault(path, fault); };
    };
    return {
        {"accepts and never answers", on(Fault::Slow(30s)), false, false},
        {"sends headers then stops", on(Fault::Headers(30s)), false, false},
        {"drops the connection half way", on(Fault::Drop()), false, false},
        // Ten pieces 200 ms apart: two seconds in all, but never a second without a byte.
        {"trickles within the inactivity time-out", on(Fault::TrickleInPieces(10, 200ms)), true, false},
        {"301 then 302 chain",
         [](TestServer& server, const QString& path) {
             server.SetFault(path, Fault::RedirectTo(server.BaseUrl() + QStringLiteral("/hop1"), 301), 1);
             server.SetFault(QStringLiteral("/hop1"), Fault::RedirectTo(QStringLiteral("/hop2"), 302));
             server.SetFault(QStringLiteral("/hop2"), Fault::RedirectTo(server.BaseUrl() + path, 302));
         },
         true, false},
        {"redirect loop",
         [](TestServer& server, const QString& path) {
             server.SetFault(path, Fault::RedirectTo(QStringLiteral("/loop1")));
             server.SetFault(QStringLiteral("/loop1"), Fault::RedirectTo(QStringLiteral("/loop2"), 301));
             server.SetFault(QStringLiteral("/loop2"), Fault::RedirectTo(QStringLiteral("/loop1")));
         },
         false, false},
        // A site must not make the updater read a local file as the manifest or as a file; this
        // one would pass for both.
        {"redirect to a local file", on(Fault::RedirectTo(QUrl::fromLocalFile(LocalManifestFile()).toString())),
         false, false},
        // Two lengths, the first cut short: a file cut to one byte must not count as arrived.
        {"announces two lengths", on(Fault::ConflictingLengths()), false, false},
        // The error answers carry the real body, so reading them as content would show.
        {"404 with the real body", on(Fault::StatusKeepingBody(404)), false, false},
        {"500 with the real body", on(Fault::StatusKeepingBody(500)), false, false},
        {"204 without a body", on(Fault::NoContentAnswer()), true, true},
    };
}

// Every fault must end within a few time-outs; none may leave the updater waiting.
constexpr qint64 kStartUpBoundMs = 6000;
constexpr qint64 kDownloadBoundMs = 8000;

// Guards against a start-up fetch that hangs, crashes, shows a notice or touches a file when
// the manifest cannot be had; and against a notice that is lost when the fetch succeeds the
// hard way (trickle, redirects).
TEST(TransportFaults, StartUpFetchFailsSilentlyOnTheWelcomePage)
{
    for (const TransportFault& fault : TransportFaults()) {
        SCOPED_TRACE(fault.name);
        FaultScene scene(QStringLiteral("0.9"));  // a newer updater: only a read manifest gives the notice
        fault.apply(scene.Server(), kManifestPath);
        WindowHarness& harness = scene.MakeHarness();
        const Stopwatch watch;
        const StartUpResult result = harness.StartUp();
        EXPECT_LT(watch.Ms(), kStartUpBoundMs);
        if (fault.transferSucceeds && !fault.emptyBody) {
            EXPECT_EQ(result, StartUpResult::EndProgram);
            EXPECT_EQ(harness.Messages().shown.size(), 1u);
            EXPECT_EQ(harness.Browser().opened, QStringList{QStringLiteral("http://www.tarnwick.example/")});
        } else {
            EXPECT_EQ(result, StartUpResult::ShowWindow);
            ExpectWelcomePageWithoutNotice(harness);
        }
        scene.ExpectFolderAsBefore();
    }
}

// Guards against a check run that hangs, shows a message, lists files from an error page or
// leaves Next disabled when its fetch fails.
TEST(TransportFaults, CheckRunFailureLeavesTheCheckPageWithNextEnabled)
{
    for (const TransportFault& fault : TransportFaults()) {
        SCOPED_TRACE(fault.name);
        FaultScene scene;
        WindowHarness& harness = scene.MakeHarness();
        ASSERT_EQ(harness.StartUp(), StartUpResult::ShowWindow);
        fault.apply(scene.Server(), kManifestPath);
        ASSERT_TRUE(harness.RunCheck(20ms, 20s)) << "the check run never ended";
        if (fault.transferSucceeds && !fault.emptyBody) {
            EXPECT_EQ(Caption(scene.Window().lblNewVersion), QStringLiteral("0.4"));
            EXPECT_EQ(harness.ListStatuses(), (QStringList{QStringLiteral("Valid"), QStringLiteral("Valid")}));
            EXPECT_TRUE(scene.Window().cmdNext->isEnabled());
            EXPECT_TRUE(harness.Messages().shown.empty());
        } else {
            ExpectCheckPageAfterFailure(harness);
        }
        scene.ExpectFolderAsBefore();
    }
}

// Guards against a broken download that damages the old file, leaves a temporary file, shows
// no message or more than one, hangs, or writes an error page over a product file. A 2xx
// answer is a success whatever its length: a 204 gives an empty file.
TEST(TransportFaults, FailedFileDownloadKeepsTheOldFileAndShowsOneMessage)
{
    for (const TransportFault& fault : TransportFaults()) {
        SCOPED_TRACE(fault.name);
        FaultScene scene;
        ASSERT_TRUE(scene.ReachDownloadPage());
        fault.apply(scene.Server(), kExePath);
        const Stopwatch watch;
        scene.Harness().RunDownloads();
        EXPECT_LT(watch.Ms(), kDownloadBoundMs);
        if (fault.transferSucceeds) {
            EXPECT_EQ(scene.Harness().ListStatuses(), (QStringList{QStringLiteral("Done"), QStringLiteral("Done")}));
            EXPECT_TRUE(scene.Harness().Messages().shown.empty());
            scene.ExpectFolderAsBefore({{QStringLiteral("Tarnwick.exe"), fault.emptyBody ? QByteArray() : FaultScene::NewExe()},
                                        {QStringLiteral("readme.txt"), FaultScene::NewReadme()}});
        } else {
            scene.ExpectExeFailedReadmeDone();
        }
    }
}

// Guards against refusing a good answer reached through redirects: Qt now and then keeps the
// length of a redirect answer in front of the final one ("0, 56"), so one fetch may pass by
// luck; fifty in a row do not.
TEST(TransportFaults, RedirectedAnswersAreTakenWhateverLengthTheRedirectsCarried)
{
    TestServer server;
    const QByteArray manifest = Manifest(QStringLiteral("0.4"), {QStringLiteral("readme.txt")});
    server.Put(kManifestPath, manifest);
    QNetworkAccessManager network;
    HttpTransfer transfer(network, QStringLiteral("inetCheckUpdate"));
    transfer.SetRequestTimeout(kFaultTimeout);
    for (int i = 0; i < 50; ++i) {
        SCOPED_TRACE(i);
        server.SetFault(kManifestPath, Fault::RedirectTo(server.BaseUrl() + QStringLiteral("/hop1"), 301), 1);
        server.SetFault(QStringLiteral("/hop1"), Fault::RedirectTo(server.BaseUrl() + kManifestPath, 302));
        const FetchResult result = transfer.OpenUrl(server.BaseUrl() + kManifestPath);
        ASSERT_TRUE(result.ok()) << result.error.toStdString();
        EXPECT_EQ(result.body, manifest);
    }
}

// Guards against Cancel that has to wait for a slow but live transfer to finish, and against a
// cancelled download that leaves half a file or a temporary file behind.
TEST(TransportFaults, CancelDuringATrickleEndsAtOnceAndKeepsTheOldFile)
{
    FaultScene scene;
    ASSERT_TRUE(scene.ReachDownloadPage());
    scene.Server().SetFault(kExePath, Fault::TrickleInPieces(100, 200ms));  // twenty seconds of bytes

    qint64 cancelledAt = -1;
    const Stopwatch watch;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (cancelledAt < 0 && scene.Server().Requests().contains(kExePath)) {
            cancelledAt = watch.Ms();
            scene.Window().cmdCancel->click();
        }
    });
    poll.start();
    scene.Harness().RunDownloads();
    const qint64 returnedAt = watch.Ms();
    poll.stop();

    ASSERT_GE(cancelledAt, 0) << "the download never started";
    EXPECT_LT(returnedAt - cancelledAt, 2000);
    EXPECT_EQ(scene.Harness().EndProgramCalls(), 1);
    EXPECT_TRUE(scene.Harness().Messages().shown.empty());
    EXPECT_FALSE(scene.Server().Requests().contains(kReadmePath)) << "the queue went on after Cancel";
    scene.ExpectFolderAsBefore();
}

}  // namespace
}  // namespace tarnwick::test
