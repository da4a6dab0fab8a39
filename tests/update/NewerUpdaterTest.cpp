// The newer-updater notice through the real start-up against the local site, with the message
// box and the browser recorded.
#include "support/PageView.h"
#include "support/SiteContent.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace tarnwick::test {
namespace {

const QString kNotice = QStringLiteral(
    "There is a new version of Tarnwick Updater available.\r\nYou will be send to www.tarnwick.example for download.");
const QString kWebSite = QStringLiteral("http://www.tarnwick.example/");

struct Outcome {
    StartUpResult result;
    std::vector<ShownMessage> shown;
    QStringList opened;
    QStringList openedWhileBoxOpen;
    bool windowShown;
    int requests;
};

// Start-up of installed 0.3 against a site that answers the manifest with `manifest`, or with
// `fault` when one is given.
Outcome StartAgainst(const QByteArray& manifest, std::optional<Fault> fault = std::nullopt,
                     const std::function<void(TempAppFolder&, WindowHarness&)>& prepare = nullptr)
{
    TestServer server;
    TempAppFolder folder;
    folder.WritePreferences(QStringLiteral("0.3"));
    server.Put(ManifestPath(QStringLiteral("0.3")), manifest);
    if (fault)
        server.SetFault(ManifestPath(QStringLiteral("0.3")), *fault);
    WindowHarness harness(server, folder);
    if (prepare)
        prepare(folder, harness);
    Outcome outcome;
    harness.Messages().whileOpen = [&] { outcome.openedWhileBoxOpen = harness.Browser().opened; };
    outcome.result = harness.StartUp();
    outcome.shown = harness.Messages().shown;
    outcome.opened = harness.Browser().opened;
    outcome.windowShown = harness.Window().isVisible();
    outcome.requests = static_cast<int>(server.Requests().size());
    return outcome;
}

void ExpectNotice(const Outcome& outcome, const QString& text, const std::string& what)
{
    EXPECT_EQ(outcome.result, StartUpResult::EndProgram) << what;
    EXPECT_FALSE(outcome.windowShown) << what;
    ASSERT_EQ(outcome.shown.size(), 1u) << what;
    EXPECT_EQ(outcome.shown[0].title, QStringLiteral("Updater")) << what;
    EXPECT_EQ(outcome.shown[0].text, text) << what;
    EXPECT_EQ(outcome.shown[0].icon, MessageIcon::None) << what;
    EXPECT_EQ(outcome.opened, QStringList{kWebSite}) << what;
    EXPECT_TRUE(outcome.openedWhileBoxOpen.isEmpty()) << what << ": the browser opened before the box was closed";
}

void ExpectNoNotice(const Outcome& outcome, const std::string& what)
{
    EXPECT_EQ(outcome.result, StartUpResult::ShowWindow) << what;
    EXPECT_TRUE(outcome.windowShown) << what;
    EXPECT_TRUE(outcome.shown.empty()) << what;
    EXPECT_TRUE(outcome.opened.isEmpty()) << what;
}

struct NoticeCase {
    const char* what;
    QByteArray manifest;
    bool notice;
};

// Guards the decision on the notice for every kind of published updater version: compared as
// text with "0.2", cut at the first blank, tags in any case, only the first element counting.
TEST(NewerUpdater, NoticeForEachPublishedVersion)
{
    const QByteArray rest = "\r\n<ver>0.3</ver>\r\n<file>a.exe</file>\r\n";
    const std::vector<NoticeCase> cases = {
        {"0.3", "<newupdater>0.3</newupdater>" + rest, true},
        {"0.2", "<newupdater>0.2</newupdater>" + rest, false},
        {"0.10", "<newupdater>0.10</newupdater>" + rest, false},
        {"1.0", "<newupdater>1.0</newupdater>" + rest, true},
        {"0.2.1", "<newupdater>0.2.1</newupdater>" + rest, true},
        {"0.3 beta", "<newupdater>0.3 beta</newupdater>" + rest, true},
        {"blank, then 0.3", "<newupdater> 0.3</newupdater>" + rest, false},
        {"capital tags", "<NEWUPDATER>0.3</NEWUPDATER>" + rest, true},
        {"V2", "<newupdater>V2</newupdater>" + rest, true},
        {"line break, then 0.3", "<newupdater>\n0.3</newupdater>" + rest, false},
        {"empty element", "<newupdater></newupdater>" + rest, false},
        {"no element", rest, false},
        {"0.1 before a second 0.5", "<newupdater>0.1</newupdater><newupdater>0.5</newupdater>" + rest, false},
        {"no closing tag", "<newupdater>0.3", true},
    };
    for (const NoticeCase& c : cases) {
        const Outcome outcome = StartAgainst(c.manifest);
        if (c.notice)
            ExpectNotice(outcome, kNotice, c.what);
        else
            ExpectNoNotice(outcome, c.what);
        EXPECT_EQ(outcome.requests, 1) << c.what;
    }
}

// Guards the fetch's failures: none of them gives a notice or stops start-up, and an empty
// answer is fetched again at most twice.
TEST(NewerUpdater, FailedFetchGivesNoNotice)
{
    const QByteArray newer = "<newupdater>0.9</newupdater>";
    const Outcome notFound = StartAgainst(newer, Fault::WithStatus(404));
    ExpectNoNotice(notFound, "404");
    EXPECT_EQ(notFound.requests, 1);

    const Outcome empty = StartAgainst(newer, Fault::Empty());
    ExpectNoNotice(empty, "empty answers");
    EXPECT_EQ(empty.requests, 3);

    TestServer server;
    server.Put(ManifestPath(QStringLiteral("0.3")), newer);
    server.SetFault(ManifestPath(QStringLiteral("0.3")), Fault::Empty(), 2);
    TempAppFolder folder;
    folder.WritePreferences(QStringLiteral("0.3"));
    WindowHarness harness(server, folder);
    EXPECT_EQ(harness.StartUp(), StartUpResult::EndProgram) << "the third fetch answered";
    EXPECT_EQ(server.Requests().size(), 3);
}

// Guards the notice's own texts and its end: the two lines from section [General] of the
// language file (empty when missing, never English), and a browser that cannot be opened
// still ending the program.
TEST(NewerUpdater, TranslatedLinesAndAFailingBrowser)
{
    const QByteArray newer = "<newupdater>0.3</newupdater>";
    auto language = [](const QStringList& general) {
        return [general](TempAppFolder& folder, WindowHarness&) {
            folder.WritePreferences(QStringLiteral("0.3"), QStringLiteral("Nederlands"));
            folder.WriteLanguage(QStringLiteral("Nederlands"), {QStringLiteral("NewUpdater=in the wrong section")},
                                 general);
        };
    };
    ExpectNotice(StartAgainst(newer, std::nullopt,
                              language({"NewUpdater=Er is een nieuwe versie van Tarnwick Updater.",
                                        "NewUpdater2=U gaat naar de website."})),
                 "Er is een nieuwe versie van Tarnwick Updater.\r\nU gaat naar de website.", "translated");
    ExpectNotice(StartAgainst(newer, std::nullopt, language({"NewUpdater2=U gaat naar de website."})),
                 "\r\nU gaat naar de website.", "first line missing");
    ExpectNotice(StartAgainst(newer, std::nullopt, language({})), "\r\n", "both lines missing");

    const Outcome refused = StartAgainst(newer, std::nullopt,
                                         [](TempAppFolder&, WindowHarness& harness) { harness.Browser().succeed = false; });
    ExpectNotice(refused, kNotice, "browser refused");
}

}  // namespace
}  // namespace tarnwick::test
