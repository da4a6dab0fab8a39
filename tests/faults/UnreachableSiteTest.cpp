// A site that cannot be reached at all: nothing listens on its port, or its name does not
// resolve. Both must fail like any other transfer fault, at once and without a trace.
#include "faults/FaultScene.h"

#include <QHostInfo>

#include <gtest/gtest.h>

namespace tarnwick::test {
namespace {

// Start-up and the check run against the dead site itself, then a file download that a live
// site redirects to it.
void ExpectDeadSiteFailsEverywhere(const QString& deadSite)
{
    {
        SCOPED_TRACE("start-up and check run");
        FaultScene scene(QStringLiteral("0.9"));
        WindowHarness& harness = scene.MakeHarness(deadSite);
        const Stopwatch watch;
        EXPECT_EQ(harness.StartUp(), StartUpResult::ShowWindow);
        EXPECT_LT(watch.Ms(), 5000);
        ExpectWelcomePageWithoutNotice(harness);
        ASSERT_TRUE(harness.RunCheck());
        ExpectCheckPageAfterFailure(harness);
        scene.ExpectFolderAsBefore();
    }
    {
        SCOPED_TRACE("file download");
        FaultScene scene;
        ASSERT_TRUE(scene.ReachDownloadPage());
        scene.Server().SetFault(kExePath, Fault::RedirectTo(deadSite + QStringLiteral("0.3/Tarnwick.exe")));
        scene.Harness().RunDownloads();
        scene.ExpectExeFailedReadmeDone();
    }
}

// Guards against a refused connection that hangs, crashes or writes anything, and against a
// site that goes away between the check and the downloads: every file fails, each with its
// own message, and no file changes.
TEST(UnreachableSite, ClosedPortFailsEveryFetchWithoutATrace)
{
    ExpectDeadSiteFailsEverywhere(ClosedSiteUrl());

    FaultScene scene;
    ASSERT_TRUE(scene.ReachDownloadPage());
    scene.StopServer();
    scene.Harness().RunDownloads();
    EXPECT_EQ(scene.Harness().ListStatuses(), (QStringList{QStringLiteral("Failed"), QStringLiteral("Failed")}));
    ExpectDownloadMessages(scene.Harness(), 2);
    scene.ExpectFolderAsBefore();
}

// Guards against a host name that does not resolve being treated as anything but a failed
// transfer. ".invalid" never resolves, so only the local resolver is asked.
TEST(UnreachableSite, UnresolvableNameFailsEveryFetchWithoutATrace)
{
    const QString host = QStringLiteral("tarnwick.invalid");
    const Stopwatch watch;
    const QHostInfo probe = QHostInfo::fromName(host);
    if (probe.error() == QHostInfo::NoError)
        GTEST_SKIP() << "this machine's resolver answers for " << host.toStdString() << "; the case needs one that refuses";
    if (watch.Ms() > 2000)
        GTEST_SKIP() << "the resolver took " << watch.Ms() << " ms to refuse " << host.toStdString()
                     << "; too slow for a one-second time-out";
    ExpectDeadSiteFailsEverywhere(QStringLiteral("http://%1/updater/").arg(host));
}

}  // namespace
}  // namespace tarnwick::test
