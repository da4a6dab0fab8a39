// The HTTP transfer against a real server on 127.0.0.1: redirects, error statuses, the text
// limit, the inactivity time-out, the state-changed notification and abort.
#include "platform/HttpTransfer.h"
#include "support/QtPrinters.h"
#include "support/TestServer.h"

#include <QBuffer>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace tarnwick::test {
namespace {

using namespace std::chrono_literals;

class HttpTransferTest : public ::testing::Test {
protected:
    QString Url(const QString& path) const { return server.BaseUrl() + path; }

    TestServer server;
    QNetworkAccessManager network;
    HttpTransfer transfer{network, QStringLiteral("transfer")};
};

// Guards against stopping at the first redirect (a moved site would look empty) and against
// following a redirect loop for ever.
TEST_F(HttpTransferTest, FollowsARedirectChainButNotALoop)
{
    server.Put(QStringLiteral("/end"), "arrived");
    server.SetFault(QStringLiteral("/hop1"), Fault::RedirectTo(Url(QStringLiteral("/hop2")), 301));
    server.SetFault(QStringLiteral("/hop2"), Fault::RedirectTo(Url(QStringLiteral("/hop3")), 302));
    server.SetFault(QStringLiteral("/hop3"), Fault::RedirectTo(Url(QStringLiteral("/end")), 307));
    const FetchResult chain = transfer.OpenUrl(Url(QStringLiteral("/hop1")));
    EXPECT_TRUE(chain.ok()) << chain.error.toStdString();
    EXPECT_EQ(chain.body, QByteArray("arrived"));
    // Qt may send a request again when the server closes a kept-alive connection under it, so
    // the hops are compared without repeats.
    QStringList hops = server.Requests();
    hops.removeDuplicates();
    EXPECT_EQ(hops, (QStringList{QStringLiteral("/hop1"), QStringLiteral("/hop2"), QStringLiteral("/hop3"),
                                              QStringLiteral("/end")}));

    server.SetFault(QStringLiteral("/loopA"), Fault::RedirectTo(Url(QStringLiteral("/loopB"))));
    server.SetFault(QStringLiteral("/loopB"), Fault::RedirectTo(Url(QStringLiteral("/loopA"))));
    const FetchResult loop = transfer.OpenUrl(Url(QStringLiteral("/loopA")));
    EXPECT_FALSE(loop.ok());
    EXPECT_FALSE(loop.cancelled());
    EXPECT_TRUE(loop.body.isEmpty());
}

// Guards against an error page or a broken transfer being taken as the document: the manifest
// would be misread and a product file overwritten with the error page.
TEST_F(HttpTransferTest, ErrorStatusAndBrokenTransfersFailWithoutHandingOnTheBody)
{
    server.Put(QStringLiteral("/file"), QByteArray(4000, 'f'));
    for (const int status : {404, 403, 500, 503}) {
        server.SetFault(QStringLiteral("/file"), Fault::WithStatus(status));
        const FetchResult text = transfer.OpenUrl(Url(QStringLiteral("/file")));
        EXPECT_FALSE(text.ok()) << status;
        EXPECT_TRUE(text.body.isEmpty()) << status;
        QBuffer sink;
        sink.open(QIODevice::WriteOnly);
        EXPECT_FALSE(transfer.OpenUrlInto(Url(QStringLiteral("/file")), sink).ok()) << status;
        EXPECT_TRUE(sink.data().isEmpty()) << status << " handed on: " << sink.data().toStdString();
    }

    server.SetFault(QStringLiteral("/file"), Fault::Drop());
    EXPECT_FALSE(transfer.OpenUrl(Url(QStringLiteral("/file"))).ok());
    QBuffer dropped;
    dropped.open(QIODevice::WriteOnly);
    EXPECT_FALSE(transfer.OpenUrlInto(Url(QStringLiteral("/file")), dropped).ok());

    auto closed = std::make_unique<TestServer>();
    const QString closedUrl = closed->BaseUrl() + QStringLiteral("/file");
    closed.reset();  // nothing listens on that port any more
    const FetchResult refused = transfer.OpenUrl(closedUrl);
    EXPECT_FALSE(refused.ok());
    EXPECT_FALSE(refused.cancelled());

    server.ClearFaults();
    server.SetFault(QStringLiteral("/empty"), Fault::Empty());
    const FetchResult empty = transfer.OpenUrl(Url(QStringLiteral("/empty")));
    EXPECT_TRUE(empty.ok()) << "an empty 200 answer is a successful transfer";
    EXPECT_TRUE(empty.body.isEmpty());
}

// Guards against a hostile site exhausting memory through a text fetch, without limiting the
// size of files streamed to disk.
TEST_F(HttpTransferTest, TextAnswerOverTheLimitFailsButStreamingDoesNot)
{
    transfer.SetTextLimit(100);
    server.Put(QStringLiteral("/fits"), QByteArray(100, 'a'));
    server.Put(QStringLiteral("/over"), QByteArray(101, 'b'));
    server.Put(QStringLiteral("/large"), QByteArray(3 * 1024 * 1024, 'c'));

    const FetchResult fits = transfer.OpenUrl(Url(QStringLiteral("/fits")));
    EXPECT_TRUE(fits.ok());
    EXPECT_EQ(fits.body.size(), 100);
    const FetchResult over = transfer.OpenUrl(Url(QStringLiteral("/over")));
    EXPECT_FALSE(over.ok());
    EXPECT_TRUE(over.body.isEmpty());
    EXPECT_FALSE(transfer.OpenUrl(Url(QStringLiteral("/large"))).ok());

    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    EXPECT_TRUE(transfer.OpenUrlInto(Url(QStringLiteral("/large")), sink).ok());
    EXPECT_EQ(sink.data(), QByteArray(3 * 1024 * 1024, 'c'));
}

// Guards against waiting for ever on a silent server, and against a total-time limit that
// would kill a slow but live download.
TEST_F(HttpTransferTest, InactivityTimeOutFiresOnSilenceButNotOnATrickle)
{
    transfer.SetRequestTimeout(500ms);
    server.Put(QStringLiteral("/silent"), "never sent in time");
    server.Put(QStringLiteral("/headers"), "never sent");
    server.Put(QStringLiteral("/trickle"), "123456");
    server.SetFault(QStringLiteral("/silent"), Fault::Slow(5s));
    server.SetFault(QStringLiteral("/headers"), Fault::Headers(5s));
    server.SetFault(QStringLiteral("/trickle"), Fault::TrickleEvery(120ms));

    for (const char* path : {"/silent", "/headers"}) {
        const FetchResult silent = transfer.OpenUrl(Url(QString::fromLatin1(path)));
        EXPECT_FALSE(silent.ok()) << path;
        EXPECT_FALSE(silent.cancelled()) << path;
        EXPECT_FALSE(transfer.StillExecuting()) << path;
    }
    // Six bytes 120 ms apart take longer than the 500 ms time-out in all, yet never go silent
    // for that long.
    const FetchResult trickle = transfer.OpenUrl(Url(QStringLiteral("/trickle")));
    EXPECT_TRUE(trickle.ok()) << trickle.error.toStdString();
    EXPECT_EQ(trickle.body, QByteArray("123456"));
}

// Guards the queue's trigger: the notification must come after the transfer is idle, through
// the event loop (never from inside the fetch call), once per transfer, failed ones included.
TEST_F(HttpTransferTest, StateChangedIsPostedAfterEachTransfer)
{
    server.Put(QStringLiteral("/a"), "a");
    QSignalSpy spy(&transfer, &HttpTransfer::StateChanged);
    QList<bool> busyWhenNotified;
    QObject::connect(&transfer, &HttpTransfer::StateChanged,
                     [&] { busyWhenNotified.append(transfer.StillExecuting()); });

    EXPECT_TRUE(transfer.OpenUrl(Url(QStringLiteral("/a"))).ok());
    EXPECT_EQ(spy.count(), 0) << "delivered from inside the fetch";
    EXPECT_TRUE(QTest::qWaitFor([&] { return spy.count() == 1; }, 5000));

    EXPECT_FALSE(transfer.OpenUrl(Url(QStringLiteral("/missing"))).ok());
    EXPECT_EQ(spy.count(), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return spy.count() == 2; }, 5000));
    EXPECT_EQ(busyWhenNotified, (QList<bool>{false, false}));
}

