// An update of 200 files killed (SIGKILL) at random moments, each time in a forked copy of the
// test that runs the real window against the same folder and site.
#include "support/WindowFixture.h"

#include <QDeadlineTimer>
#include <QDir>

#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <random>
#include <thread>

namespace tarnwick::test {
namespace {

// The update run in a forked copy of the test, against the same folder and site. Qt paints with
// a pool of threads that a fork does not copy: once an earlier test has painted in this process,
// the copy would wait for them for ever, so the test runs only in a process of its own (as ctest
// runs each test).
pid_t UpdateInChild(WindowFixture& fixture)
{
    for (QDirIterator it("/proc/self/task", QDir::Dirs | QDir::NoDotAndDotDot); it.hasNext();)
        if (QFile comm(it.next() + "/comm"); comm.open(QIODevice::ReadOnly) && comm.readAll() == "Thread (pooled)\n")
            return -1;
    const pid_t child = fork();
    if (child == 0) {
        fixture.ReachCheckResult() ? fixture.RunDownloads() : void();
        _exit(0);
    }
    return child;
}

void Kill(pid_t child)
{
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

// Guards against the part files of a killed run staying for ever where the start-up does not
// look by name (a sub-folder, the folder a link points into), and against a product's own
// hidden file taken for a leftover: the next start removes those part files and nothing else.
// Names added to the record, as a copy of the folder elsewhere or anyone who can write it
// leaves them, remove nothing outside the folder, whatever the working folder, and nothing that
// is not a part file.
TEST(Crash, TheNextStartRemovesEveryPartFileAndNothingElse)
{
    const QTemporaryDir outside;
    const QString victim = outside.filePath(".victim.tarnwick-part");
    WindowFixture fixture;
    fixture.folder.Write(".config", "the product's own");
    fixture.folder.Write("Lang/Deutsch.ini", "old");
    fixture.folder.Write("shared-data/linked.dat", "old");
    QFile::link("shared-data/linked.dat", fixture.folder.FilePath("linked.dat"));
    fixture.before = fixture.folder.Snapshot();
    fixture.Publish({{"Lang\\Deutsch.ini", "new"}, {"linked.dat", "new, slowly"}});
    fixture.site.SetFault(kSite + "linked.dat", {.pieces = 10, .delay = 500ms});
    const pid_t child = UpdateInChild(fixture);
    if (child < 0)
        GTEST_SKIP() << "run alone: Qt's painting threads of an earlier test do not survive a fork";
    const QStringList parts{"Lang/.Deutsch.ini.tarnwick-part", "shared-data/.linked.dat.tarnwick-part"};
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return QFile::exists(fixture.folder.FilePath(parts[0])) && QFile::exists(fixture.folder.FilePath(parts[1]));
        },
        10000));
    Kill(child);
    const QString up = "../" + QFileInfo(outside.path()).fileName() + "/";
    const QStringList names{victim, up + ".victim.tarnwick-part", up + "victim", ".victim.tarnwick-part", ".config"};
    QFile record(fixture.folder.FilePath(kLockFile)), planted(victim);
    ASSERT_TRUE(record.open(QIODevice::Append) && planted.open(QIODevice::WriteOnly) && planted.write("not ours"));
    for (const QString& name : names)
        record.write(QFile::encodeName(name) + '\0');
    record.close(), planted.close();
    const QString working = QDir::currentPath();
    QDir::setCurrent(outside.path());
    ASSERT_EQ(fixture.StartUp(), StartUpResult::ShowWindow);
    QDir::setCurrent(working);
    fixture.ExpectFolder();
    EXPECT_TRUE(QFile::exists(victim));
}

// Guards against a crash leaving a product file empty, cut or mixed (every file must be old and
// whole or new and whole at any moment), and against a crashed run's temporary files staying
// behind or keeping the next run from finishing.
TEST(Crash, KilledAtRandomMomentsEachFileIsOldOrNewAndTheNextRunCompletes)
{
    WindowFixture fixture;
    std::mt19937 random(20261207);
    QMap<QString, QByteArray> fresh, old;
    for (int i = 0; i < 200; ++i) {
        const QString name = u"f%1.dat"_s.arg(i, 3, 10, QChar(u'0'));
        // One file of several chunks, the rest small; a new file is one byte longer than its old one.
        old[name] = QByteArray(i == 0 ? 5 << 20 : int(random() % 50000), char('a' + i % 26));
        fresh[name] = QByteArray(old[name].size() + 1, char('A' + i % 26));
    }
    fixture.Publish(fresh);
    const QDir folder(fixture.folder.Path());
    for (int kill = 0; kill < 50; ++kill) {
        SCOPED_TRACE(kill);
        for (auto it = old.begin(); it != old.end(); ++it)
            fixture.folder.Write(it.key(), it.value());
        const pid_t child = UpdateInChild(fixture);
        if (child < 0)
            GTEST_SKIP() << "run alone: Qt's painting threads of an earlier test do not survive a fork";
        // The moment: once a random number of files are new, polled every millisecond or so.
        const int progress = int(random() % 210);
        const QDeadlineTimer deadline(20s);
        for (int seen = -1; seen < progress && !deadline.hasExpired() && waitpid(child, nullptr, WNOHANG) == 0;) {
            std::this_thread::sleep_for(1ms);
            seen = 0;
            for (auto it = fresh.begin(); it != fresh.end(); ++it)
                seen += QFileInfo(folder.filePath(it.key())).size() == it.value().size();
        }
        Kill(child);
        const QMap<QString, QByteArray> now = fixture.folder.Snapshot();
        for (auto it = fresh.begin(); it != fresh.end(); ++it)
            EXPECT_TRUE(now[it.key()] == it.value() || now[it.key()] == old[it.key()]) << it.key().toStdString();
    }
    ASSERT_TRUE(fixture.ReachCheckResult());
    fixture.RunDownloads();
    EXPECT_EQ(fixture.Statuses(), QStringList(200, "Done"));
    fixture.ExpectFolder(fresh);
}

}  // namespace
}  // namespace tarnwick::test
