// Fuzz target: any bytes as a settings file on disk, read for a key the updater asks for.
// Whatever comes back is at most 199 characters of whole UTF-16 and holds no line break.
#include "settings/IniFile.h"

#include <QTemporaryFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryFile file;  // one file for the run, rewritten for each input: real file I/O
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (!(file.isOpen() || file.open()) || !file.resize(0) || file.write(bytes) != bytes.size() || !file.flush())
        qFatal("cannot write %s", qPrintable(file.fileName()));
    const QString value =
        tarnwick::ReadIniValue(file.fileName(), QStringLiteral("Settings"), QStringLiteral("Version"), {});
    if (value.toUcs4().size() > tarnwick::kIniValueMaxChars || !value.isValidUtf16() || value.contains(u'\n') ||
        value.contains(u'\r'))
        qFatal("a value longer than the cut, split inside a character or holding a line break");
    return 0;
}
