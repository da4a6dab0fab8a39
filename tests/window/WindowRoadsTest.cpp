// Roads through the real window: what the user sees on each page, what the keyboard does, and
// what the application folder holds afterwards.
#include "support/WindowFixture.h"

#include <QAccessible>
#include <QApplication>

#include <sys/inotify.h>
#include <unistd.h>

namespace tarnwick::test {
namespace {

// A key pressed on the keyboard: it goes to the control that has the focus.
void Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key(key), modifiers);
}

// Runs `act` once `ready` holds, looked at every 10 ms from whatever event loop runs then; `act`
// must not wait itself, or the loop it runs in could not end.
std::unique_ptr<QTimer> When(std::function<bool()> ready, std::function<void()> act)
{
    auto poll = std::make_unique<QTimer>();
    QObject::connect(poll.get(), &QTimer::timeout, [ready, act, t = poll.get()] {
        if (ready())
            t->stop(), act();
    });
    poll->start(10);
    return poll;
}

// Runs `act` once the site has been asked for `path` again after this call.
std::unique_ptr<QTimer> OnRequest(const WindowFixture& h, const QString& path, std::function<void()> act)
{
    return When([&h, path, seen = h.site.requests.count(path)] { return h.site.requests.count(path) > seen; }, act);
}

// The names renamed into the folder since the watch began, in the order inotify saw them.
QStringList Renamed(int watch)
{
    QStringList names;
    alignas(inotify_event) char buffer[64 * 1024];
    for (ssize_t size; (size = ::read(watch, buffer, sizeof buffer)) > 0;)
        for (qsizetype at = 0; at < size; at += qsizetype(sizeof(inotify_event)) + ((inotify_event*)(buffer + at))->len)
            names.append(QString::fromUtf8(((inotify_event*)(buffer + at))->name));
    return names;
}

// Guards the main road by keyboard: the pages in order, Alt+N, Next disabled while the check
// runs (at the window's own pace), the published version shown whole, the focus back on Next
// when the check ends, Enter on the focused button whatever its caption; every control named
// for a screen reader; "Busy..." on a file while it arrives; each file byte for byte under its
// exact name ("#" and "?" are part of it: a decoy lies where a cut address leads), a
// gzip-labelled file saved as stored, the list ending at a repeated name, the files renamed
// into place in list order but Preferences.ini last, and Next pressed again during a download
// starting no second queue.
TEST(WindowRoad, MainRoadByKeyboard)
{
    WindowFixture h;
    const QByteArray gzip = QByteArray::fromHex("1f8b08000000000002032b484cce4e4d010010b4f62106000000");
    const QMap<QString, QByteArray> files{{"Tarnwick.exe", kNewExe},  {"Preferences.ini", "[Settings]\r\nVersion=0.4"},
                                          {"readme.txt", kNewReadme}, {"notes#1.txt", "notes one"},
                                          {"a?.txt", "a query"},      {"empty.dat", ""},
                                          {"data.tar.gz", gzip}};
    h.Publish(files);
    h.site.Put(kManifest, h.site.Body(kManifest).replace("</file>", "<br>Tarnwick.exe<br>after.txt</file>"));
    h.site.Put(kSite + "notes", "decoy");
    h.site.Put(kSite + "a", "decoy");
    h.site.SetFault(kSite + "data.tar.gz", {.headers = "Content-Encoding: gzip\r\n"});
    h.site.SetFault(kSite + "Tarnwick.exe", {.pieces = 4, .delay = 100ms});
    ASSERT_EQ(h.StartUp(), StartUpResult::ShowWindow);
    FrmMainUpdater& w = h.Window();
    EXPECT_EQ(w.lblWelcome3->text(), "Tarnwick Updater will use the internet to check for updates for Tarnwick 0.3.");
    EXPECT_EQ(h.Page(), "Cancel|&Next >|Click Next to check if there are any updates available.");

    bool nextDuringCheck = true;
    const auto during = OnRequest(h, kManifest, [&] { nextDuringCheck = w.cmdNext->isEnabled(); });
    ASSERT_TRUE(h.RunCheck([] { Press(Qt::Key_N, Qt::AltModifier); }, true));
    EXPECT_FALSE(nextDuringCheck);
    EXPECT_EQ(h.Page(), "pbStatusCheck|Cancel|&Next >|lDownload|New version available:|0.4");
    EXPECT_GE(w.lblNewVersion->width(), w.lblNewVersion->sizeHint().width());
    EXPECT_EQ(QApplication::focusWidget(), w.cmdNext);
    for (QObject* control : w.Controls())  // a label is named by its caption
        if (auto* widget = qobject_cast<QWidget*>(control);
            widget && !qobject_cast<QLabel*>(widget) && widget != w.Line1)
            EXPECT_NE(QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name), "")
                << widget->objectName().toStdString();
    QStringList whileFetching;  // once it is the program's turn, while it still arrives
    const auto again = When(
        [&] {
            return h.Statuses().value(1) == "Busy..." && QFileInfo(w.AppFolder() + "/Tarnwick.exe").size() != 70000;
        },
        [&] {
            whileFetching = h.Statuses().mid(0, 3);
            QTest::keyClick(w.cmdNext, Qt::Key_Return);
        });
    const int watch = inotify_init1(IN_NONBLOCK);
    inotify_add_watch(watch, QFile::encodeName(h.folder.Path()).constData(), IN_MOVED_TO);
    Press(Qt::Key_Return);
    EXPECT_EQ(whileFetching, (QStringList{"Busy...", "Busy...", "Valid"}));
    EXPECT_EQ(h.Statuses(), QStringList(7, "Done"));
    QStringList order = files.keys();
    order.move(0, order.size() - 1);
    EXPECT_EQ(Renamed(watch), order);
    ::close(watch);
    h.ExpectFolder(files);
    EXPECT_TRUE(h.site.requests.contains(kSite + "notes%231.txt") && h.messages.isEmpty());
    EXPECT_EQ(h.Page(), "pbDownloading|Complete|lDownload||Click Complete to close.|Downloading complete!");
    EXPECT_TRUE(w.pbDownloading->value() == 7 && w.pbDownloading->maximum() == 7);
    w.cmdCancel->setFocus();
    Press(Qt::Key_Return);
    EXPECT_TRUE(h.ended == 1 && !w.isVisible());
}

