// A temporary application folder with helpers to write the product's files and to prove
// afterwards that nothing but the expected files changed.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace tarnwick::test {

class TempAppFolder {
public:
    TempAppFolder();

    QString Path() const { return m_dir.path(); }
    QString FilePath(const QString& relative) const;

    void Write(const QString& relative, const QByteArray& bytes) const;
    QByteArray Read(const QString& relative) const;
    bool Exists(const QString& relative) const;

    // Preferences.ini with [Settings]; a null version or language leaves that key out.
    void WritePreferences(const QString& version, const QString& language = QString()) const;
    // Lang/<name>.ini with the given lines under [frmMainUpdater] and [General].
    void WriteLanguage(const QString& name, const QStringList& windowLines,
                       const QStringList& generalLines = {}) const;

    // Every regular file below the folder (relative path -> bytes).
    QMap<QString, QByteArray> Snapshot() const;
    // Files that exist now but are in neither `before` nor `expectedNew` (left-over temporaries).
    QStringList NewFilesBesides(const QMap<QString, QByteArray>& before, const QStringList& expectedNew = {}) const;

private:
    QTemporaryDir m_dir;
};

}  // namespace tarnwick::test
