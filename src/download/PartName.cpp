#include "download/PartName.h"

#include "platform/Sha256.h"

#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

namespace tarnwick {
namespace {

const QString kPartSuffix = u".tarnwick-part"_s;

}  // namespace

QString PartName(const QString& fileName)
{
    // A name near the file system's limit still gets a part file, so that it is fetched and
    // refused only where the file system refuses it: when it takes its own name.
    constexpr qsizetype kLongName = 200;
    if (fileName.size() <= kLongName)
        return u'.' + fileName + kPartSuffix;
    Sha256 sum;
    const QByteArray name = fileName.toUtf8();
    sum.Add(name.constData(), name.size());
    const QByteArray digest = sum.Result().toHex();
    return u'.' + fileName.left(kLongName - 17) + u'~' + QString::fromLatin1(digest.left(16)) + kPartSuffix;
}

bool IsPartName(const QString& fileName)
{
    return fileName.size() > kPartSuffix.size() + 1 && fileName.startsWith(u'.') && fileName.endsWith(kPartSuffix);
}

QString Resolve(const QString& path)
{
    const QFileInfo link(path);
    if (!link.isSymLink())
        return path;
    const QString canonical = link.canonicalFilePath();
    return canonical.isEmpty() ? link.symLinkTarget() : canonical;
}

QString PartPathOf(const QString& target)
{
    const qsizetype slash = target.lastIndexOf(u'/');
    return target.left(slash + 1) + PartName(target.mid(slash + 1));
}

}  // namespace tarnwick