// Guards the failure road: each failed file "Failed" with one message made of the language
// file's texts, shown in its turn (a file fetched ahead that failed waits for the slower ones
// before it) and before the page turns into its closing state; the queue going on after a
// failure and taking no file twice (a box runs an event loop, where the next run starts); the
// old files byte for byte, Preferences.ini too, kept back without a message of its own so that
// the next run offers the same update and completes it; the closing button ending the program.
TEST(WindowRoad, FailuresWithMessagesFromTheLanguageFile)
{
    WindowFixture h;
    h.folder.WritePreferences("0.3", "Deutsch");
    h.folder.WriteLanguage("Deutsch", {"ErrorDownloading=Fehler.", "ErrorDownloading2=Tarnwick schließen.",
                                       "ErrorDownloading3=Später!", "VersionExplain3=Fertig"});
    h.before = h.folder.Snapshot();
    const QMap<QString, QByteArray> files{{"Tarnwick.exe", kNewExe},
                                          {"new.txt", "new"},
                                          {"readme.txt", kNewReadme},
                                          {"Preferences.ini", "[Settings]\r\nLang=Deutsch\r\nVersion=0.4"}};
    h.Publish(files);
    h.site.SetFault(kSite + "Tarnwick.exe", {.status = 404, .body = "<html>error page</html>"});
    h.site.SetFault(kSite + "readme.txt", {.excess = -3});
    h.site.SetFault(kSite + "new.txt", {.pieces = 3, .delay = 100ms});  // readme.txt, ahead, fails first
    int nextGoneWhileOpen = 0;
    QStringList atBoxes;
    h.whileOpen = [&] { nextGoneWhileOpen += h.Window().cmdNext->isHidden(), atBoxes.append(h.Statuses().join('|')); };
    ASSERT_TRUE(h.ReachCheckResult());
    h.RunDownloads();
    EXPECT_EQ(h.Statuses(), (QStringList{"Failed", "Failed", "Done", "Failed"}));
    EXPECT_EQ(atBoxes, (QStringList{"Busy...|Busy...|Valid|Valid", "Busy...|Busy...|Done|Busy..."}));
    EXPECT_EQ(h.messages, QStringList(2, Box("Fehler.\r\nTarnwick schließen.\r\n\r\nSpäter!")));
    EXPECT_EQ(nextGoneWhileOpen, 0);
    EXPECT_EQ(h.site.requests.size(), 7);
    h.ExpectFolder({{"new.txt", "new"}});
    EXPECT_EQ(h.Page(), "Fertig|lDownload|||0.4");
    QTest::keyClick(h.Window().cmdCancel, Qt::Key_Return);
    EXPECT_EQ(h.ended, 1);
    h.site.SetFault(kSite + "Tarnwick.exe", {});
    h.site.SetFault(kSite + "readme.txt", {});
    ASSERT_TRUE(h.ReachCheckResult());
    h.RunDownloads();
    EXPECT_TRUE(h.Statuses() == QStringList(4, "Done") && h.messages.size() == 2);
    h.ExpectFolder(files);
}

