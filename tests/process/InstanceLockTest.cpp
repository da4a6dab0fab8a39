// The single-instance rules between real updater processes of the test-site build: one updater
// per user and one per product folder; every other start ends at once with status 0, and a
// killed updater blocks no later start. The folder's lock file in each state a folder can leave it in.
#include "platform/FolderLock.h"
#include "support/AppFolderFixture.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using tarnwick::FolderLock;

using tarnwick::test::kLockFile;

// Starts an updater on the offscreen platform with this runtime folder (where the per-user lock
// lives), no proxy, and this working folder.
QProcess* Start(std::vector<std::unique_ptr<QProcess>>& all, const QString& binary, const QString& runtime,
                const QString& workingFolder = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& key : env.keys())
        if (key.contains("proxy", Qt::CaseInsensitive))
            env.remove(key);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", runtime);
    QProcess* process = all.emplace_back(std::make_unique<QProcess>()).get();
    process->setProcessEnvironment(env);
    process->setWorkingDirectory(workingFolder);
    process->start(binary, {});
    return process;
}

// Starts `count` updaters at once and waits until at most one of them runs. That one is
// returned; every other must have ended with status 0.
QProcess* OneStays(std::vector<std::unique_ptr<QProcess>>& all, const QString& runtime, int count)
{
    QList<QProcess*> started, running;
    for (int i = 0; i < count; ++i)
        started.append(Start(all, TARNWICK_TESTSITE_BINARY, runtime));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            running = started;
            running.removeIf([](QProcess* p) { return p->state() == QProcess::NotRunning; });
            return running.size() <= 1;
        },
        60000));
    for (QProcess* p : started)
        EXPECT_TRUE(running.contains(p) || (p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0));
    return running.value(0);
}

// Guards against a race for the lock (of 2 or 20 updaters started at once exactly one stays,
// every other ends with status 0), and against a lock that outlives a killed updater.
TEST(InstanceLock, OneOfManyStaysAndAKilledOneBlocksNothing)
{
    for (const int count : {2, 20}) {
        QTemporaryDir runtime;
        std::vector<std::unique_ptr<QProcess>> all;
        QProcess* stays = OneStays(all, runtime.path(), count);
        ASSERT_TRUE(stays) << count;
        stays->kill();
        stays->waitForFinished();
        EXPECT_TRUE(OneStays(all, runtime.path(), 2)) << "a killed updater kept the next ones away";
        for (auto& process : all)
            process->kill(), process->waitForFinished();
    }
}

// Guards against two updaters sharing a product folder because their users (or sudo) give them
// other runtime folders, against a second updater of the same user on another folder, and
// against the folder taken from the working folder instead of the executable's: the first
// updater runs from folder A in a working folder B, and its lock must lie in A.
TEST(InstanceLock, OneUpdaterPerFolderAndPerUser)
{
    QTemporaryDir a, b, runtimeA, runtimeB;
    for (const QTemporaryDir* folder : {&a, &b})
        ASSERT_TRUE(QFile::copy(TARNWICK_TESTSITE_BINARY, folder->filePath("tarnwick-updater")));
    // The second updater's folder and runtime folder, and whether it stays.
    const std::tuple<const QTemporaryDir*, const QTemporaryDir*, bool> rows[] = {
        {&a, &runtimeB, false}, {&b, &runtimeA, false}, {&b, &runtimeB, true}};
    for (const auto& [folder, runtime, stays] : rows) {
        std::vector<std::unique_ptr<QProcess>> all;
        QProcess* first = Start(all, a.filePath("tarnwick-updater"), runtimeA.path(), b.path());
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(a.filePath(kLockFile)); }, 60000));
        EXPECT_FALSE(QFile::exists(b.filePath(kLockFile)));
        QProcess* second = Start(all, folder->filePath("tarnwick-updater"), runtime->path());
        if (stays)
            EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(b.filePath(kLockFile)); }, 60000));
        else
            EXPECT_TRUE(second->waitForFinished(60000) && second->exitCode() == 0);
        EXPECT_TRUE(first->state() == QProcess::Running && (second->state() == QProcess::Running) == stays);
        for (auto& process : all)
            process->kill(), process->waitForFinished();
        QFile::remove(a.filePath(kLockFile)), QFile::remove(b.filePath(kLockFile));
    }
}

// What the folder holds in the lock file's place before an updater of another user ("nobody")
// starts there, and what that updater gets.
struct LockRow {
    const char* name;
    std::function<void(const QDir&)> prepare;
    FolderLock::State state;
    bool folderWritable = true;
    qint64 notes = 0;  // bytes of notes in the lock file taken
};

// Guards the lock against a place it cannot be made stranding every update, against another
// user's stale lock file (left by a killed run through sudo) doing the same until someone deletes
// it, against a held lock ever being taken over, and against a run removing a lock file that
// another updater made after this run's lost its name. The user is switched for file access on
// this thread only, which needs root.
TEST(InstanceLock, TheFolderLockInEveryState)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "another user's files need root to be made";
    std::optional<FolderLock> other;
    const auto stale = [](const QDir& d) {
        QFile file(d.filePath(kLockFile));
        file.open(QIODevice::WriteOnly) && file.write(QByteArray("Lang/x.ini\0", 11)) && file.flush();
    };
    const LockRow rows[] = {
        {"none yet", [](const QDir&) {}, FolderLock::State::Held},
        {"held by a running updater", [&](const QDir& d) { other.emplace().TryTake(d.path()); },
         FolderLock::State::HeldByAnother},
        {"another user's, stale", stale, FolderLock::State::Held, true, 11},
        {"another user's, stale, in a folder this user cannot write", stale, FolderLock::State::Failed, false},
        {"a folder", [](const QDir& d) { d.mkdir(kLockFile); }, FolderLock::State::Failed},
        {"a link to a file elsewhere", [](const QDir& d) { QFile::link(d.filePath("keep"), d.filePath(kLockFile)); },
         FolderLock::State::Failed},
    };
    for (const LockRow& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir folder;
        const QDir dir(folder.path());
        QFile keep(dir.filePath("keep"));
        ASSERT_TRUE(keep.open(QIODevice::WriteOnly) && keep.write("kept") == 4);
        keep.close();
        row.prepare(dir);
        ::chmod(QFile::encodeName(folder.path()).constData(), row.folderWritable ? 0777 : 0755);
        ::setfsuid(65534);
        auto lock = std::make_unique<FolderLock>();
        EXPECT_EQ(lock->TryTake(folder.path()), row.state);
        struct stat named {};
        const bool ownFile = ::lstat(QFile::encodeName(dir.filePath(kLockFile)).constData(), &named) == 0 &&
                             S_ISREG(named.st_mode) && named.st_uid == 65534;
        EXPECT_EQ(ownFile, row.state == FolderLock::State::Held);
        EXPECT_EQ(ownFile ? named.st_size : 0, row.notes);
        if (lock->Current() == FolderLock::State::Held) {
            // A user clears the lock, and another updater makes its own: that one stays.
            QFile::remove(dir.filePath(kLockFile));
            FolderLock next;
            EXPECT_EQ(next.TryTake(folder.path()), FolderLock::State::Held);
            lock.reset();
            EXPECT_TRUE(QFile::exists(dir.filePath(kLockFile)));
        }
        lock.reset();
        ::setfsuid(0);
        EXPECT_EQ(QFile(dir.filePath("keep")).size(), 4);
        other.reset();
    }
}

}  // namespace
