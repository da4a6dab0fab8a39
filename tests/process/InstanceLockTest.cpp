// The single-instance rule between real updater processes of the test-site build: one runs,
// every other start ends at once with status 0, and a killed updater blocks no later start.
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Starts `count` updaters at once, on the offscreen platform, with the test's own runtime
// folder (where the lock lives) and no proxy, and waits until at most one of them runs. That
// one is returned; every other must have ended with status 0.
QProcess* OneStays(std::vector<std::unique_ptr<QProcess>>& all, const QString& runtime, int count)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& key : env.keys())
        if (key.contains("proxy", Qt::CaseInsensitive))
            env.remove(key);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", runtime);
    QList<QProcess*> started, running;
    for (int i = 0; i < count; ++i) {
        started.append(all.emplace_back(std::make_unique<QProcess>()).get());
        started.last()->setProcessEnvironment(env);
        started.last()->start(TARNWICK_TESTSITE_BINARY, {});
    }
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

}  // namespace