// Guards the language rule on the window: captions from the language file, a missing key
// emptying its caption, the window caption staying, the list named for screen readers from
// the file and a bar whose key is empty keeping its English name; and the completion texts read afresh from
// a Preferences.ini that the run itself replaced.
TEST(WindowRoad, LanguageFileAndPreferencesReplacedDuringTheRun)
{
    WindowFixture h;
    h.folder.WritePreferences("0.3", "Deutsch");
    h.folder.WriteLanguage("Deutsch", {"cmdNext=&Weiter >", "lblExplain=Weiter drücken.",
                                       "VersionExplain=Neu:", "lDownload=Dateien", "pbStatusCheck="});
    h.folder.WriteLanguage("Nederlands",
                           {"VersionExplain3=Sluiten", "VersionExplain4=Klaar!", "NextToDownload2=Klik."});
    h.before = h.folder.Snapshot();
    h.Publish({{"Preferences.ini", "[Settings]\r\nLang=Nederlands\r\nVersion=0.4"}});
    ASSERT_EQ(h.StartUp(), StartUpResult::ShowWindow);
    EXPECT_EQ(h.Window().windowTitle() + h.Window().lblWelcome->text(), "Tarnwick Updater");
    EXPECT_EQ(h.Page(), "|&Weiter >|Weiter drücken.");
    EXPECT_EQ(h.Window().lDownload->accessibleName() + h.Window().pbStatusCheck->accessibleName(),
              "DateienUpdate check");
    ASSERT_TRUE(h.RunCheck());
    EXPECT_EQ(h.Window().lblVersionExplain->text(), "Neu:");
    h.RunDownloads();
    h.ExpectFolder({{"Preferences.ini", "[Settings]\r\nLang=Nederlands\r\nVersion=0.4"}});
    EXPECT_EQ(h.Page(), "pbDownloading|Sluiten|lDownload||Klik.|Klaar!");
}

// Guards the up-to-date page, for the same version and for one smaller only as text: nothing
// listed or fetched, Next gone, Cancel "Complete", and Escape closing it; and a per-user lock
// that cannot be made (no runtime folder) not taken for another updater.
TEST(WindowRoad, UpToDate)
{
    for (const QString& published : {"0.3", "0.10"}) {
        WindowFixture h;
        h.setup.lockFolder = "/nonexistent";
        h.site.Put(kManifest, Manifest(published, {"Tarnwick.exe"}));
        ASSERT_TRUE(h.ReachCheckResult());
        EXPECT_EQ(h.Page(), "pbStatusCheck|Complete|lDownload|Click Complete to close.|Version up to date!");
        Press(Qt::Key_Escape);
        EXPECT_TRUE(h.ended == 1 && h.site.requests.size() == 2 && h.Statuses().isEmpty() && h.messages.isEmpty());
    }
}

