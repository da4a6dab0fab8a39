// A temporary application folder: the product's files written into it, and every file with its
// bytes listed, to show afterwards what changed.
#pragma once

#include <QDir>
#include <QDirIterator>
#include <QMap>
#include <QTemporaryDir>

namespace tarnwick::test {

inline const QString kLockFile = ".tarnwick-updater.lock";  // the folder lock a running updater holds

class TempAppFolder {
public:
    QString Path() const { return m_dir.path(); }
    QString FilePath(const QString& relative) const { return m_dir.filePath(relative); }

    void Write(const QString& relative, const QByteArray& bytes) const
    {
        QDir().mkpath(QFileInfo(FilePath(relative)).path());
        QFile file(FilePath(relative));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write test file %s", qPrintable(relative));
    }
    // Preferences.ini with [Settings]; a null language leaves its key out.
    void WritePreferences(const QString& version, const QString& language = {}) const
    {
        const QString lang = language.isNull() ? QString() : "Lang=" + language + "\r\n";
        Write("Preferences.ini", ("[Settings]\r\n" + lang + "Version=" + version + "\r\n").toUtf8());
    }
    // Lang/<name>.ini with these lines under [frmMainUpdater] and [General].
    void WriteLanguage(const QString& name, const QStringList& window, const QStringList& general = {}) const
    {
        Write("Lang/" + name + ".ini",
              ("[frmMainUpdater]\r\n" + (window + QStringList{"[General]"} + general).join("\r\n")).toUtf8());
    }

    // Every file below the folder by relative path, with its bytes; not the lock a running
    // updater holds on the folder.
    QMap<QString, QByteArray> Snapshot() const
    {
        QMap<QString, QByteArray> files;
        for (QDirIterator it(Path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
            QFile file(it.next());
            if (it.fileName() == kLockFile)
                continue;
            files.insert(file.fileName().mid(Path().size() + 1), file.open(QIODevice::ReadOnly) ? file.readAll() : "?");
        }
        return files;
    }

private:
    QTemporaryDir m_dir;
};

}  // namespace tarnwick::test
