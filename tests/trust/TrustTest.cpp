// The publisher's signature and the per-file digests, from the rules to the window. Keys,
// signatures and signed sites are made at test time by the real minisign tool (sites through
// tarnwick-publish), never by the code under test.
#include "app/ListedChecks.h"
#include "download/PartFile.h"
#include "support/WindowFixture.h"
#include "update/ManifestDigests.h"
#include "update/Signature.h"
#include "update/TrustedComment.h"

#include <QProcess>

namespace tarnwick::test {

// Runs a tool at test time; a tool that fails fails the test.
static void RunTool(const QString& program, const QStringList& args) { EXPECT_EQ(QProcess::execute(program, args), 0); }

static QString NewKey(const TempAppFolder& dir, const QString& n)
{
    RunTool(u"minisign"_s, {"-G", "-W", "-p", dir.FilePath(n + ".pub"), "-s", dir.FilePath(n + ".key")});
    return dir.Snapshot().value(n + ".pub").split('\n').value(1);
}

// Guards against acting on a manifest that no built-in key signed exactly as served, and against a key list in
// which a mistyped key leaves the others trusted or only the first key counts.
TEST(Trust, SignatureRows)
{
    const TempAppFolder keys;
    const QString a = NewKey(keys, u"a"_s), c = NewKey(keys, u"c"_s);
    const QList<SigningKey> key = ParseSigningKeys(c + u", "_s + a);
    ASSERT_TRUE(key.size() == 2 && !NewKey(keys, u"b"_s).isEmpty());
    EXPECT_TRUE(ParseSigningKeys(a + u",RWQ"_s).isEmpty() && ParseSigningKeys(a + u","_s).isEmpty());
    // One byte changed at `at` of the manifest (line -1) or of that line of the .minisig, then `from` replaced by
    // `to` in the .minisig; the untrusted comment (line 0 past its prefix) is covered by no signature.
    const std::tuple<const char*, const char*, const char*, int, int, QByteArray, QByteArray, SignatureCheck> rows[] = {
        {"prehashed, by the second key", "-H", "a", 0, 25, "\n", "\n", SignatureCheck::Valid},
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
        EXPECT_EQ(CheckSignature(key, manifest, minisig), expected);
    }
}

// Guards the signed trusted comment: an expiry past by more than the margin, a folder of another version, a field
// given twice or unreadable are refused; minisign's own comment (an earlier site's) and unknown fields still hold.
TEST(Trust, TrustedCommentRows)
{
    constexpr qint64 now = 1'800'000'000, day = kExpiryMarginSeconds;
    const QByteArray minisign = "timestamp:1799990000\tfile:check.update\thashed";
    const std::tuple<const char*, QByteArray, CommentVerdict> rows[] = {
        {"minisign's own: no expiry, no folder", minisign, CommentVerdict::Holds},
        {"expires in a week", WriteTrustedComment(now, u"check.update"_s, now + 7 * day, u"0.3"_s),
         CommentVerdict::Holds},
        {"expired, within the margin", minisign + "\texpires:" + QByteArray::number(now - day), CommentVerdict::Holds},
        {"expired past the margin", minisign + "\texpires:" + QByteArray::number(now - day - 1),
         CommentVerdict::Expired},
        {"far future", "expires:9223372036854775807", CommentVerdict::Holds},
        {"another version's folder", WriteTrustedComment(now, u"check.update"_s, now + day, u"0.4"_s),
         CommentVerdict::OtherFolder},
        {"a folder that only starts alike", "folder:0.3.1", CommentVerdict::OtherFolder},
        {"an unknown field", "folder:0.3\tmirror:x\tnote", CommentVerdict::Holds},
        {"expiry not a number", "expires:soon", CommentVerdict::Malformed},
        {"expiry with a sign", "expires:+1900000000", CommentVerdict::Malformed},
        {"expiry before 1970", "expires:-1", CommentVerdict::Malformed},
        {"folder named twice", "folder:0.3\tfolder:0.4", CommentVerdict::Malformed},
    };
    for (const auto& [name, comment, expected] : rows)
        EXPECT_EQ(JudgeTrustedComment(comment, u"0.3"_s, now), expected) << name;
}

// Guards against a site that sends a file on past its listed size (no byte of it written past the size) or ends
// it short; a file of exactly the listed size is whole.
TEST(Trust, SizeRows)
{
    const std::pair<QByteArray, bool> rows[] = {{"0123456789", true}, {"0123456789+", false}, {"012345678", false}};
    for (const auto& [body, whole] : rows) {
        const TempAppFolder dir;
        PartFile part(dir.FilePath(u"f"_s));
        ASSERT_TRUE(part.Create({}, 10));
        const bool written = part.write(body.left(4)) == 4 && part.write(body.mid(4)) == body.size() - 4;
        EXPECT_EQ(written && part.Finish(), whole) << body.toStdString();
        EXPECT_LE(part.Written(), 10);
    }
}

// Guards against checking files against digests or sizes that do not pair one for one with the names, and
// against a signed manifest whose sizes cannot be read (unsigned, the element is not looked at).
TEST(Trust, DigestRows)
{
    using enum ManifestDigests::State;
    const QString a(64, u'a'), b = u"0123456789abcdef"_s.repeated(4), two = u"<file>x<br>y</file>"_s;
    const std::tuple<QString, ManifestDigests::State, ManifestDigests::State> rows[] = {
        {two + "<sha256>" + a.toUpper() + "<br>\r\n" + b.toUpper() + "</sha256><size>10<br> 0\r\n</size>", Listed,
         Listed},
        {two + "<sha256>" + a + "</sha256><size>1</size>", Malformed, Malformed},
        {two + "<sha256>" + a + "<br>" + b + "<br>" + a + "</sha256><size>1<br>-1</size>", Malformed, Malformed},
        {two + "<sha256>" + a + "<br>" + b.left(63) + "g</sha256><size>1<br>+1</size>", Malformed, Malformed},
        {two + "<size>1<br>1e3</size>", Absent, Malformed},
        {two, Absent, Absent},
    };
    for (const auto& [document, digests, sizes] : rows) {
        SCOPED_TRACE(document.toStdString());
        EXPECT_EQ(ReadManifestDigests(document).state, digests);
        EXPECT_EQ(ReadManifestSizes(document).state, sizes);
        const bool listed = digests == Listed;
        EXPECT_EQ(ManifestDigestsAcceptable(document, true), listed && sizes != Malformed);
        EXPECT_EQ(ManifestDigestsAcceptable(document, false), digests != Malformed);
    }
    EXPECT_EQ(ReadManifestSizes(std::get<0>(rows[0])).sizes, QList<qint64>({10, 0}));
}

// Guards against a window that, with a key built in, acts on a manifest whose signature is missing, an error
// page, another key's, an earlier manifest's (fetched twice: a site between two uploads mends), expired past the
// margin or made for another folder, or saves a file that differs from its signed digest or listed size; and
// against any change for an updater built without a key. M is the manifest; what the site was asked for, sorted.
TEST(Trust, WindowRows)
{
    enum Signature { NoKey, Valid, SeveralKeys, Missing, ErrorPage, OtherKey, Earlier, EarlierOnce };
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QByteArray within = "timestamp:1\tfile:check.update\texpires:" + QByteArray::number(now - 3600),
                     past = "folder:0.3\texpires:" + QByteArray::number(now - 2 * kExpiryMarginSeconds);
    // The program that differs from its signed digest is asked for twice.
    const QString signedOnce = "Tarnwick.exe Tarnwick.exe M M M M.minisig M.minisig M.minisig readme.txt",
                  refusedTwice = "M M M M M.minisig M.minisig M.minisig M.minisig",
                  mended = "Tarnwick.exe Tarnwick.exe M M M M M.minisig M.minisig M.minisig M.minisig readme.txt";
    // The comment, when given, replaces the one the publisher signed (--expires 7, folder 0.3).
    const std::tuple<const char*, Signature, QByteArray, QString, QString> rows[] = {
        {"no key, unsigned", NoKey, {}, "Done Done", "Tarnwick.exe M M M readme.txt"},
        {"signed to expire, program changed after", Valid, {}, "Failed Done", signedOnce},
        {"minisign's own comment, by the second key", SeveralKeys, "timestamp:1\tfile:check.update", "Failed Done",
         signedOnce},
        {"expired within the margin", Valid, within, "Failed Done", signedOnce},
        {"expired past the margin", Valid, past, "", "M M M.minisig M.minisig"},
        {"signed for another folder", Valid, "folder:0.4", "", "M M M.minisig M.minisig"},
        {".minisig missing", Missing, {}, "", "M M M.minisig M.minisig"},
        {".minisig an error page", ErrorPage, {}, "", refusedTwice},
        {".minisig by another key", OtherKey, {}, "", "M M M.minisig M.minisig"},
        {"manifest changed after signing", Earlier, {}, "", refusedTwice},
        {"an earlier manifest once", EarlierOnce, {}, "Failed Done", mended},
    };
    for (const auto& [name, signature, comment, statuses, fetched] : rows) {
        SCOPED_TRACE(name);
        WindowFixture h;
        const QStringList files{u"Tarnwick.exe"_s, u"readme.txt"_s};
        const qint64 listedSize = h.site.Body(kSite + files[0]).size();
        if (signature != NoKey) {
            const TempAppFolder site;
            for (const QString& file : files)
                site.Write("dist/" + file, h.site.Body(kSite + file));
            const QString keys[] = {NewKey(site, u"a"_s), NewKey(site, u"b"_s)};
            h.setup.signingKey = signature == OtherKey      ? keys[1]
                                 : signature == SeveralKeys ? keys[1] + ',' + keys[0]
                                                            : keys[0];
            // Announces a newer updater where the signature fails: start-up must not act on it.
            RunTool(TARNWICK_PUBLISH,
                    {"--site", site.FilePath("updater"), "--release", "0.4 second beta", site.FilePath("dist"),
                     "--shipped", "0.3", "-q", "--expires", "7", "--newupdater", statuses.isEmpty() ? "0.3" : "0.2",
                     "-s", site.FilePath(u"a.key"_s)});
            if (!comment.isEmpty())
                RunTool(u"minisign"_s,
                        {"-S", "-s", site.FilePath(u"a.key"_s), "-m", site.FilePath(u"updater/0.3/check.update"_s),
                         "-t", QString::fromUtf8(comment)});
            QMap<QString, QByteArray> published = site.Snapshot();
            const QByteArray manifest = published[u"updater/0.3/check.update"_s];
            h.site.Put(kManifest, QByteArray(manifest).replace('4', signature == Earlier ? '5' : '4'));
            if (signature == EarlierOnce)
                h.site.SetFault(kManifest, {.body = QByteArray(manifest).replace('4', '5')}, 1);
            if (signature != Missing)
                h.site.Put(kManifest + ".minisig", signature == ErrorPage
                                                       ? "<html>404</html>"
                                                       : published[u"updater/0.3/check.update.minisig"_s]);
            h.site.Put(kSite + files[0], "changed on the site after signing");
        }
        ASSERT_TRUE(h.StartUp() == StartUpResult::ShowWindow && h.RunCheck());
        if (!statuses.isEmpty())  // the size read only from a signed manifest
            EXPECT_EQ(ListedChecks(h.Window().lDownload->topLevelItem(0), {}, {}, {}).size,
                      signature == NoKey ? -1 : listedSize);
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