// Guards Escape (Cancel) while a fetch waits, in the check run and in a download: the fetch is
// abandoned, not waited out; the program ends; nothing is written afterwards (the old file
// whole, no temporary file, the queue stopped, the Preferences.ini that arrived before kept
// back) and no message shows, with the one waited for and seven more fetched ahead in flight.
// A file that arrived before the slow one is in place and "Done" (within a second, unloaded),
// not left waiting behind it.
TEST(WindowRoad, CancelWhileAFetchWaits)
{
    for (const bool download : {false, true}) {
        SCOPED_TRACE(download ? "download" : "check run");
        WindowFixture h;
        QMap<QString, QByteArray> files{{"A.txt", "first"}, {"Preferences.ini", "[Settings]\r\nVersion=0.4"}};
        for (const QString& name : {"Tarnwick.exe", "s1", "s2", "s3", "s4", "s5", "s6", "s7"})
            files.insert(name, kNewExe);
        h.Publish(files);
        ASSERT_EQ(h.StartUp(), StartUpResult::ShowWindow);
        ASSERT_TRUE(!download || h.RunCheck());
        const QString slow = download ? kSite + "Tarnwick.exe" : kManifest;
        h.site.SetFault(slow, {.pieces = 10, .delay = 2s});  // twenty seconds of bytes
        for (int i = 1; download && i <= 7; ++i)
            h.site.SetFault(kSite + "s" + QString::number(i), {.pieces = 10, .delay = 2s});
        qsizetype asked = 0;
        const auto started = std::chrono::steady_clock::now();
        std::chrono::steady_clock::time_point escaped;
        const QStringList turn{"Done", "Busy...", "Busy..."};  // Preferences.ini waits; the slow one's turn
        const auto cancel = When(
            [&, seen = h.site.requests.count(slow)] {
                return h.site.requests.count(slow) > seen && (!download || h.Statuses().mid(0, 3) == turn);
            },
            [&] {
                EXPECT_EQ(h.Window().iDownload->AheadInFlight(), download ? 7 : 0);  // and the one waited for
                escaped = std::chrono::steady_clock::now();
                Press(Qt::Key_Escape);
                asked = h.site.requests.size();
            });
        download ? h.RunDownloads() : void(h.RunCheck());
        QCoreApplication::processEvents();  // notifications still queued must start nothing
        EXPECT_LT(escaped - started, 10s) << "an arrived file waited behind the slow one";
        EXPECT_LT(std::chrono::steady_clock::now() - escaped, 5s) << "the fetches were waited out";
        EXPECT_TRUE(h.ended == 1 && !h.Window().isVisible() && h.messages.isEmpty() && h.site.requests.size() == asked);
        h.ExpectFolder(download ? QMap<QString, QByteArray>{{"A.txt", "first"}} : QMap<QString, QByteArray>{});
    }
}

// Guards the newer-updater notice: its message (the [General] texts of the language file when
// one is chosen, a missing line empty), the manifest fetched again after empty answers, the
// web site opened only once the box is closed, even a browser that does not start ending the
// program, and the window never shown.
TEST(WindowRoad, NewerUpdaterNotice)
{
    const QString english =
        "There is a new version of Tarnwick Updater available.\r\nYou will be send to "
        "www.tarnwick.example for download.";
    for (const QString& language : {"English", "Deutsch"}) {
        WindowFixture h;
        h.folder.WritePreferences("0.3", language);
        h.folder.WriteLanguage("Deutsch", {"NewUpdater=not this section"}, {"NewUpdater=Neuer Updater."});
        h.site.Put(kManifest, Manifest("0.4", {}, "0.3"));
        h.site.SetFault(kManifest, {.body = ""}, 2);
        h.browserStarts = language == "English";
        h.whileOpen = [&] { EXPECT_TRUE(h.opened.isEmpty()) << "the browser opened before the box was closed"; };
        EXPECT_EQ(h.StartUp(), StartUpResult::EndProgram);
        EXPECT_FALSE(h.Window().testAttribute(Qt::WA_WState_ExplicitShowHide)) << "the window was shown";
        EXPECT_EQ(h.messages, QStringList{Box(h.browserStarts ? english : "Neuer Updater.\r\n", 0)});
        EXPECT_EQ(h.opened, QStringList{"http://www.tarnwick.example/"});
    }
}

