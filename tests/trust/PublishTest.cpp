// The publisher's tool: rows against its rules and its writer (read back with the updater's own
// reader), its swap of folders, its patches (applied by the updater's own decoder), and the real
// program on temporary folders where only a process shows the fault.
#include "download/PartFile.h"
#include "download/Patch.h"
#include "publish/MakePatch.h"
#include "publish/PublishOptions.h"
#include "publish/PublishRules.h"
#include "publish/SiteFolders.h"
#include "support/AppFolderFixture.h"
#include "update/Manifest.h"
#include "update/ManifestWriter.h"
#include "update/TrustedComment.h"

#include <QDateTime>

#include <QCryptographicHash>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <cerrno>

using namespace Qt::Literals::StringLiterals;

namespace tarnwick::test {

static QByteArray Sum(QByteArrayView bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256); }
using Reason = std::optional<QString>;

// Guards against a manifest in another form than stored sites have, and against putting in place one the updater
// reads otherwise than meant.
TEST(Publish, ManifestReadBackRows)
{
    const QByteArray a(32, 'a'), b(32, 'b');
    const PatchOffer none, ab{a, b};
    const std::tuple<const char*, ManifestContent, Reason> rows[] = {
        {"sub-folder, label, one patch", {"0.2", "0.5 beta", {"Lang\\Deutsch.ini", "b"}, {a, b}, {ab, none}}, {}},
        {"no patch offered", {"0.2", "0.5", {"a"}, {a}, {none}}, {}},
        {"up to date: nothing listed", {"0.2", "0.5", {}, {}, {}}, {}},
        {"letters beyond ASCII", {"0.2", "0.5", {u"Übersicht.txt"_s}, {a}, {}}, {}},
        {"a name holding <br>", {"0.2", "0.5", {"a<br>b"}, {a}, {}}, "the file names"},
        {"a name closing the list", {"0.2", "0.5", {"a</file>"}, {a}, {}}, "the file names"},
        {"a version opening the list", {"0.2", "0.5<file>", {"a"}, {a}, {}}, "the file names"},
        {"a digest short", {"0.2", "0.5", {"a", "b"}, {a}, {}}, "the digests"},
        {"no newest updater", {"", "0.5", {"a"}, {a}, {}}, "the newest updater's version"},
        {"sizes, one empty file", {"0.2", "0.5", {"a", "b"}, {a, b}, {}, {12345678901, 0}}, {}},
        {"a size short", {"0.2", "0.5", {"a", "b"}, {a, b}, {}, {1}}, "the sizes"},
    };
    for (const auto& [name, content, expected] : rows) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ReadBackMismatch(WriteManifest(content), content), expected);
    }
    const QByteArray hexA = a.toHex(), hexB = b.toHex();
    EXPECT_EQ(WriteManifest(std::get<1>(rows[0])),
              "<sha256>" + hexA + "<br>" + hexB + "</sha256>\r\n<patch>" + hexA + ' ' + hexB +
                  "<br></patch>\r\n<newupdater>0.2</newupdater>\r\n"
                  "<ver>0.5 beta</ver>\r\n<file>Lang\\Deutsch.ini<br>b</file>\r\n");
}

// Guards against names and versions the updater would misread, save elsewhere, or take for its own working files.
TEST(Publish, NameRows)
{
    const std::pair<QStringList, QString> rows[] = {
        {{"Tarnwick.exe", "Lang\\Deutsch.ini", "data.zst-patch"}, "accepted"},
        {{"a", "b\r\nc"}, "\"b\\x0d\\x0ac\" holds a line break"},
        {{" a"}, "\" a\" holds a line break or starts with a blank"},
        {{"Lang\\.a.tarnwick-part"}, "\"Lang\\.a.tarnwick-part\" is one the updater refuses to save"},
        {{".tarnwick-updater.lock"}, "\".tarnwick-updater.lock\" is one the updater refuses to save"},
        {{"a\\..\\..\\b"}, "\"a\\..\\..\\b\" is one the updater refuses to save"},
        {{"Check.Update"}, "\"Check.Update\" is the manifest's own"},
        {{"Readme.txt", "b", "readme.TXT"}, "\"readme.TXT\" is listed twice"},
    };
    for (const auto& [names, expected] : rows)
        EXPECT_TRUE(RefusedName(names).value_or("accepted").contains(expected)) << names.join('|').toStdString();
    for (const char* version : {"0.5", "0.5 second beta"})
        EXPECT_EQ(RefusedVersion(version), std::nullopt) << version;
    for (const char* version : {"", " 0.5", "0.5\n", "..", "0.3/x", "0.3\\x", ". beta"})
        EXPECT_NE(RefusedVersion(version), std::nullopt) << version;
}

