#include "publish/Signing.h"

#include "publish/PublishOptions.h"
#include "publish/PublishRules.h"
#include "update/TrustedComment.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <openssl/crypto.h>

#include <cstdio>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>

using namespace Qt::Literals::StringLiterals;

namespace tarnwick {
namespace {

// One line from fd, read a byte at a time so that nothing after it is taken; nothing when the
// read fails.
std::optional<QByteArray> ReadLine(int fd)
{
    QByteArray line;
    char c = 0;
    ssize_t got = 0;
    while ((got = ::read(fd, &c, 1)) == 1 || (got < 0 && errno == EINTR)) {
        if (got == 1 && c == '\n')
            break;
        if (got == 1)
            line += c;
    }
    if (got < 0)
        return std::nullopt;
    return line.endsWith('\r') ? line.chopped(1) : line;
}

// The password's first line, as minisign itself would read it from a terminal; read only when
// signing, so that a script may hand it over late (a pipe written once the build is done).
std::optional<QByteArray> ReadPassword(const PublishOptions& options)
{
    const int fd = options.passwordFd >= 0
                       ? options.passwordFd
                       : ::open(QFile::encodeName(options.passwordFile).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<QByteArray> password = ReadLine(fd);
    if (options.passwordFd < 0)
        ::close(fd);
    return password;
}

// A password asked on the terminal, without echo, as minisign itself asks.
QByteArray AskOnTerminal()
{
    std::fputs("Password: ", stdout);
    std::fflush(stdout);
    termios saved{};
    const bool quiet = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (quiet) {
        termios hidden = saved;
        hidden.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
    }
    const QByteArray line = ReadLine(STDIN_FILENO).value_or(QByteArray());
    if (quiet) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stdout);
    }
    return line;
}

}  // namespace

std::optional<bool> KeyHasPassword(const QByteArray& keyFile)
{
    // The second line holds, in base64: the signature algorithm "Ed", the key derivation "Sc"
    // (scrypt, from a password) or two zero bytes (none), the checksum algorithm "B2", then the key.
    const QList<QByteArray> lines = keyFile.split('\n');
    const QByteArray key = lines.size() > 1 ? QByteArray::fromBase64(lines[1].trimmed()) : QByteArray();
    if (key.size() < 6 || !key.startsWith("Ed") || key.mid(4, 2) != "B2")
        return std::nullopt;
    if (key.mid(2, 2) == "Sc")
        return true;
    if (key.mid(2, 2) == QByteArray(2, '\0'))
        return false;
    return std::nullopt;
}

SigningPlan PlanSigning(const PublishOptions& options, bool inputIsTerminal)
{
    SigningPlan plan;
    // minisign's own default, where its variable moves it, so that -s stays optional as with minisign.
    const QString folder = qEnvironmentVariable("MINISIGN_CONFIG_DIR", QDir::homePath() + u"/.minisign"_s);
    plan.keyFile = options.keyFile.isEmpty() ? folder + u"/minisign.key"_s : options.keyFile;
    QFile key(plan.keyFile);
    if (!key.open(QIODevice::ReadOnly)) {
        plan.error = u"the secret key %1 cannot be read: %2"_s.arg(Shown(plan.keyFile), key.errorString());
        return plan;
    }
    const std::optional<bool> password = KeyHasPassword(key.read(4096));
    if (!password) {
        plan.error = Shown(plan.keyFile) + u" is not a minisign secret key"_s;
        return plan;
    }
    plan.needsPassword = *password;
    if (!plan.needsPassword)
        return plan;
    if (options.passwordFd >= 0 && ::fcntl(options.passwordFd, F_GETFD) < 0)
        plan.error = u"--password-fd %1 is not an open descriptor"_s.arg(options.passwordFd);
    else if (!options.passwordFile.isEmpty() && !QFileInfo(options.passwordFile).isReadable())
        plan.error = u"the password file %1 cannot be read"_s.arg(Shown(options.passwordFile));
    else if (options.passwordFd < 0 && options.passwordFile.isEmpty() && !inputIsTerminal)
        plan.error =
            u"the key %1 has a password and the standard input is no terminal to ask it on: give it "
            u"with --password-file FILE or --password-fd N"_s.arg(Shown(plan.keyFile));
    plan.fromTerminal = plan.error.isEmpty() && options.passwordFd < 0 && options.passwordFile.isEmpty();
    return plan;
}

namespace {

// One minisign run: the manifests given, with `comment` as the trusted comment when there is one,
// the password (or nothing) on its standard input unless it asks on the terminal itself.
std::optional<QString> RunMinisign(const QStringList& manifests, const QString& comment, const SigningPlan& plan,
                                   bool fromTerminal, const QByteArray& answer)
{
    QProcess minisign;
    minisign.setProcessChannelMode(QProcess::ForwardedChannels);
    if (fromTerminal)
        minisign.setInputChannelMode(QProcess::ForwardedInputChannel);
    QStringList arguments{u"-S"_s, u"-s"_s, plan.keyFile};
    if (!comment.isEmpty())
        arguments << u"-t"_s << comment;
    minisign.start(u"minisign"_s, arguments << u"-m"_s << manifests);
    if (!minisign.waitForStarted())
        return u"minisign cannot run (Debian package minisign)"_s;
    if (!fromTerminal) {
        minisign.write(answer);
        minisign.closeWriteChannel();
    }
    if (!minisign.waitForFinished(-1) || minisign.exitStatus() != QProcess::NormalExit || minisign.exitCode() != 0)
        return u"signing failed"_s;
    return std::nullopt;
}

}  // namespace

std::optional<QString> SignManifests(const QStringList& manifests, const SigningPlan& plan,
                                     const PublishOptions& options)
{
    // minisign gives every file of one run the same trusted comment: a comment naming each
    // manifest's folder takes a run a manifest, and the password, asked once, is handed to each.
    const bool eachOwnComment = options.expiresDays > 0;
    const bool minisignAsks = plan.needsPassword && plan.fromTerminal && !eachOwnComment;
    QByteArray answer;
    if (plan.needsPassword && !plan.fromTerminal) {
        const std::optional<QByteArray> password = ReadPassword(options);
        if (!password)
            return u"the password cannot be read"_s;
        answer = *password + '\n';
    } else if (plan.needsPassword && !minisignAsks) {
        answer = AskOnTerminal() + '\n';
    }
    std::optional<QString> error;
    if (!eachOwnComment) {
        error = RunMinisign(manifests, {}, plan, minisignAsks, answer);
    } else {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        for (const QString& manifest : manifests) {
            const QFileInfo info(manifest);
            const QString comment = QString::fromUtf8(WriteTrustedComment(
                now, info.fileName(), now + options.expiresDays * kDaySeconds, info.dir().dirName()));
            if ((error = RunMinisign({manifest}, comment, plan, false, answer)))
                break;
        }
    }
    OPENSSL_cleanse(answer.data(), size_t(answer.size()));
    return error;
}

}  // namespace tarnwick
