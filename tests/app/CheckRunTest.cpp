// The update check run through the real window and the real transfer against the local site:
// every result page, the list it fills and the requests it makes.
#include "support/PageView.h"
#include "support/SiteContent.h"

#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace tarnwick::test {
namespace {

using namespace std::chrono_literals;

enum class Result { NewVersion, UpToDate, FailedAtStep1 };

// One page per result, as the page table lists it.
struct ResultPage {
    QStringList shows;
    bool nextEnabled;
    QString cancel;
    int counter;
};

ResultPage PageOf(Result result)
{
    const QString bar = QStringLiteral("pbStatusCheck");
    const QString list = QStringLiteral("lDownload");
    const QString next = QStringLiteral("cmdNext");
    const QString cancel = QStringLiteral("cmdCancel");
    switch (result) {
    case Result::NewVersion:
        return {PageShows({bar, list, next, cancel, QStringLiteral("lblVersionExplain"), QStringLiteral("lblNewVersion")}),
                true, QStringLiteral("Cancel"), 2};
    case Result::UpToDate:
        return {PageShows({bar, list, cancel, QStringLiteral("lblVersionExplain"), QStringLiteral("lblNextToDownload")}),
                true, QStringLiteral("Complete"), 2};
    case Result::FailedAtStep1:
        break;
    }
    return {PageShows({bar, list, next, cancel}), true, QStringLiteral("Cancel"), 1};
}

class CheckRunTest : public ::testing::Test {
protected:
    // Start-up for the installed version, its own manifest fetch left out of the request log.
    WindowHarness& StartOn(const QString& installed, std::chrono::milliseconds timeout = 10s)
    {
        folder.WritePreferences(installed);
        harness = std::make_unique<WindowHarness>(server, folder, timeout);
        EXPECT_EQ(harness->StartUp(), StartUpResult::ShowWindow);
        server.ClearRequests();
        return *harness;
    }

    void ExpectResult(Result result, const std::string& what)
    {
        const ResultPage page = PageOf(result);
        FrmMainUpdater& w = harness->Window();
        EXPECT_EQ(ShownNow(*harness), page.shows) << what;
        EXPECT_EQ(w.cmdNext->isEnabled(), page.nextEnabled) << what;
        EXPECT_EQ(Caption(w.cmdCancel), page.cancel) << what;
        EXPECT_EQ(w.pbStatusCheck->value(), page.counter) << what;
        EXPECT_FALSE(w.tmrCheckUpdate->isActive()) << what;
        EXPECT_EQ(w.Tag(), QStringLiteral("2")) << what;
        EXPECT_TRUE(harness->Messages().shown.empty()) << what;
        if (result == Result::NewVersion)
            EXPECT_EQ(Caption(w.lblVersionExplain), QStringLiteral("New version available:")) << what;
        if (result == Result::UpToDate) {
            EXPECT_EQ(Caption(w.lblVersionExplain), QStringLiteral("Version up to date!")) << what;
            EXPECT_EQ(Caption(w.lblNextToDownload), QStringLiteral("Click Complete to close.")) << what;
        }
    }

    // List keys with the site's base address taken off, for short expectations.
    QStringList KeysOnSite() const
    {
        QStringList keys = harness->ListKeys();
        for (QString& key : keys)
            key.remove(0, server.SiteUrl().size());
        return keys;
    }