// Guards against a command line read otherwise than written, and against earlier versions the release cannot update.
TEST(Publish, OptionRows)
{
    const std::pair<QString, QString> rows[] = {
        {"--site s --release 0.5 d --shipped 0.3=o --shipped 0.4 -s k -q", ""},
        {"--release 0.5 d", "--site and --release are needed"},
        {"--site s --release 0.5", "--release needs a version and a folder"},
        {"--site s --release 0.5 d --shipped 0.5", "the earlier version \"0.5\" is not older than \"0.5\""},
        {"--site s --release 0.5 d --shipped 0.3 --shipped 0.3=o", "the earlier version \"0.3\" is named twice"},
        {"--site s --release 0.5 d --newupdater 0.3/x", "the version \"0.3/x\" cannot name a folder of the site"},
        {"--site s --release 0.5 d -x", "unknown option \"-x\""},
        {"--site s --release 0.5 d --expires 36500", ""},
        {"--site s --release 0.5 d --expires 0", "--expires needs a number of days"},
        {"--resign --site s --expires 1 -s k", ""},
        {"--resign --site s", "--resign takes --site and --expires, and no release"},
        {"--resign --site s --expires 1 --release 0.5 d", "--resign takes --site and --expires, and no release"},
    };
    for (const auto& [line, expected] : rows) {
        const QString error = ParsePublishOptions(line.split(' ')).error;
        EXPECT_TRUE(expected.isEmpty() ? error.isEmpty() : error.startsWith(expected)) << line.toStdString();
    }
    const PublishOptions options = ParsePublishOptions(rows[0].first.split(' ')).options;
    EXPECT_EQ(options.shipped[0].folder + options.shipped[1].folder + options.keyFile + options.newUpdater, "ok0.2");
    EXPECT_TRUE(options.quiet && options.site == "s" && options.releaseFolder == "d");
    EXPECT_TRUE(ParsePublishOptions(rows[9].first.split(' ')).options.resign);
}

// Guards against a failed swap that leaves some folders new and others old, or one missing.
TEST(Publish, SwapRows)
{
    for (int failing = 0; failing <= 3; ++failing) {
        SCOPED_TRACE(failing);
        const TempAppFolder site;
        for (const char* file : {"0.3/old", "0.5/old", "work/0.3/new", "work/0.4/new", "work/0.5/new"})
            site.Write(file, file);
        const QMap<QString, QByteArray> before = site.Snapshot();
        QList<FolderSwap> swaps;
        for (const char* version : {"0.3", "0.4", "0.5"})
            swaps.append({site.FilePath(u"work/"_s + version), site.FilePath(version)});
        int calls = 0;
        const Reason error = SwapIntoPlace(swaps, [&](const QString& from, const QString& to, unsigned flags) {
            const bool fail = failing < 3 && calls++ == failing;
            return fail ? (errno = EIO, -1) : SystemRenameFolder(from, to, flags);
        });
        const QMap<QString, QByteArray> after = site.Snapshot();
        EXPECT_EQ(error.has_value(), failing < 3);
        if (error)
            EXPECT_EQ(after, before);
        else
            EXPECT_EQ(after.keys().join(' '), "0.3/new 0.4/new 0.5/new work/0.3/old work/0.5/old");
    }
}

// Guards against a patch the updater's decoder refuses or that does not give the new file, one larger than zstd's
// own from the same files, and a patch kept that is over its limit.
TEST(Publish, PatchRows)
{
    const TempAppFolder files;
    QByteArray old, noise;  // bytes that do not compress, for a file that shares nothing with the old one
    for (int i = 0; old.size() < 12 << 20; ++i) {
        old += QCryptographicHash::hash(QByteArray::number(i), QCryptographicHash::Sha512);
        noise += i < 64 ? QCryptographicHash::hash(QByteArray::number(-i), QCryptographicHash::Sha512) : "";
    }
    const std::tuple<const char*, qsizetype, int, bool> rows[] = {
        {"64 KiB, a few bytes changed", 64 << 10, 0, true},
        {"12 MiB, changes 10 MiB apart, Zstandard's workers", 12 << 20, 2, true},
        {"nothing shared", 4 << 10, 0, false},
    };
    for (const auto& [name, size, workers, shared] : rows) {
        SCOPED_TRACE(name);
        QByteArray now = shared ? old.left(size) : noise.left(size);
        now.replace(100, 8, "changed!").replace(size - 100, 8, "changed!");
        files.Write("old", old.left(size)), files.Write("new", now), QFile::remove(files.FilePath("new.zst-patch"));
        const MadePatch made = MakePatch(files.FilePath("old"), files.FilePath("new"), files.FilePath("new.zst-patch"),
                                         size * 3 / 4, workers);
        EXPECT_EQ(made.made, shared);
        EXPECT_EQ(QFile::exists(files.FilePath("new.zst-patch")), shared);
        if (!shared)
            continue;
        EXPECT_EQ(made.sha256, Sum(files.Snapshot()["new.zst-patch"]));
        PartFile part(files.FilePath("decoded"));
        ASSERT_TRUE(part.Create(Sum(now)));
        EXPECT_TRUE(ApplyPatch(files.FilePath("old"), files.FilePath("new.zst-patch"), part, false));
        EXPECT_EQ(QProcess::execute("zstd", {"-qf9", "--patch-from=" + files.FilePath("old"), files.FilePath("new"),
                                             "-o", files.FilePath("cli")}),
                  0);
        EXPECT_LE(made.size, QFileInfo(files.FilePath("cli")).size());
    }
}

