#include "publish/ReleaseFiles.h"

#include "publish/PublishRules.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <filesystem>

namespace tarnwick {

ReleaseListing ListReleaseFiles(const QString& folder)
{
    namespace fs = std::filesystem;
    ReleaseListing listing;
    std::error_code error;
    const fs::path root(QFile::encodeName(folder).toStdString());
    fs::recursive_directory_iterator it(root, error), end;
    for (; !error && it != end; it.increment(error)) {
        const std::string relative = it->path().lexically_relative(root).string();
        const QString shown = QFile::decodeName(QByteArray::fromStdString(relative));
        // A name the file system holds in another encoding than UTF-8 could not be written into
        // the manifest as it is.
        if (QFile::encodeName(shown).toStdString() != relative || shown.contains(u'\\')) {
            listing.error = Shown(shown) + QStringLiteral(" holds a \"\\\" or is not UTF-8");
            return listing;
        }
        if (it->is_directory(error) && !it->is_symlink(error))
            continue;
        if (!it->is_regular_file(error)) {
            listing.error =
                Shown(shown) + QStringLiteral(" is neither a file nor a folder (links to folders are not followed)");
            return listing;
        }
        listing.files.append({QString(shown).replace(u'/', u'\\'), shown});
    }
    if (error) {
        listing.error =
            QStringLiteral("%1 cannot be read: %2").arg(Shown(folder), QString::fromStdString(error.message()));
        return listing;
    }
    std::sort(listing.files.begin(), listing.files.end(),
              [](const ReleaseFile& a, const ReleaseFile& b) { return a.name < b.name; });
    return listing;
}

QStringList AddedFolders(const QList<ReleaseFile>& files, const QString& shippedFolder)
{
    QSet<QString> added;
    for (const ReleaseFile& file : files) {
        for (QString folder = file.relativePath.section(u'/', 0, -2); !folder.isEmpty();
             folder = folder.section(u'/', 0, -2)) {
            if (!QFileInfo(shippedFolder + u'/' + folder).isDir())
                added.insert(QString(folder).replace(u'/', u'\\'));
        }
    }
    QStringList sorted(added.begin(), added.end());
    sorted.sort();
    return sorted;
}

}  // namespace tarnwick