// Guards the folder against a second updater (of another user: another per-user lock). One
// started while a file downloads ends at start and removes none of the running one's part
// files. Once the lock file has lost its name (a user cleared it) a third one runs, removing the
// part files, and replaces one: the running one then fails those files rather than put the
// other's bytes in place, and at its end removes neither that part file nor the third one's lock.
TEST(WindowRoad, ASecondUpdaterNeverTakesTheFilesOfTheFirst)
{
    WindowFixture h;
    h.site.SetFault(kSite + "Tarnwick.exe", {.pieces = 4, .delay = 300ms});
    ASSERT_TRUE(h.ReachCheckResult());
    const QString part = h.folder.FilePath(".Tarnwick.exe.tarnwick-part");
    const QTemporaryDir otherUser;
    UpdaterSetup other = h.setup;
    other.lockFolder = otherUser.path();
    std::unique_ptr<FrmMainUpdater> third;
    const auto starts = OnRequest(h, kSite + "Tarnwick.exe", [&] {
        EXPECT_EQ(FrmMainUpdater(other).RunStartUp(), StartUpResult::EndProgram);
        EXPECT_TRUE(QFile::exists(part));
        QFile::remove(h.folder.FilePath(kLockFile));
        third = std::make_unique<FrmMainUpdater>(other);
        EXPECT_EQ(third->RunStartUp(), StartUpResult::ShowWindow);
        h.folder.Write(".Tarnwick.exe.tarnwick-part", "the third one's bytes");
    });
    h.RunDownloads();
    EXPECT_EQ(h.Statuses(), (QStringList{"Failed", "Failed"}));  // readme.txt, fetched ahead, lost its part file too
    h.ExpectFolder({{".Tarnwick.exe.tarnwick-part", "the third one's bytes"}});
    EXPECT_EQ(h.StartUp(), StartUpResult::EndProgram);  // the first window gone, the third one's lock stays
}

// Guards updates that cost only what changed, with digests listed: a file already current (and
// read-only) not fetched and not touched; a publisher's patch applied instead of the whole file,
// and continued when its transfer breaks; a patch that is not the listed one never decoded, and
// one that decodes into another file (made from another copy, without zstd's own checksum)
// never put in place, both silently replaced by the whole file; a transfer broken twice
// continued where it stopped, and one broken every time given up after three continuations;
// one whose start came from another version of the file started over (the site's whole answer
// to a request for the rest is dropped and asked for anew), and so one with a weak tag, which
// cannot ask for the rest; one from a site that serves no ranges failing as before. Every other
// file Done, byte for byte.
TEST(WindowRoad, UpdatesCostOnlyWhatChanged)
{
    WindowFixture h;
    const QByteArray old = Noise(1200000);
    const QByteArray fresh = old.left(1150000) + "new end", patch = MakePatch(old, fresh);
    QMap<QString, QByteArray> files{{"same.txt", "same"}};
    for (const char* name : {"broken", "misfit", "noranges", "otherpatch", "patched", "restarted", "resumed", "weak"})
        files.insert(QString(name) + ".bin", fresh), h.folder.Write(QString(name) + ".bin", old);
    h.folder.Write("same.txt", "same");
    h.before = h.folder.Snapshot();
    QFile::setPermissions(h.folder.FilePath("same.txt"), QFile::ReadOwner);
    const QDateTime sameTime = QFileInfo(h.folder.FilePath("same.txt")).lastModified();
    const QByteArray shifted = MakePatch(old.mid(1) + 'x', fresh, {"--no-check"});
    h.PublishChecked(files,
                     {{"misfit.bin", {old, shifted}}, {"otherpatch.bin", {old, patch}}, {"patched.bin", {old, patch}}});
    h.site.Put(kSite + "otherpatch.bin.zst-patch", MakePatch(old, fresh, {"-19"}));
    h.site.SetFault(kSite + "patched.bin.zst-patch", {.excess = -10}, 1);
    h.site.SetFault(kSite + "broken.bin", {.excess = -100000});
    h.site.SetFault(kSite + "noranges.bin", {.headers = "Accept-Ranges: none\r\n", .excess = -50000});
    h.site.SetFault(kSite + "restarted.bin", {.body = old, .excess = -50000}, 1);
    h.site.SetFault(kSite + "resumed.bin", {.excess = -100000}, 2);
    h.site.SetFault(kSite + "weak.bin", {.headers = "ETag: W/\"1\"\r\n", .excess = -100000}, 1);
    ASSERT_TRUE(h.ReachCheckResult());
    h.RunDownloads();
    EXPECT_EQ(h.Statuses(), (QStringList{"Failed", "Done", "Failed", "Done", "Done", "Done", "Done", "Done", "Done"}));
    EXPECT_EQ(h.Requested(3),
              "broken.bin broken.bin broken.bin broken.bin misfit.bin misfit.bin.zst-patch noranges.bin "
              "otherpatch.bin otherpatch.bin.zst-patch patched.bin.zst-patch patched.bin.zst-patch restarted.bin "
              "restarted.bin restarted.bin resumed.bin resumed.bin resumed.bin weak.bin weak.bin");
    EXPECT_EQ(h.messages, QStringList(2, kErrorBox));
    files.remove("broken.bin"), files.remove("noranges.bin");
    h.ExpectFolder(files);
    EXPECT_EQ(QFileInfo(h.folder.FilePath("same.txt")).lastModified(), sameTime);
}