// The real program on a release folder, an earlier version's shipped files and a site; 0.3 ships a.bin, b.txt.
class PublishRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        QByteArray program;
        for (int i = 0; program.size() < 1 << 20; ++i)
            program += QCryptographicHash::hash(QByteArray::number(i), QCryptographicHash::Sha512);
        folders.Write("shipped/a.bin", program), folders.Write("shipped/b.txt", "same");
        folders.Write("dist/a.bin", program.replace(5000, 3, "0.5")), folders.Write("dist/b.txt", "same");
        folders.Write("dist/sub/c.txt", "new"), folders.Write("site/.keep", "");
        ASSERT_EQ(QProcess::execute("minisign", {"-G", "-W", "-p", Path("k.pub"), "-s", Path("k.key")}), 0);
    }
    QString Path(const QString& relative) const { return folders.FilePath(relative); }
    // The program's exit status; `input` is what it reads (a password).
    int Publish(const QString& release, const QStringList& more = {}, const QByteArray& input = {}) const
    {
        QProcess program;
        program.start(TARNWICK_PUBLISH, QStringList{"--site", Path("site"), "--release", release, Path("dist"),
                                                    "--shipped", "0.3=" + Path("shipped"), "--shipped", "0.4", "-q"} +
                                            (more.isEmpty() ? QStringList{"-s", Path("k.key")} : more));
        program.write(input), program.closeWriteChannel();
        return program.waitForFinished(60000) ? program.exitCode() : -1;
    }
    int Resign(const QStringList& more, const QByteArray& input = {}) const
    {
        QProcess program;
        program.start(TARNWICK_PUBLISH, QStringList{"--resign", "--site", Path("site"), "-q"} + more);
        program.write(input), program.closeWriteChannel();
        return program.waitForFinished(60000) ? program.exitCode() : -1;
    }
    // Each signature's trusted comment judged for its own folder, `days` from now.
    QStringList Judged(qint64 days) const
    {
        QStringList verdicts;
        const qint64 at = QDateTime::currentSecsSinceEpoch() + days * kExpiryMarginSeconds;
        for (auto [name, bytes] : Site().asKeyValueRange())
            if (name.endsWith(".minisig"))
                verdicts.append(JudgeTrustedComment(bytes.split('\n').value(2).mid(17), name.section('/', 0, 0), at) ==
                                        CommentVerdict::Holds
                                    ? "holds"
                                    : "refused");
        return verdicts;
    }
    QMap<QString, QByteArray> Site() const
    {
        QMap<QString, QByteArray> site;
        for (auto [name, bytes] : folders.Snapshot().asKeyValueRange())
            if (name.startsWith("site/"))
                site.insert(name.mid(5), bytes);
        return site;
    }
    TempAppFolder folders;
};

