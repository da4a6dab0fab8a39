// The download queue and the completion page through the real window and the local site: what
// lands on disk, which entries are taken, and the page the run ends on.
#include "download/DownloadRoadFixture.h"
#include "platform/HttpTransfer.h"

#include <QNetworkAccessManager>
#include <QTest>
#include <QTimer>

namespace tarnwick::test {
namespace {

using namespace std::chrono_literals;

QStringList Repeated(const char* word, int times)
{
    return QStringList(times, QString::fromLatin1(word));
}

QByteArray BinaryBody(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((qint64(i) * 7919) % 251);  // in int the product overflows past 271,000
    return bytes;
}

// The completion page, as far as the page table and the captions tell it apart.
struct PageState {
    QStringList shows;
    QString headline;
    QString hint;
    QString cancel;
    int barMax;
    int barValue;

    static PageState Of(const WindowHarness& harness)
    {
        FrmMainUpdater& w = const_cast<WindowHarness&>(harness).Window();
        return {ShownNow(harness),         Caption(w.lblVersionExplain), Caption(w.lblNextToDownload),
                Caption(w.cmdCancel),      w.pbDownloading->maximum(),   w.pbDownloading->value()};
    }
    bool operator==(const PageState&) const = default;
    friend void PrintTo(const PageState& page, std::ostream* os)
    {
        PrintTo(page.shows, os);
        *os << " headline \"" << page.headline.toStdString() << "\" hint \"" << page.hint.toStdString()
            << "\" cancel \"" << page.cancel.toStdString() << "\" bar " << page.barValue << '/' << page.barMax;
    }
};

const QStringList kCompletionShows = PageShows({QStringLiteral("lDownload"), QStringLiteral("lblDownloading"),
                                                QStringLiteral("pbDownloading"), QStringLiteral("lblVersionExplain"),
                                                QStringLiteral("lblNextToDownload"), QStringLiteral("cmdCancel")});

// Guards what lands on disk: the name after the last "/", an existing sub-folder through "\",
// the exact bytes (binary, empty, shorter than the old file), and the later of two files with
// the same name deciding.
TEST(DownloadQueue, SavesEachFileUnderItsLastSegment)
{
    DownloadRoad road;
    road.folder.Write(QStringLiteral("readme.txt"), "an old readme that is much longer than the new one");
    road.folder.Write(QStringLiteral("sub/x.dat"), "old x");
    road.folder.Write(QStringLiteral("untouched.txt"), "untouched");
    ASSERT_NO_FATAL_FAILURE(road.ReachFileList({
        {QStringLiteral("Tarnwick.exe"), BinaryBody(300000)},
        {QStringLiteral("readme.txt"), "short"},
        {QStringLiteral("empty.dat"), ""},
        {QStringLiteral("docs/manual.txt"), "manual"},
        {QStringLiteral("sub\\x.dat"), "new x"},
        {QStringLiteral("first/same.dat"), "first"},
        {QStringLiteral("second/same.dat"), "second"},
    }));

    road.harness->RunDownloads();
    EXPECT_EQ(road.harness->ListStatuses(), Repeated("Done", 7));
    EXPECT_TRUE(road.harness->Messages().shown.empty());
    EXPECT_EQ(road.folder.Read(QStringLiteral("Tarnwick.exe")), BinaryBody(300000));
    EXPECT_EQ(road.folder.Read(QStringLiteral("readme.txt")), QByteArray("short"));
    EXPECT_TRUE(road.folder.Exists(QStringLiteral("empty.dat")));
    EXPECT_EQ(road.folder.Read(QStringLiteral("empty.dat")), QByteArray());
    EXPECT_EQ(road.folder.Read(QStringLiteral("manual.txt")), QByteArray("manual"));
    EXPECT_FALSE(road.folder.Exists(QStringLiteral("docs")));
    EXPECT_EQ(road.folder.Read(QStringLiteral("sub/x.dat")), QByteArray("new x"));
    EXPECT_EQ(road.folder.Read(QStringLiteral("same.dat")), QByteArray("second"));
    road.ExpectOnlyChanged({QStringLiteral("Tarnwick.exe"), QStringLiteral("readme.txt"), QStringLiteral("empty.dat"),
                            QStringLiteral("manual.txt"), QStringLiteral("sub/x.dat"), QStringLiteral("same.dat")});
    EXPECT_EQ(road.server.Requests(),
              (QStringList{road.PathOf("Tarnwick.exe"), road.PathOf("readme.txt"), road.PathOf("empty.dat"),
                           road.PathOf("docs/manual.txt"), road.PathOf("sub\\x.dat"), road.PathOf("first/same.dat"),
                           road.PathOf("second/same.dat")}));
    const PageState page = PageState::Of(*road.harness);
    EXPECT_EQ(page, (PageState{kCompletionShows, "Downloading complete!", "Click Complete to close.", "Complete", 7, 7}));
}

// Guards the queue's selection: only an entry whose status is exactly "Valid" is fetched, and
// a list that does not end all "Done" never shows the completion page.
TEST(DownloadQueue, OnlyExactlyValidIsDownloaded)
{
    const QStringList statuses = {"valid", "Valid ", "VALID", "Busy...", "Done", "Failed", "Valid", ""};
    DownloadRoad road;
    SiteFiles files;
    for (int i = 0; i < statuses.size(); ++i)
        files.push_back({QStringLiteral("f%1.dat").arg(i), "body"});
    ASSERT_NO_FATAL_FAILURE(road.ReachFileList(files));
    for (int i = 0; i < statuses.size(); ++i)
        DownloadList::SetStatus(road.Window().lDownload->Item(i), statuses[i]);

    road.harness->RunDownloads();
    QStringList expected = statuses;
    expected[6] = QStringLiteral("Done");
    EXPECT_EQ(road.harness->ListStatuses(), expected);
    EXPECT_EQ(road.server.Requests(), QStringList{road.PathOf(QStringLiteral("f6.dat"))});
    road.ExpectOnlyChanged({QStringLiteral("f6.dat")});
    EXPECT_TRUE(road.harness->Messages().shown.empty());
    const PageState page = PageState::Of(*road.harness);
    const QStringList downloadPage =
        PageShows({QStringLiteral("lDownload"), QStringLiteral("lblDownloading"), QStringLiteral("pbDownloading"),
                   QStringLiteral("lblVersionExplain"), QStringLiteral("lblNewVersion"), QStringLiteral("cmdNext"),
                   QStringLiteral("cmdCancel")});
    EXPECT_EQ(page, (PageState{downloadPage, "New version available:", "", "Cancel", 8, 2}));
}

// Guards the nesting the queue allows: a notification delivered while an error message is open
// starts a nested run that takes the remaining files, yet no file is taken twice.
TEST(DownloadQueue, NestedRunDuringAnOpenMessageTakesNoFileTwice)
{
    DownloadRoad road;
    ASSERT_NO_FATAL_FAILURE(road.ReachFileList(
        {{QStringLiteral("a.dat"), "a"}, {QStringLiteral("b.dat"), "b"}, {QStringLiteral("c.dat"), "c"}}));
    road.server.SetFault(road.PathOf(QStringLiteral("a.dat")), Fault::WithStatus(404));
    QStringList statusesWhileOpen;
    road.harness->Messages().whileOpen = [&] {
        QCoreApplication::processEvents();
        statusesWhileOpen = road.harness->ListStatuses();
    };

    road.harness->RunDownloads();
    EXPECT_EQ(statusesWhileOpen, (QStringList{QStringLiteral("Busy..."), QStringLiteral("Done"), QStringLiteral("Done")}));
    EXPECT_EQ(road.harness->ListStatuses(),
              (QStringList{QStringLiteral("Failed"), QStringLiteral("Done"), QStringLiteral("Done")}));
    EXPECT_EQ(road.server.Requests(), (QStringList{road.PathOf("a.dat"), road.PathOf("b.dat"), road.PathOf("c.dat")}));
    road.ExpectErrorMessages(1);
    road.ExpectFailedPage();
}

// Guards against stack growth or quadratic trouble with a long list, and against any entry
// being skipped or taken twice.
TEST(DownloadQueue, TwoThousandSmallFilesAllDone)
{
    constexpr int kFiles = 2000;
    DownloadRoad road;
    SiteFiles files;
    for (int i = 0; i < kFiles; ++i)
        files.push_back({QStringLiteral("f%1.dat").arg(i, 4, 10, QLatin1Char('0')), QByteArray::number(i)});
    ASSERT_NO_FATAL_FAILURE(road.ReachFileList(files));

    road.harness->RunDownloads();
    EXPECT_EQ(road.harness->ListStatuses(), Repeated("Done", kFiles));
    EXPECT_EQ(road.server.Requests().size(), kFiles);
    EXPECT_EQ(road.server.Requests().removeDuplicates(), 0);
    EXPECT_EQ(road.folder.Read(QStringLiteral("f1999.dat")), QByteArray("1999"));
    EXPECT_EQ(road.folder.NewFilesBesides(road.before).size(), kFiles);
    EXPECT_EQ(PageState::Of(*road.harness).headline, QStringLiteral("Downloading complete!"));
    EXPECT_EQ(road.Window().pbDownloading->value(), kFiles);
}

// Guards the mended double press: Next pressed again while a download runs must not start a
// second queue, which would find the transfer busy and fail the next file without a message.
TEST(DownloadQueue, SecondNextDuringARunDoesNothing)
{
    DownloadRoad road;
    ASSERT_NO_FATAL_FAILURE(road.ReachFileList({{QStringLiteral("a.dat"), "a"}, {QStringLiteral("b.dat"), "b"}}));
    road.server.SetFault(road.PathOf(QStringLiteral("a.dat")), Fault::Slow(300ms));
    FrmMainUpdater& w = road.Window();
    bool pressedWhileBusy = false;
    QTimer::singleShot(100ms, [&] {
        pressedWhileBusy = w.iDownload->StillExecuting() && w.cmdNext->isEnabled() && w.cmdNext->isVisible();
        w.cmdNext->click();
    });

    road.harness->RunDownloads();
    EXPECT_TRUE(pressedWhileBusy);
    EXPECT_EQ(road.harness->ListStatuses(), Repeated("Done", 2));
    EXPECT_TRUE(road.harness->Messages().shown.empty());
    EXPECT_EQ(road.server.Requests(), (QStringList{road.PathOf("a.dat"), road.PathOf("b.dat")}));
    EXPECT_EQ(PageState::Of(*road.harness).shows, kCompletionShows);
}

// Guards that the completion step only reflects the list: running it again, or the late
// notification of the last transfer, leaves the page exactly as it was.
TEST(DownloadQueue, CompletionStepIsRepeatable)
{
    DownloadRoad road;
    ASSERT_NO_FATAL_FAILURE(road.ReachFileList({{QStringLiteral("a.dat"), "a"}, {QStringLiteral("b.dat"), "b"}}));
    road.harness->RunDownloads();
    const PageState once = PageState::Of(*road.harness);
    EXPECT_EQ(once, (PageState{kCompletionShows, "Downloading complete!", "Click Complete to close.", "Complete", 2, 2}));

    QCoreApplication::processEvents();  // the queued state change of the last transfer
    road.Window().FinishDownloads();
    EXPECT_EQ(PageState::Of(*road.harness), once);
    EXPECT_EQ(road.server.Requests().size(), 2);
}

// Guards the failed check leading on: Next goes through an empty queue to the completion page,
// the bar refusing a maximum of 0 and keeping its own.
TEST(DownloadQueue, EmptyListLeadsToTheCompletionPage)
{
    DownloadRoad road;
    road.server.SetFault(ManifestPath(kInstalled), Fault::WithStatus(404));
    road.harness = std::make_unique<WindowHarness>(road.server, road.folder);
    ASSERT_EQ(road.harness->StartUp(), StartUpResult::ShowWindow);
    ASSERT_TRUE(road.harness->RunCheck());
    ASSERT_TRUE(road.Window().cmdNext->isEnabled());
    road.harness->RunDownloads();
    EXPECT_EQ(PageState::Of(*road.harness),
              (PageState{kCompletionShows, "Downloading complete!", "Click Complete to close.", "Complete", 100, 0}));
}

// Guards the busy rule of a single download: a transfer still fetching refuses a second one
// with false, no message, no request, and neither the window nor the disk changes.
TEST(DownloadQueue, BusyTransferIsRefusedWithoutTrace)
{
    DownloadRoad road;
    ASSERT_NO_FATAL_FAILURE(road.ReachFileList({{QStringLiteral("a.dat"), "a"}}));
    road.server.Put(QStringLiteral("/slow"), "slow");
    road.server.SetFault(QStringLiteral("/slow"), Fault::Slow(300ms));
    QNetworkAccessManager network;
    HttpTransfer busy(network, QStringLiteral("busy"));
    const PageState page = PageState::Of(*road.harness);
    const QString url = road.harness->ListKeys().first();

    std::optional<bool> result;
    QTimer::singleShot(50ms, [&] {
        if (busy.StillExecuting())
            result = road.Window().DownloadFile(busy, url, road.folder.Path());
    });
    EXPECT_TRUE(busy.OpenUrl(road.server.BaseUrl() + QStringLiteral("/slow")).ok());
    ASSERT_TRUE(result.has_value()) << "the transfer was not busy when asked";
    EXPECT_FALSE(*result);
    EXPECT_TRUE(road.harness->Messages().shown.empty());
    EXPECT_EQ(PageState::Of(*road.harness), page);
    EXPECT_TRUE(road.Window().cmdNext->isVisible());
    road.ExpectOnlyChanged({});
    EXPECT_EQ(road.server.Requests(), QStringList{QStringLiteral("/slow")});
}

}  // namespace
}  // namespace tarnwick::test
