#include "process/UpdaterProcesses.h"

#include "platform/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

extern char** environ;

namespace tarnwick::test {
namespace {

// The parent's environment with the offscreen platform and the private runtime folder, and
// without proxy settings, so that nothing but the loopback site is ever asked.
std::vector<std::string> ChildEnvironment(const QString& runtimeFolder)
{
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text(*entry);
        const std::string name = text.substr(0, text.find('='));
        if (name == "QT_QPA_PLATFORM" || name == "XDG_RUNTIME_DIR" || name.find("proxy") != std::string::npos ||
            name.find("PROXY") != std::string::npos)
            continue;
        env.push_back(text);
    }
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("XDG_RUNTIME_DIR=" + runtimeFolder.toStdString());
    return env;
}

}  // namespace

UpdaterProcesses::UpdaterProcesses()
{
    m_program = QDir(m_appFolder.path()).filePath(QStringLiteral("tarnwick-updater"));
    QFile preferences(QDir(m_appFolder.path()).filePath(QStringLiteral("Preferences.ini")));
    m_ready = m_appFolder.isValid() && m_runtime.isValid() &&
              QFile::copy(QStringLiteral(TARNWICK_TESTSITE_BINARY), m_program) &&
              preferences.open(QIODevice::WriteOnly) && preferences.write("[Settings]\r\nVersion=0.3\r\n") > 0;
}

UpdaterProcesses::~UpdaterProcesses()
{
    for (const Child& child : m_children) {
        if (!child.ended) {
            ::kill(child.pid, SIGKILL);
            ::waitpid(child.pid, nullptr, 0);
        }
    }
}

std::vector<pid_t> UpdaterProcesses::StartTogether(int count)
{
    // Everything a child needs is built before fork: after it, only exec-safe calls are made.
    const std::string program = m_program.toStdString();
    std::vector<std::string> env = ChildEnvironment(m_runtime.path());
    std::vector<char*> envp;
    for (std::string& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string arg0 = program;
    char* argv[] = {arg0.data(), nullptr};

    int gate[2];
    if (::pipe(gate) != 0)
        return {};
    std::vector<pid_t> started;
    for (int i = 0; i < count; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(gate[1]);
            char byte;
            while (::read(gate[0], &byte, 1) < 0 && errno == EINTR) {
            }
            ::close(gate[0]);
            ::execve(program.c_str(), argv, envp.data());
            ::_exit(127);
        }
        if (pid > 0) {
            started.push_back(pid);
            m_children.push_back({pid, false, 0});
        }
    }
    ::close(gate[0]);
    ::close(gate[1]);  // opens the gate for all of them at once
    return started;
}

UpdaterProcesses::Child* UpdaterProcesses::Find(pid_t pid)
{
    for (Child& child : m_children) {
        if (child.pid == pid)
            return &child;
    }
    return nullptr;
}

bool UpdaterProcesses::HasEnded(pid_t pid, int* exitCode)
{
    Child* child = Find(pid);
    if (!child)
        return false;
    if (!child->ended) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) != pid)
            return false;
        child->ended = true;
        child->exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (exitCode)
        *exitCode = child->exitCode;
    return true;
}

bool UpdaterProcesses::WaitForEnd(pid_t pid, std::chrono::milliseconds deadline, int* exitCode)
{
    return QTest::qWaitFor([&] { return HasEnded(pid, exitCode); }, static_cast<int>(deadline.count()));
}

void UpdaterProcesses::Kill(pid_t pid)
{
    ::kill(pid, SIGKILL);
    WaitForEnd(pid, std::chrono::seconds(10));
}

pid_t UpdaterProcesses::LockHolder() const
{
    struct stat info {};
    const QByteArray path = QFile::encodeName(QDir(m_runtime.path()).filePath(QString::fromLatin1(kInstanceLockName)));
    if (::stat(path.constData(), &info) != 0)
        return 0;  // no updater has made the lock file yet
    // Lines read "1: FLOCK  ADVISORY  WRITE <pid> <major>:<minor>:<inode> 0 EOF", numbers in hex
    // but for the pid and the inode.
    const QByteArray file = QStringLiteral("%1:%2:%3")
                                .arg(major(info.st_dev), 2, 16, QLatin1Char('0'))
                                .arg(minor(info.st_dev), 2, 16, QLatin1Char('0'))
                                .arg(info.st_ino)
                                .toLatin1();
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 6 && fields[1] == "FLOCK" && fields[5] == file)
            return static_cast<pid_t>(fields[4].toLong());
    }
    return 0;
}

}  // namespace tarnwick::test