// Guards against a site the updater reads otherwise than meant: names, digests, patches, the release's own folder,
// files stored more than once, and a patch left beside a file that the next release no longer lists.
TEST_F(PublishRun, WritesWhatTheUpdaterReads)
{
    ASSERT_EQ(Publish("0.5 beta"), 0);
    QMap<QString, QByteArray> site = Site();
    const QMap<QString, QByteArray> dist = folders.Snapshot();
    const QString manifest = QString::fromUtf8(site["0.3/check.update"]);
    EXPECT_EQ(ManifestFileNames(manifest), QStringList({"a.bin", "b.txt", "sub\\c.txt"}));
    EXPECT_EQ(ManifestVersion(manifest), "0.5");
    EXPECT_EQ(ReadManifestDigests(manifest).digests,
              QList<QByteArray>({Sum(dist["dist/a.bin"]), Sum("same"), Sum("new")}));
    const QList<PatchOffer> patches = ReadManifestPatches(manifest);
    ASSERT_EQ(patches.size(), 3);
    EXPECT_EQ(patches[0].fromSha256 + patches[0].patchSha256,
              Sum(dist["shipped/a.bin"]) + Sum(site["0.3/a.bin.zst-patch"]));
    EXPECT_TRUE(patches[1].fromSha256.isEmpty() && patches[2].fromSha256.isEmpty());
    EXPECT_EQ(site["0.3/sub\\c.txt"], "new");
    EXPECT_TRUE(ReadManifestPatches(QString::fromUtf8(site["0.4/check.update"])).isEmpty());
    EXPECT_EQ(ManifestFileNames(QString::fromUtf8(site["0.5/check.update"])), QStringList());
    for (const char* name : {"0.3/check.update.minisig", "0.4/check.update.minisig", "0.5/check.update.minisig"})
        EXPECT_EQ(
            QProcess::execute("minisign", {"-Vq", "-p", Path("k.pub"), "-m", Path("site/" + QString(name).chopped(8))}),
            0);
    struct stat info {};
    EXPECT_TRUE(::stat(QFile::encodeName(Path("site/0.4/a.bin")).constData(), &info) == 0 && info.st_nlink == 2);
    QFile::remove(Path("dist/a.bin"));
    ASSERT_EQ(Publish("0.6"), 0);
    site = Site();
    EXPECT_EQ(site.keys().join(' '),
              ".keep 0.3/b.txt 0.3/check.update 0.3/check.update.minisig 0.3/sub\\c.txt 0.4/b.txt "
              "0.4/check.update 0.4/check.update.minisig 0.4/sub\\c.txt 0.5/check.update "
              "0.5/check.update.minisig 0.6/check.update 0.6/check.update.minisig");
}

// Guards against publishing what the updater would misread, and against any change to the site when something
// fails: a refused name, a mistyped password, a missing key.
TEST_F(PublishRun, RefusalsLeaveTheSiteAsItWas)
{
    ASSERT_EQ(Publish("0.5"), 0);
    QProcess keys;  // a key with a password, which minisign reads from the standard input here
    keys.start("minisign", {"-G", "-p", Path("pw.pub"), "-s", Path("pw.key")});
    keys.write("right\nright\n"), keys.closeWriteChannel();
    ASSERT_TRUE(keys.waitForFinished() && keys.exitCode() == 0);
    const std::tuple<const char*, QStringList, QByteArray> rows[] = {
        {"dist/Lang/.a.txt.tarnwick-part", {}, {}},
        {"dist/A.bin", {}, {}},
        {"dist/check.update", {}, {}},
        {"dist/line\nbreak", {}, {}},
        {"dist/ blank", {}, {}},
        {nullptr, {"-s", Path("missing.key")}, {}},
        {nullptr, {"-s", Path("pw.key")}, "wrong\n"},
    };
    const QMap<QString, QByteArray> before = Site();
    for (const auto& [file, key, input] : rows) {
        SCOPED_TRACE(file ? file : key.join(' ').toStdString().c_str());
        if (file)
            folders.Write(file, "x");
        EXPECT_EQ(Publish("0.6", key, input), 1);
        EXPECT_EQ(Site(), before);
        if (file)
            QFile::remove(Path(file));
    }
}

// Guards --resign: every manifest gets a fresh expiry naming its own folder, signed with a password asked once,
// minisign still verifies it, and nothing else on the site changes; a failure changes nothing at all.
TEST_F(PublishRun, ResignRenewsTheExpiryAlone)
{
    ASSERT_EQ(Publish("0.5", {"-s", Path("k.key"), "--expires", "7"}), 0);
    EXPECT_EQ(Judged(6), QStringList(3, "holds"));
    EXPECT_EQ(Judged(9), QStringList(3, "refused"));
    QMap<QString, QByteArray> before = Site();
    EXPECT_EQ(Resign({"--expires", "30", "-s", Path("missing.key")}), 1);
    EXPECT_EQ(Site(), before);
    QProcess keys;  // a key with a password, which tarnwick-publish reads once for the three manifests
    keys.start("minisign", {"-G", "-p", Path("pw.pub"), "-s", Path("pw.key")});
    keys.write("right\nright\n"), keys.closeWriteChannel();
    ASSERT_TRUE(keys.waitForFinished() && keys.exitCode() == 0);
    ASSERT_EQ(Resign({"--expires", "30", "-s", Path("pw.key")}, "right\n"), 0);
    EXPECT_EQ(Judged(29), QStringList(3, "holds"));
    EXPECT_EQ(Judged(32), QStringList(3, "refused"));
    QMap<QString, QByteArray> after = Site();
    for (const char* name : {"0.3/check.update", "0.4/check.update", "0.5/check.update"}) {
        EXPECT_EQ(QProcess::execute("minisign", {"-Vq", "-p", Path("pw.pub"), "-m", Path("site/" + QString(name))}), 0);
        EXPECT_NE(after.take(name + u".minisig"_s), before.take(name + u".minisig"_s));
    }
    EXPECT_EQ(after, before);
}

}  // namespace tarnwick::test
