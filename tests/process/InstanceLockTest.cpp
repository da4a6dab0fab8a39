// The single-instance rules between real updater processes of the test-site build: one updater
// per user and one per product folder; every other start ends at once with status 0, and a
// killed updater blocks no later start.
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

const QString kLockFile = ".tarnwick-updater.lock";

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

}  // namespace