// Guards every release shape on the servers users have: new files too large to be taken
// whole ahead (the file whose turn it is never waits behind fetches ahead that hold the
// connections), checked and so continued in their turn or unchecked and fetched whole; a host
// answering 503 beyond two connections and one leaving the others unanswered until one ends
// (costing time, not files); a release adding a sub-folder the product does not have yet.
// Every file "Done", no message, nothing else in the folder.
TEST(WindowRoad, EveryReleaseOnEveryServer)
{
    const QByteArray large(5 * 1024 * 1024 + 7, 'L');
    struct Row {
        const char* what;
        int most;
        bool busy, checked, small;
        int count;
        QString folder;
    };
    for (const Row& row : {Row{"large, checked", 0, false, true, false, 9},
                           Row{"503 beyond two", 2, true, false, true, 12},
                           Row{"unanswered beyond two", 2, false, false, false, 9},
                           Row{"a new folder", 0, false, false, true, 2, "plugins\\"}}) {
        SCOPED_TRACE(row.what);
        WindowFixture h(5s);
        QMap<QString, QByteArray> files{{"Preferences.ini", "[Settings]\r\nVersion=0.4"}}, arrived = files;
        for (int i = 0; i < row.count; ++i) {
            files.insert(row.folder + u"%1.dll"_s.arg(i), row.small ? kNewExe : large);
            arrived.insert(QString(row.folder).replace(u'\\', u'/') + u"%1.dll"_s.arg(i), row.small ? kNewExe : large);
        }
        row.checked ? h.PublishChecked(files) : h.Publish(files);
        h.site.LimitConnections(row.most, row.busy);
        ASSERT_TRUE(h.ReachCheckResult());
        h.RunDownloads();
        EXPECT_EQ(h.Statuses(), QStringList(files.size(), "Done"));
        EXPECT_EQ(h.messages, QStringList());
        h.ExpectFolder(arrived);
    }
}

// Guards the start-up fetch's limit in all: a site silent for longer, or trickling a byte at
// a time, gives the welcome page without the notice it would have given, while the check run
// waits its longer time-out.
TEST(WindowRoad, StartUpFetchEndsInTime)
{
    for (const Fault& slow : {Fault{.delay = 1s}, Fault{.pieces = 60, .delay = 50ms}}) {
        WindowFixture h(30s);
        h.setup.startUpTimeout = 300ms;
        h.site.Put(kManifest, Manifest("0.4", {"Tarnwick.exe"}, "0.9"));
        h.site.SetFault(kManifest, slow, 2);
        EXPECT_EQ(h.StartUp(), StartUpResult::ShowWindow);
        ASSERT_TRUE(h.RunCheck());
        EXPECT_TRUE(h.messages.isEmpty() && h.opened.isEmpty() && h.Statuses() == QStringList{"Valid"});
    }
}

}  // namespace
}  // namespace tarnwick::test
