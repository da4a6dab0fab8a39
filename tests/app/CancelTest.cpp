// Cancel while something waits on the network: the program ends at once, the waiting fetch ends
// with it, and nothing in the application folder changes.
#include "platform/HttpTransfer.h"
#include "support/PageView.h"
#include "support/SiteContent.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace tarnwick::test {
namespace {

using namespace std::chrono_literals;

// The server holds each slow answer far longer than this; a run that ends within it was ended
// by Cancel and not by the server or the request time-out. It detects a hang, not speed.
constexpr qint64 kEndedByCancelMs = 15'000;

// Presses Cancel once the transfer has been waiting for `after`, as a user would.
class CancelWhenWaiting {
public:
    CancelWhenWaiting(FrmMainUpdater& window, const HttpTransfer& transfer, std::chrono::milliseconds after)
    {
        QObject::connect(&m_poll, &QTimer::timeout, [&window, &transfer, after, this] {
            if (!transfer.StillExecuting()) {
                m_waiting.invalidate();
                return;
            }
            if (!m_waiting.isValid())
                m_waiting.start();
            if (m_waiting.elapsed() >= after.count()) {
                m_poll.stop();
                pressed = true;
                window.cmdCancel->click();
            }
        });
        m_poll.start(10);
    }
    bool pressed = false;

private:
    QTimer m_poll;
    QElapsedTimer m_waiting;
};

// Guards Cancel during the check's manifest fetch: the fetch must be aborted rather than
// waited out, and the run must not go on to end the check or touch the window afterwards.
TEST(Cancel, DuringAWaitingManifestFetch)
{
    TestServer server;
    TempAppFolder folder;
    folder.WritePreferences(QStringLiteral("0.2"));
    server.Put(ManifestPath(QStringLiteral("0.2")), Manifest(QStringLiteral("0.3"), {QStringLiteral("a.exe")}));
    WindowHarness harness(server, folder, 60s);
    ASSERT_EQ(harness.StartUp(), StartUpResult::ShowWindow);
    const auto before = folder.Snapshot();
    server.SetFault(ManifestPath(QStringLiteral("0.2")), Fault::Slow(40s));
    FrmMainUpdater& w = harness.Window();

    CancelWhenWaiting cancel(w, *w.inetCheckUpdate, 100ms);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(harness.RunCheck(20ms, 30s));
    EXPECT_LT(clock.elapsed(), kEndedByCancelMs);
    EXPECT_TRUE(cancel.pressed);
    EXPECT_EQ(harness.EndProgramCalls(), 1);
    EXPECT_FALSE(w.inetCheckUpdate->StillExecuting());
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.pbStatusCheck->value(), 1);
    EXPECT_FALSE(w.cmdNext->isEnabled()) << "the abandoned run went on to end the check";
    EXPECT_TRUE(harness.Messages().shown.empty());
    EXPECT_EQ(folder.Snapshot(), before);
}

// Guards Cancel during a large download: the transfer is aborted, the file it would replace
// keeps its old bytes, and no temporary file is left in the application folder.
TEST(Cancel, DuringASlowLargeDownload)
{
    TestServer server;
    TempAppFolder folder;
    folder.WritePreferences(QStringLiteral("0.3"));
    folder.Write(QStringLiteral("big.dat"), "the old big file");
    PublishUpdate(server, QStringLiteral("0.3"), QStringLiteral("0.4"),
                  {{QStringLiteral("small.txt"), "small"}, {QStringLiteral("big.dat"), QByteArray(4 << 20, 'n')}});
    WindowHarness harness(server, folder, 60s);
    ASSERT_EQ(harness.StartUp(), StartUpResult::ShowWindow);
    ASSERT_TRUE(harness.RunCheck());
    const auto before = folder.Snapshot();
    server.SetFault(SitePath(QStringLiteral("0.3"), QStringLiteral("big.dat")), Fault::TrickleEvery(2ms));
    FrmMainUpdater& w = harness.Window();

    CancelWhenWaiting cancel(w, *w.iDownload, 300ms);
    QElapsedTimer clock;
    clock.start();
    harness.RunDownloads();
    EXPECT_LT(clock.elapsed(), kEndedByCancelMs);
    EXPECT_TRUE(cancel.pressed);
    EXPECT_EQ(harness.EndProgramCalls(), 1);
    EXPECT_FALSE(w.iDownload->StillExecuting());
    EXPECT_TRUE(harness.Messages().shown.empty()) << "a cancelled download is no download error";
    EXPECT_EQ(folder.Read(QStringLiteral("big.dat")), QByteArray("the old big file"));
    EXPECT_EQ(folder.Read(QStringLiteral("small.txt")), QByteArray("small"));
    EXPECT_EQ(folder.NewFilesBesides(before, {QStringLiteral("small.txt")}), QStringList());
    EXPECT_NE(harness.ListStatuses().value(1), QStringLiteral("Done"));

    // Notifications still queued after the end must not start the queue again.
    QCoreApplication::processEvents();
    EXPECT_EQ(folder.Read(QStringLiteral("big.dat")), QByteArray("the old big file"));
}

}  // namespace
}  // namespace tarnwick::test
