#include "support/AppFolderFixture.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace tarnwick::test {

TempAppFolder::TempAppFolder() = default;

QString TempAppFolder::FilePath(const QString& relative) const
{
    return QDir(m_dir.path()).filePath(relative);
}

void TempAppFolder::Write(const QString& relative, const QByteArray& bytes) const
{
    const QString path = FilePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write test file %s", qPrintable(path));
}

QByteArray TempAppFolder::Read(const QString& relative) const
{
    QFile file(FilePath(relative));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool TempAppFolder::Exists(const QString& relative) const
{
    return QFileInfo::exists(FilePath(relative));
}

void TempAppFolder::WritePreferences(const QString& version, const QString& language) const
{
    QByteArray text = "[Settings]\r\n";
    if (!language.isNull())
        text += "Lang=" + language.toUtf8() + "\r\n";
    if (!version.isNull())
        text += "Version=" + version.toUtf8() + "\r\n";
    Write(QStringLiteral("Preferences.ini"), text);
}

void TempAppFolder::WriteLanguage(const QString& name, const QStringList& windowLines,
                                  const QStringList& generalLines) const
{
    QByteArray text = "[frmMainUpdater]\r\n";
    for (const QString& line : windowLines)
        text += line.toUtf8() + "\r\n";
    text += "[General]\r\n";
    for (const QString& line : generalLines)
        text += line.toUtf8() + "\r\n";
    Write(QStringLiteral("Lang/") + name + QStringLiteral(".ini"), text);
}

QMap<QString, QByteArray> TempAppFolder::Snapshot() const
{
    QMap<QString, QByteArray> files;
    QDirIterator it(m_dir.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    const QDir root(m_dir.path());
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        // Only regular files are read: opening a pipe would wait for a writer forever.
        const bool readable = it.fileInfo().isFile() && file.open(QIODevice::ReadOnly);
        files.insert(root.relativeFilePath(path), readable ? file.readAll() : QByteArray());
    }
    return files;
}

QStringList TempAppFolder::NewFilesBesides(const QMap<QString, QByteArray>& before,
                                           const QStringList& expectedNew) const
{
    QStringList extra;
    const QMap<QString, QByteArray> now = Snapshot();
    for (auto it = now.begin(); it != now.end(); ++it) {
        if (!before.contains(it.key()) && !expectedNew.contains(it.key()))
            extra.append(it.key());
    }
    return extra;
}

}  // namespace tarnwick::test