// Guards Cancel: an abort must end the waiting call at once as Cancelled (not as a failure
// that would show an error message), and a second fetch on a busy transfer must be refused.
TEST_F(HttpTransferTest, AbortEndsTheWaitingCallAsCancelled)
{
    server.Put(QStringLiteral("/slow"), "late");
    server.Put(QStringLiteral("/other"), "other");
    server.SetFault(QStringLiteral("/slow"), Fault::Slow(30s));
    bool wasBusy = false;
    FetchResult nested;
    QTimer::singleShot(100ms, [&] {
        wasBusy = transfer.StillExecuting();
        nested = transfer.OpenUrl(Url(QStringLiteral("/other")));
        transfer.Abort();
    });
    const FetchResult result = transfer.OpenUrl(Url(QStringLiteral("/slow")));
    EXPECT_TRUE(wasBusy);
    EXPECT_FALSE(nested.ok());
    EXPECT_FALSE(nested.cancelled());
    EXPECT_TRUE(result.cancelled());
    EXPECT_TRUE(result.body.isEmpty());
    EXPECT_FALSE(transfer.StillExecuting());
    EXPECT_FALSE(server.Requests().contains(QStringLiteral("/other")));

    // The transfer is usable again afterwards.
    const FetchResult again = transfer.OpenUrl(Url(QStringLiteral("/other")));
    EXPECT_TRUE(again.ok());
    EXPECT_EQ(again.body, QByteArray("other"));
}

}  // namespace
}  // namespace tarnwick::test
