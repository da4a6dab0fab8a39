// Fuzz target: any bytes as a profile file on disk, read through ReadIniValue for the keys the
// updater asks for and for a section and key taken from the input itself.
#include "settings/IniFile.h"

#include <QFile>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

using namespace tarnwick;

namespace {

void Require(bool holds)
{
    if (!holds)
        std::abort();
}

// One file for the whole run, rewritten for each input: the reader must meet real file I/O.
const QString& ScratchFile()
{
    static const QString path = [] {
        char name[] = "/tmp/tarnwick-ini-fuzz-XXXXXX";
        const int fd = ::mkstemp(name);
        if (fd >= 0)
            ::close(fd);
        return QString::fromLocal8Bit(name);
    }();
    static const bool removedAtExit = std::atexit([] { QFile::remove(ScratchFile()); }) == 0;
    Q_UNUSED(removedAtExit);
    return path;
}

qsizetype CodePoints(const QString& text)
{
    return static_cast<qsizetype>(text.toUcs4().size());
}

void CheckRead(const QString& section, const QString& key)
{
    const QString fallback = QStringLiteral("\x01" "default");
    const QString value = ReadIniValue(ScratchFile(), section, key, fallback);
    if (value == fallback)
        return;
    Require(CodePoints(value) <= kIniValueMaxChars);
    Require(!value.contains(u'\n'));
    // A cut never leaves half of a surrogate pair behind.
    Require(value.isEmpty() || !value.back().isHighSurrogate());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QFile file(ScratchFile());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    file.close();

    CheckRead(QStringLiteral("Settings"), QStringLiteral("Version"));
    CheckRead(QStringLiteral("Settings"), QStringLiteral("Lang"));
    CheckRead(QStringLiteral("frmMainUpdater"), QStringLiteral("cmdNext"));

    // The first two lines of the input as section and key, so that odd names are tried too.
    const QList<QByteArray> lines = QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)).split('\n');
    if (lines.size() >= 2)
        CheckRead(QString::fromUtf8(lines[0]), QString::fromUtf8(lines[1]));
    return 0;
}
