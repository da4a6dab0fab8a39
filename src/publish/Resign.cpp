#include "publish/Resign.h"

#include "publish/PublishRules.h"
#include "publish/SiteFolders.h"
#include "update/TrustedComment.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

#include <sodium.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace tarnwick {
namespace {

constexpr qint64 kDaySeconds = 24 * 60 * 60;

// minisign's own choice when no key is named.
QString KeyPath(const QString& keyFile)
{
    if (!keyFile.isEmpty())
        return keyFile;
    return qEnvironmentVariable("MINISIGN_CONFIG_DIR", QDir::homePath() + u"/.minisign"_s) + u"/minisign.key"_s;
}

// A key made with -W names no key derivation (its bytes 2 and 3 are zero), and minisign then asks
// for no password. A key that cannot be read asks for none either: minisign reports it.
bool AsksForPassword(const QString& keyFile)
{
    QFile key(KeyPath(keyFile));
    if (!key.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = QByteArray::fromBase64(key.readAll().split('\n').value(1).trimmed());
    return bytes.size() > 4 && bytes.mid(2, 2) != QByteArray(2, '\0');
}

// One line from the standard input, read a byte at a time so that nothing after it is taken, and
// without echo on a terminal, as minisign itself asks.
QByteArray ReadPassword()
{
    std::fputs("Password: ", stdout);
    std::fflush(stdout);
    termios saved{};
    const bool terminal = ::isatty(0) && ::tcgetattr(0, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(0, TCSAFLUSH, &quiet);
    }
    QByteArray line;
    char c = 0;
    while (::read(0, &c, 1) == 1 && c != '\n')
        line.append(c);
    if (terminal) {
        ::tcsetattr(0, TCSAFLUSH, &saved);
        std::fputs("\n", stdout);
    }
    return line;
}

int Refuse(const QString& message)
{
    std::fprintf(stderr, "tarnwick-publish: %s; the site is unchanged\n", qPrintable(message));
    return 1;
}

}  // namespace

std::optional<QString> SignWithExpiry(const QStringList& manifests, const QString& keyFile, int days)
{
    QByteArray password = AsksForPassword(keyFile) ? ReadPassword() + '\n' : QByteArray();
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    std::optional<QString> error;
    for (const QString& manifest : manifests) {
        const QFileInfo info(manifest);
        QStringList arguments{u"-S"_s, u"-m"_s, manifest, u"-t"_s,
                              QString::fromUtf8(WriteTrustedComment(now, info.fileName(), now + days * kDaySeconds,
                                                                    info.dir().dirName()))};
        if (!keyFile.isEmpty())
            arguments << u"-s"_s << keyFile;
        QProcess minisign;
        // Its own password prompt, once a run, would ask again what was asked once: only its
        // messages pass through.
        minisign.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        minisign.start(u"minisign"_s, arguments);
        if (!minisign.waitForStarted()) {
            error = u"minisign cannot run (Debian package minisign)"_s;
            break;
        }
        minisign.write(password);
        minisign.closeWriteChannel();
        if (!minisign.waitForFinished(-1) || minisign.exitStatus() != QProcess::NormalExit ||
            minisign.exitCode() != 0) {
            error = u"signing failed"_s;
            break;
        }
    }
    sodium_memzero(password.data(), size_t(password.size()));
    return error;
}

int Resign(const PublishOptions& options)
{
    const SiteLock lock(options.site);
    if (!lock.Held())
        return Refuse(Shown(options.site) + u" is not a folder, or another tarnwick-publish is working on it"_s);
    // Inside the site, so that each signature is renamed into place on the same file system.
    QTemporaryDir work(options.site + u"/.tarnwick-publish-XXXXXX"_s);
    if (!work.isValid())
        return Refuse(u"cannot make a work folder in "_s + Shown(options.site));
    QStringList copies;
    QList<FolderSwap> swaps;
    const QStringList folders = QDir(options.site).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& folder : folders) {
        const QString manifest = options.site + u'/' + folder + u"/check.update"_s;
        if (!QFileInfo(manifest).isFile())
            continue;
        // The copy is what is signed, in a folder of the same name, so the signature covers
        // exactly the bytes that stay on the site and names the folder they stay in.
        const QString copy = work.path() + u'/' + folder + u"/check.update"_s;
        if (!QDir().mkdir(work.path() + u'/' + folder) || !QFile::copy(manifest, copy))
            return Refuse(u"cannot copy "_s + Shown(manifest));
        copies.append(copy);
        swaps.append({copy + u".minisig"_s, manifest + u".minisig"_s});
    }
    if (copies.isEmpty())
        return Refuse(Shown(options.site) + u" holds no manifest"_s);
    if (const std::optional<QString> unsigned_ = SignWithExpiry(copies, options.keyFile, options.expiresDays))
        return Refuse(*unsigned_);
    if (const std::optional<QString> unswapped = SwapIntoPlace(swaps))
        return Refuse(*unswapped);
    if (!options.quiet)
        std::printf("tarnwick-publish: %lld manifests signed again, expiring in %d days\n",
                    static_cast<long long>(copies.size()), options.expiresDays);
    return 0;
}

}  // namespace tarnwick