    TestServer server;
    TempAppFolder folder;
    std::unique_ptr<WindowHarness> harness;
};

struct ManifestCase {
    const char* what;
    QString installed;
    QByteArray manifest;
    Result result;
    QString published;   // lblNewVersion after the run
    QStringList texts;   // list entries
    QStringList keys;    // their keys, after the site's base address
    int fetches;         // manifest requests the check made
};

// Guards the outcome of the run for each kind of manifest: the text comparison, the empty and
// blank-led versions, duplicate and empty file names, a missing file element.
TEST_F(CheckRunTest, ResultPageForEachManifest)
{
    const std::vector<ManifestCase> cases = {
        {"newer version", "0.2", Manifest("0.3", {"a.exe", "b.dll"}), Result::NewVersion, "0.3", {"a.exe", "b.dll"},
         {"0.2/a.exe", "0.2/b.dll"}, 2},
        {"same version", "0.3", Manifest("0.3", {"a.exe"}), Result::UpToDate, "0.3", {}, {}, 1},
        {"compared as text", "0.9", Manifest("0.10", {"a.exe"}), Result::UpToDate, "0.10", {}, {}, 1},
        {"older published", "0.4", Manifest("0.3", {"a.exe"}), Result::UpToDate, "0.3", {}, {}, 1},
        {"empty installed version", "", Manifest("0.1", {"a.exe"}), Result::NewVersion, "0.1", {"a.exe"}, {"/a.exe"}, 2},
        {"published version starts with a blank", "0.2", Manifest(" 0.3", {"a.exe"}), Result::UpToDate, "", {}, {}, 1},
        {"version cut at its first blank", "0.3", Manifest("0.4 second beta", {"a.exe"}), Result::NewVersion, "0.4",
         {"a.exe"}, {"0.3/a.exe"}, 2},
        {"file named twice", "0.2", Manifest("0.3", {"a.exe", "b.dll", "a.exe", "c.txt"}), Result::NewVersion, "0.3",
         {"a.exe", "b.dll"}, {"0.2/a.exe", "0.2/b.dll"}, 2},
        {"trailing <br>", "0.2", "<ver>0.3</ver><file>a.exe<br></file>", Result::NewVersion, "0.3", {"a.exe", ""},
         {"0.2/a.exe", "0.2/"}, 2},
        {"name in a sub-folder", "0.2", Manifest("0.3", {"sub/extra.dat"}), Result::NewVersion, "0.3",
         {"sub/extra.dat"}, {"0.2/sub/extra.dat"}, 2},
        {"no file element", "0.2", "<ver>0.3</ver>", Result::NewVersion, "0.3", {}, {}, 2},
        {"empty file element", "0.2", "<ver>0.3</ver><file></file>", Result::NewVersion, "0.3", {}, {}, 2},
        {"no ver element", "0.2", "<file>a.exe</file>", Result::FailedAtStep1, "", {}, {}, 1},
        {"empty ver element", "0.2", "<ver></ver><file>a.exe</file>", Result::FailedAtStep1, "", {}, {}, 1},
        {"an error page would be no manifest either", "0.2", "<html>Not here</html>", Result::FailedAtStep1, "", {},
         {}, 1},
    };
    for (const ManifestCase& c : cases) {
        server.Put(ManifestPath(c.installed), c.manifest);
        StartOn(c.installed);
        ASSERT_TRUE(harness->RunCheck()) << c.what;
        ExpectResult(c.result, c.what);
        EXPECT_EQ(Caption(harness->Window().lblNewVersion), c.published) << c.what;
        EXPECT_EQ(harness->ListTexts(), c.texts) << c.what;
        EXPECT_EQ(KeysOnSite(), c.keys) << c.what;
        EXPECT_EQ(harness->ListStatuses(), QStringList(c.texts.size(), QStringLiteral("Valid"))) << c.what;
        EXPECT_EQ(server.Requests(), QStringList(c.fetches, ManifestPath(c.installed))) << c.what;
        harness.reset();
    }
}

// Guards the failure path: whatever goes wrong with a fetch ends the run silently with Next
// enabled and an empty list. In step 1 an empty answer is fetched again at most twice; the
// second fetch of a newer version is made once, and its failure keeps the version shown.
TEST_F(CheckRunTest, FetchFailuresEndTheRunSilently)
{
    const QString path = ManifestPath(QStringLiteral("0.2"));
    server.Put(path, Manifest(QStringLiteral("0.3"), {QStringLiteral("a.exe")}));

    struct FaultCase {
        const char* what;
        int unharmed;  // fetches answered normally before the fault
        Fault fault;
        Result result;
        int fetches;
    };
    const std::vector<FaultCase> cases = {
        {"404", 0, Fault::WithStatus(404), Result::FailedAtStep1, 1},
        {"500", 0, Fault::WithStatus(500), Result::FailedAtStep1, 1},
        {"time-out", 0, Fault::Slow(5s), Result::FailedAtStep1, 1},
        {"connection dropped", 0, Fault::Drop(), Result::FailedAtStep1, 1},
        {"empty answers", 0, Fault::Empty(), Result::FailedAtStep1, 3},
        {"second fetch empty", 1, Fault::Empty(), Result::NewVersion, 2},
        {"second fetch 404", 1, Fault::WithStatus(404), Result::NewVersion, 2},
        {"second fetch times out", 1, Fault::Slow(5s), Result::NewVersion, 2},
    };
    for (const FaultCase& c : cases) {
        StartOn(QStringLiteral("0.2"), 300ms);
        server.SetFaultAfter(path, c.unharmed, c.fault);
        ASSERT_TRUE(harness->RunCheck()) << c.what;
        ExpectResult(c.result, c.what);
        EXPECT_EQ(Caption(harness->Window().lblNewVersion), c.unharmed ? QStringLiteral("0.3") : QString()) << c.what;
        EXPECT_EQ(server.Requests(), QStringList(c.fetches, path)) << c.what;
        EXPECT_TRUE(harness->ListKeys().isEmpty()) << c.what;
        server.ClearFaults();
        harness.reset();
    }

    // Two empty answers and then the manifest: the third fetch counts.
    StartOn(QStringLiteral("0.2"));
    server.SetFault(path, Fault::Empty(), 2);
    ASSERT_TRUE(harness->RunCheck());
    ExpectResult(Result::NewVersion, "third fetch answers");
    EXPECT_EQ(server.Requests(), QStringList(4, path));
}

// Guards against a site that cannot be reached at all hanging the run or showing a message.
TEST_F(CheckRunTest, UnreachableSiteEndsTheRunAtStep1)
{
    folder.WritePreferences(QStringLiteral("0.2"));
    auto closed = std::make_unique<TestServer>();
    harness = std::make_unique<WindowHarness>(*closed, folder);
    closed.reset();  // nothing listens on the site's port any more
    ASSERT_EQ(harness->StartUp(), StartUpResult::ShowWindow);
    ASSERT_TRUE(harness->RunCheck());
    ExpectResult(Result::FailedAtStep1, "unreachable");
}

// Guards the up-to-date ending: the timer must not stop at step 2 but one tick later, when the
// bar refuses a third step, leaving Next enabled yet hidden.
TEST_F(CheckRunTest, UpToDateRunEndsOneTickAfterTheResult)
{
    server.Put(ManifestPath(QStringLiteral("0.3")), Manifest(QStringLiteral("0.3"), {QStringLiteral("a.exe")}));
    WindowHarness& h = StartOn(QStringLiteral("0.3"));
    FrmMainUpdater& w = h.Window();
    w.tmrCheckUpdate->setInterval(500);  // room to look at the page between two ticks
    w.cmdNext->click();
    EXPECT_EQ(ShownNow(h), PageShows({QStringLiteral("pbStatusCheck"), QStringLiteral("lDownload"),
                                      QStringLiteral("cmdNext"), QStringLiteral("cmdCancel")}));
    EXPECT_FALSE(w.cmdNext->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.lblVersionExplain->isVisible(); }, 10000));
    EXPECT_EQ(Caption(w.lblVersionExplain), QStringLiteral("Version up to date!"));
    EXPECT_TRUE(w.tmrCheckUpdate->isActive());
    EXPECT_FALSE(w.cmdNext->isEnabled());
    EXPECT_EQ(w.pbStatusCheck->value(), 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.tmrCheckUpdate->isActive(); }, 10000));
    EXPECT_TRUE(w.cmdNext->isEnabled());
    EXPECT_FALSE(w.cmdNext->isVisible());
    EXPECT_EQ(w.pbStatusCheck->value(), 2);
}

// Guards one step per tick: ticks keep coming every 20 ms while a slow manifest is fetched,
// and none of them may advance the counter or start a step of its own.
TEST_F(CheckRunTest, TicksDuringAWaitingFetchRunNoStep)
{
    const QString path = ManifestPath(QStringLiteral("0.2"));
    server.Put(path, Manifest(QStringLiteral("0.3"), {QStringLiteral("a.exe"), QStringLiteral("b.dll")}));
    StartOn(QStringLiteral("0.2"));
    server.SetFault(path, Fault::Slow(400ms));
    QList<int> counterValues;
    QObject::connect(harness->Window().pbStatusCheck, &QProgressBar::valueChanged,
                     [&](int value) { counterValues.append(value); });
    ASSERT_TRUE(harness->RunCheck(20ms));
    ExpectResult(Result::NewVersion, "slow manifest");
    EXPECT_EQ(counterValues, (QList<int>{1, 2}));
    EXPECT_EQ(harness->ListTexts(), (QStringList{QStringLiteral("a.exe"), QStringLiteral("b.dll")}));
    EXPECT_EQ(server.Requests(), QStringList(2, path));
}

}  // namespace
}  // namespace tarnwick::test
