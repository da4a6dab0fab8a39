// The publisher's signature and the per-file digests: keys and signatures come from the real
// minisign tool, made at test time, never from the code under test.
#include "update/ManifestDigests.h"
#include "update/Signature.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace tarnwick {
namespace {

using Change = std::function<void(QByteArray& message, QByteArray& minisig)>;

// A folder where minisign makes key pairs and signs; a failing run fails the test.
struct Minisign {
    QTemporaryDir dir;
    QByteArray Run(const QStringList& args, const QString& output)
    {
        QProcess tool;
        tool.setWorkingDirectory(dir.path());
        tool.start(QStringLiteral("minisign"), args);
        EXPECT_TRUE(tool.waitForFinished(60'000) && tool.exitCode() == 0) << tool.readAllStandardError().data();
        QFile file(dir.filePath(output));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QString NewKey(const QString& name)
    {
        return QString::fromLatin1(Run({"-G", "-W", "-p", name + ".pub", "-s", name + ".key"}, name + ".pub").split('\n').value(1));
    }
    QByteArray Sign(const QString& file, const QByteArray& bytes, bool legacy, const QString& key = "a")
    {
        QFile out(dir.filePath(file));
        EXPECT_TRUE(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
        out.close();
        return Run(QStringList{"-S", "-s", key + ".key", "-m", file} + (legacy ? QStringList{"-l"} : QStringList()), file + ".minisig");
    }
};

struct SignatureRow {
    const char* name;
    bool legacy;
    const char* signedBy;
    Change change;
    SignatureCheck expected;
};

void ChangeSignatureByte(QByteArray&, QByteArray& sig)
{
    char& c = sig[sig.indexOf('\n') + 60];  // inside the Ed25519 signature, past the key id
    c = c == 'A' ? 'B' : 'A';
}

// Guards against accepting a manifest that the publisher's key did not sign exactly as served.
TEST(Signature, RowsMadeByMinisign)
{
    Minisign tool;
    const std::optional<SigningKey> key = ParseSigningKey(tool.NewKey("a"));
    tool.NewKey("b");
    ASSERT_TRUE(key);
    const Change none = [](QByteArray&, QByteArray&) {};
    const SignatureRow rows[] = {
        {"prehashed", false, "a", none, SignatureCheck::Valid},
        {"legacy", true, "a", none, SignatureCheck::Valid},
        {"another key", false, "b", none, SignatureCheck::WrongKey},
        {"manifest byte, prehashed", false, "a", [](QByteArray& m, QByteArray&) { m[7] = 'X'; }, SignatureCheck::FileMismatch},
        {"manifest byte, legacy", true, "a", [](QByteArray& m, QByteArray&) { m[7] = 'X'; }, SignatureCheck::FileMismatch},
        {"signature byte", false, "a", ChangeSignatureByte, SignatureCheck::FileMismatch},
        {"trusted comment", false, "a", [](QByteArray&, QByteArray& s) { s.insert(s.indexOf("\ntrusted comment: ") + 18, 'x'); }, SignatureCheck::CommentMismatch},
        {"global signature cut", false, "a", [](QByteArray&, QByteArray& s) { s.chop(8); }, SignatureCheck::Malformed},
        {"error page", false, "a", [](QByteArray&, QByteArray& s) { s = "<html><body>Not Found</body></html>\n"; }, SignatureCheck::Malformed},
    };
    for (const SignatureRow& row : rows) {
        SCOPED_TRACE(row.name);
        QByteArray manifest = "<ver>0.4</ver>\r\n<file>a.txt</file>\r\n";
        QByteArray minisig = tool.Sign("check.update", manifest, row.legacy, row.signedBy);
        row.change(manifest, minisig);
        EXPECT_EQ(CheckSignature(*key, manifest, minisig), row.expected);
    }
}

// Guards against saving files whose digests the manifest does not give one for one.
TEST(ManifestDigests, Rows)
{
    const QString d1(64, u'a'), d2 = QStringLiteral("0123456789abcdef").repeated(4);
    const struct {
        QString document;
        ManifestDigests::State expected;
    } rows[] = {
        {"<file>x<br>y</file><sha256>" + d1 + "<br>" + d2 + "</sha256>", ManifestDigests::State::Listed},
        {"<file>x<br>y</file><sha256>" + d1.toUpper() + "<br>\r\n" + d2.toUpper() + "</sha256>", ManifestDigests::State::Listed},
        {"<file>x<br>y</file><sha256>" + d1 + "</sha256>", ManifestDigests::State::Malformed},
        {"<file>x<br>y</file><sha256>" + d1 + "<br>" + d2 + "<br>" + d1 + "</sha256>", ManifestDigests::State::Malformed},
        {"<file>x</file><sha256>" + d1.left(63) + "g</sha256>", ManifestDigests::State::Malformed},
        {"<ver>0.3</ver><sha256></sha256>", ManifestDigests::State::Listed},
        {"<file>x</file>", ManifestDigests::State::Absent},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.document.toStdString());
        const ManifestDigests read = ReadManifestDigests(row.document);
        EXPECT_EQ(read.state, row.expected);
        if (read.state == ManifestDigests::State::Listed && !read.digests.isEmpty())
            EXPECT_EQ(read.digests, (QList<QByteArray>{QByteArray::fromHex(d1.toLatin1()), QByteArray::fromHex(d2.toLatin1())}));
    }
    EXPECT_FALSE(ManifestDigestsAcceptable(QStringLiteral("<file>x</file>"), true));
}

}  // namespace
}  // namespace tarnwick
