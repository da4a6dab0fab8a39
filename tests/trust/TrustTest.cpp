// The publisher's signature and the per-file digests, from the rules to the window. Keys,
// signatures and signed sites are made at test time by the real minisign tool (sites through
// tarnwick-publish), never by the code under test.
#include "support/WindowFixture.h"
#include "update/ManifestDigests.h"
#include "update/Signature.h"

#include <QProcess>

namespace tarnwick::test {

// Runs a tool at test time; a tool that fails fails the test.
static void RunTool(const QString& program, const QStringList& args) { EXPECT_EQ(QProcess::execute(program, args), 0); }

static QString NewKey(const TempAppFolder& dir, const QString& n)
{
    RunTool(u"minisign"_s, {"-G", "-W", "-p", dir.FilePath(n + ".pub"), "-s", dir.FilePath(n + ".key")});
    return dir.Snapshot().value(n + ".pub").split('\n').value(1);
}

// Guards against acting on a manifest that the built-in key did not sign exactly as served.
TEST(Trust, SignatureRows)
{
    const TempAppFolder keys;
    const std::optional<SigningKey> key = ParseSigningKey(NewKey(keys, u"a"_s));
    ASSERT_TRUE(key && !NewKey(keys, u"b"_s).isEmpty());
    // One byte changed at `at` of the manifest (line -1) or of that line of the .minisig, then `from` replaced by
    // `to` in the .minisig; the untrusted comment (line 0 past its prefix) is covered by no signature.
    const std::tuple<const char*, const char*, const char*, int, int, QByteArray, QByteArray, SignatureCheck> rows[] = {
        {"prehashed", "-H", "a", 0, 25, "\n", "\n", SignatureCheck::Valid},
        {"legacy", "-l", "a", 0, 25, "\n", "\n", SignatureCheck::Valid},
        {"another key", "-H", "b", 0, 25, "\n", "\n", SignatureCheck::WrongKey},
        {"manifest byte", "-l", "a", -1, 7, "\n", "\n", SignatureCheck::FileMismatch},
        {"signature byte", "-H", "a", 1, 60, "\n", "\n", SignatureCheck::FileMismatch},
        {"trusted comment", "-H", "a", 2, 20, "\n", "\n", SignatureCheck::CommentMismatch},
        {"malformed first line", "-H", "a", 0, 0, "\n", "\n", SignatureCheck::Malformed},
        {"trailing blank line", "-H", "a", 0, 25, "==\n", "==\n\n", SignatureCheck::Valid},
        {"CR LF", "-l", "a", 0, 25, "\n", "\r\n", SignatureCheck::Valid},
        {"blank after the base64", "-H", "a", 0, 25, "==\n", "== \n", SignatureCheck::Malformed},
    };
    for (const auto& [name, format, signer, line, at, from, to, expected] : rows) {
        SCOPED_TRACE(name);
        QByteArray manifest = "<ver>0.4</ver>\r\n<file>a.txt</file>\r\n";
        keys.Write(u"m"_s, manifest);
        RunTool(u"minisign"_s, {"-S", format, "-s", keys.FilePath(signer + u".key"_s), "-m", keys.FilePath(u"m"_s)});
        QByteArray minisig = keys.Snapshot().value(u"m.minisig"_s);
        QByteArray& changed = line < 0 ? manifest : minisig;
        const qsizetype index = at + (line > 0 ? minisig.split('\n').mid(0, line).join('\n').size() + 1 : 0);
        changed[index] = changed[index] == 'A' ? 'B' : 'A';
        minisig.replace(from, to);
        EXPECT_EQ(CheckSignature(*key, manifest, minisig), expected);
    }
}

// Guards against checking files against digests that do not pair one for one with the names.
TEST(Trust, DigestRows)
{
    const QString a(64, u'a'), b = u"0123456789abcdef"_s.repeated(4), two = u"<file>x<br>y</file>"_s;
    const std::pair<QString, ManifestDigests::State> rows[] = {
        {two + "<sha256>" + a.toUpper() + "<br>\r\n" + b.toUpper() + "</sha256>", ManifestDigests::State::Listed},
        {two + "<sha256>" + a + "</sha256>", ManifestDigests::State::Malformed},
        {two + "<sha256>" + a + "<br>" + b + "<br>" + a + "</sha256>", ManifestDigests::State::Malformed},
        {two + "<sha256>" + a + "<br>" + b.left(63) + "g</sha256>", ManifestDigests::State::Malformed},
        {two, ManifestDigests::State::Absent},
    };
    for (const auto& [document, expected] : rows) {
        SCOPED_TRACE(document.toStdString());
        EXPECT_EQ(ReadManifestDigests(document).state, expected);
    }
    EXPECT_FALSE(ManifestDigestsAcceptable(two, true));  // signed, but vouching for names only
}

// Guards against a window that, with a key built in, acts on a manifest whose signature is missing, an error
// page, another key's or an earlier manifest's, or saves a file that differs from its signed digest; and against
// any change for an updater built without a key. M is the manifest; what the site was asked for, sorted.
TEST(Trust, WindowRows)
{
    enum Signature { NoKey, Valid, Missing, ErrorPage, OtherKey, Earlier };
    const std::tuple<const char*, Signature, QString, QString> rows[] = {
        {"no key, unsigned", NoKey, "Done Done", "Tarnwick.exe M M M readme.txt"},
        {"signed, program changed after (asked for twice)", Valid, "Failed Done",
         "Tarnwick.exe Tarnwick.exe M M M M.minisig M.minisig M.minisig readme.txt"},
        {".minisig missing", Missing, "", "M M M.minisig M.minisig"},
        {".minisig an error page", ErrorPage, "", "M M M.minisig M.minisig"},
        {".minisig by another key", OtherKey, "", "M M M.minisig M.minisig"},
        {"manifest changed after signing", Earlier, "", "M M M.minisig M.minisig"},
    };
    for (const auto& [name, signature, statuses, fetched] : rows) {
        SCOPED_TRACE(name);
        WindowFixture h;
        const QStringList files{u"Tarnwick.exe"_s, u"readme.txt"_s};
        if (signature != NoKey) {
            const TempAppFolder site;
            for (const QString& file : files)
                site.Write("dist/" + file, h.site.Body(kSite + file));
            const QString keys[] = {NewKey(site, u"a"_s), NewKey(site, u"b"_s)};
            h.setup.signingKey = keys[signature == OtherKey];
            // Announces a newer updater where the signature fails: start-up must not act on it.
            RunTool(TARNWICK_PUBLISH, {"--site", site.FilePath("updater"), "--release", "0.4 second beta",
                                       site.FilePath("dist"), "--shipped", "0.3", "-q", "--newupdater",
                                       signature == Valid ? "0.2" : "0.3", "-s", site.FilePath(u"a.key"_s)});
            const QMap<QString, QByteArray> published = site.Snapshot();
            h.site.Put(kManifest,
                       published[u"updater/0.3/check.update"_s].replace('4', signature == Earlier ? '5' : '4'));
            if (signature != Missing)
                h.site.Put(kManifest + ".minisig", signature == ErrorPage
                                                       ? "<html>404</html>"
                                                       : published[u"updater/0.3/check.update.minisig"_s]);
            h.site.Put(kSite + files[0], "changed on the site after signing");
        }
        ASSERT_TRUE(h.StartUp() == StartUpResult::ShowWindow && h.RunCheck());
        h.RunDownloads();  // a failed check leaves Next enabled: pressing it must fetch nothing
        EXPECT_EQ(h.Statuses().join(' '), statuses);
        EXPECT_EQ(h.Requested().replace(u"check.update"_s, u"M"_s), fetched);
        EXPECT_EQ(h.messages, QStringList(statuses.count(u"Failed"_s), kErrorBox));
        QMap<QString, QByteArray> saved;  // a file marked Done holds what the site served
        for (qsizetype i = 0; i < h.Statuses().size(); ++i)
            saved.insert(files[i], h.Statuses()[i] == u"Done"_s ? h.site.Body(kSite + files[i]) : h.before[files[i]]);
        h.ExpectFolder(saved);
    }
}

}  // namespace tarnwick::test
