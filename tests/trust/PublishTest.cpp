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
#include <QDeadlineTimer>
#include <QProcess>

#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <cerrno>
#include <csignal>
#include <functional>

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
        {"--site s --release 0.5 d --shipped 0.3=o --shipped 0.4 -s k -q --password-fd 3 --password-file p", ""},
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
        {"--site s --release 0.5 d --password-fd x", "--password-fd needs a descriptor's number"},
    };
    for (const auto& [line, expected] : rows) {
        const QString error = ParsePublishOptions(line.split(' ')).error;
        EXPECT_TRUE(expected.isEmpty() ? error.isEmpty() : error.startsWith(expected)) << line.toStdString();
    }
    const PublishOptions options = ParsePublishOptions(rows[0].first.split(' ')).options;
    EXPECT_EQ(options.shipped[0].folder + options.shipped[1].folder + options.keyFile + options.newUpdater, "ok0.2");
    EXPECT_TRUE(options.quiet && options.site == "s" && options.releaseFolder == "d" && options.passwordFd == 3 &&
                options.passwordFile == "p");
    EXPECT_TRUE(ParsePublishOptions(rows[9].first.split(' ')).options.resign);
}

// Guards against a failed swap that leaves some folders new and others old, or one missing, and against a run
// killed between two swaps leaving them so: the next run finishes them from the journal written before the first.
TEST(Publish, SwapRows)
{
    struct Killed {};
    // The renames: 0.3's refused (a folder is there) and its exchange, 0.4's, 0.5's refused and its exchange.
    for (int call = 0; call <= 5; ++call) {
        for (const bool killed : {false, true}) {
            SCOPED_TRACE(std::to_string(call) + (killed ? " killed" : " failed"));
            const TempAppFolder folders;
            for (const char* file : {"site/0.3/check.update", "site/0.5/check.update", "work/new/0.3/check.update",
                                     "work/new/0.4/check.update", "work/new/0.5/check.update"})
                folders.Write(file, file);
            const QMap<QString, QByteArray> before = folders.Snapshot();
            const QString site = folders.FilePath("site"), work = folders.FilePath("work");
            int calls = 0;
            Reason error;
            try {
                error = PutInPlace(site, work, {"0.3", "0.4", "0.5"},
                                   [&](const QString& from, const QString& to, unsigned flags) {
                                       if (calls++ != call)
                                           return SystemRenameFolder(from, to, flags);
                                       return killed ? throw Killed{} : (errno = EIO, -1);
                                   });
            } catch (Killed) {
                error = FinishInterruptedRun(site, work);
                EXPECT_FALSE(QFileInfo::exists(work));
            }
            const QMap<QString, QByteArray> after = folders.Snapshot();
            EXPECT_EQ(error.has_value(), call < 5 && !killed);
            if (error)
                EXPECT_EQ(after, before);
            for (const QString version : {"0.3", "0.4", "0.5"})
                EXPECT_TRUE(error ||
                            after["site/" + version + "/check.update"] == "work/new/" + version + "/check.update");
        }
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
    const std::tuple<const char*, qsizetype, bool> rows[] = {
        {"64 KiB, a few bytes changed", 64 << 10, true},
        {"12 MiB, changes 10 MiB apart", 12 << 20, true},
        {"nothing shared", 4 << 10, false},
    };
    for (const auto& [name, size, shared] : rows) {
        SCOPED_TRACE(name);
        QByteArray now = shared ? old.left(size) : noise.left(size);
        now.replace(100, 8, "changed!").replace(size - 100, 8, "changed!");
        files.Write("old", old.left(size)), files.Write("new", now), QFile::remove(files.FilePath("new.zst-patch"));
        const MadePatch made =
            MakePatch(files.FilePath("old"), files.FilePath("new"), files.FilePath("new.zst-patch"), size * 3 / 4);
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

// The real program on a release folder, an earlier version's shipped files and a site; 0.3 ships a.bin, b.txt. Two
// keys: k.key without a password, pw.key with the password "right".
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
        folders.Write("site/.tarnwick-publish-Ab1234/0.5/left", "by a killed publisher that built inside the site");
        ASSERT_EQ(QProcess::execute("minisign", {"-G", "-W", "-p", Path("k.pub"), "-s", Path("k.key")}), 0);
        QProcess keys;  // minisign reads the new key's password from its standard input here
        keys.start("minisign", {"-G", "-p", Path("pw.pub"), "-s", Path("pw.key")});
        keys.write("right\nright\n"), keys.closeWriteChannel();
        ASSERT_TRUE(keys.waitForFinished() && keys.exitCode() == 0);
    }
    QString Path(const QString& relative) const { return folders.FilePath(relative); }
    // The program's exit status, -1 when it was killed or did not end; its standard error in `errors`. `input` is what
    // it reads (nothing: its standard input stays open and unwritten); `meanwhile` runs while it works, and kills it by
    // saying true.
    int Publish(const QString& release, const QStringList& more = {}, const std::optional<QByteArray>& input = "",
                const std::function<bool()>& meanwhile = {})
    {
        QProcess program;
        program.start(TARNWICK_PUBLISH, QStringList{"--site", Path("site"), "--release", release, Path("dist"),
                                                    "--shipped", "0.3=" + Path("shipped"), "--shipped", "0.4", "-q"} +
                                            (more.isEmpty() ? QStringList{"-s", Path("k.key")} : more));
        if (input)
            program.write(*input), program.closeWriteChannel();
        for (const QDeadlineTimer deadline(60000); program.state() != QProcess::NotRunning && !deadline.hasExpired();) {
            if (!program.waitForFinished(meanwhile ? 1 : 1000) && meanwhile && meanwhile())
                program.kill();
        }
        errors = program.readAllStandardError();
        return program.state() == QProcess::NotRunning && program.exitStatus() == QProcess::NormalExit
                   ? program.exitCode()
                   : -1;
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
    QByteArray errors;
};

// Guards against a site the updater reads otherwise than meant: names, digests, patches, the release's own folder,
// files stored more than once, a patch left beside a file that the next release no longer lists, a work folder an
// earlier publisher left inside the site; against a new sub-folder passed over in silence, and a password asked once
// for each folder.
TEST_F(PublishRun, WritesWhatTheUpdaterReads)
{
    ASSERT_EQ(Publish("0.5 beta"), 0);
    EXPECT_TRUE(errors.contains("adds the folder \"sub\", which 0.3 does not have")) << errors.toStdString();
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
    ASSERT_EQ(Publish("0.6", {"-s", Path("pw.key"), "--password-fd", "0"}, "right\n"), 0) << errors.toStdString();
    site = Site();
    EXPECT_EQ(site.keys().join(' '),
              ".keep 0.3/b.txt 0.3/check.update 0.3/check.update.minisig 0.3/sub\\c.txt 0.4/b.txt "
              "0.4/check.update 0.4/check.update.minisig 0.4/sub\\c.txt 0.5/check.update "
              "0.5/check.update.minisig 0.6/check.update 0.6/check.update.minisig");
}

// Guards against a password asked on the terminal once for each folder, and against a terminal taken for an input
// nobody writes: the program runs on a terminal of its own, which answers the first prompt only.
TEST_F(PublishRun, AsksOnTheTerminalOnce)
{
    QList<QByteArray> arguments{TARNWICK_PUBLISH,
                                "--site",
                                QFile::encodeName(Path("site")),
                                "--release",
                                "0.6",
                                QFile::encodeName(Path("dist")),
                                "--shipped",
                                "0.3",
                                "--shipped",
                                "0.4",
                                "-q",
                                "-s",
                                QFile::encodeName(Path("pw.key"))};
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int terminal = -1, status = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0)
        ::execv(argv[0], argv.data()), ::_exit(127);
    QByteArray shown;
    for (const QDeadlineTimer deadline(60000); !deadline.hasExpired() && ::waitpid(pid, &status, WNOHANG) == 0;) {
        pollfd ready{terminal, POLLIN, 0};
        char bytes[256];
        const ssize_t got = ::poll(&ready, 1, 100) > 0 ? ::read(terminal, bytes, sizeof bytes) : 0;
        const bool asked = shown.contains("Password:");
        shown += QByteArray(bytes, qsizetype(std::max<ssize_t>(got, 0)));
        if (!asked && shown.contains("Password:"))
            EXPECT_EQ(::write(terminal, "right\n", 6), 6);
    }
    if (::waitpid(pid, &status, WNOHANG) == 0)
        ::kill(pid, SIGKILL), ::waitpid(pid, &status, 0);
    ::close(terminal);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << shown.toStdString();
    EXPECT_EQ(shown.count("Password:"), 1) << shown.toStdString();
    EXPECT_TRUE(Site().contains("0.6/check.update.minisig"));
}

// Guards against publishing what the updater would misread or a torn file, against any change to the site when
// something fails (a refused name, a wrong password, a missing key), against waiting on an input nobody writes, and
// against a work folder that a killed run leaves inside the site or that the next run does not remove.
TEST_F(PublishRun, RefusalsLeaveTheSiteAsItWas)
{
    ASSERT_EQ(Publish("0.5"), 0);
    folders.Write("wrong.txt", "wrong\n");
    const QString work = Path(".site.tarnwick-publish");
    enum Meanwhile { Nothing, Rewrite, Kill };
    const QStringList password{"-s", Path("pw.key"), "--password-fd", "0"};
    const std::tuple<const char*, QString, QStringList, std::optional<QByteArray>, Meanwhile, const char*> rows[] = {
        {nullptr, "0.6", password, std::nullopt, Kill, ""},
        {"dist/Lang/.a.txt.tarnwick-part", "0.6", {}, "", Nothing, "is one the updater refuses to save"},
        {"dist/A.bin", "0.6", {}, "", Nothing, "is listed twice"},
        {"dist/check.update", "0.6", {}, "", Nothing, "is the manifest's own"},
        {"dist/line\nbreak", "0.6", {}, "", Nothing, "holds a line break"},
        {"dist/ blank", "0.6", {}, "", Nothing, "starts with a blank"},
        {"dist/a<br>b", "0.6", {}, "", Nothing, "would read the file names of"},
        {nullptr, "0.6<file>x", {}, "", Nothing, "would read the file names of"},
        {"dist/big.bin", "0.6", {}, "", Rewrite, "dist/big.bin changed while it was read"},
        {nullptr, "0.6", {"-s", Path("missing.key")}, "", Nothing, "missing.key\" cannot be read"},
        {nullptr, "0.6", {"-s", Path("pw.key")}, std::nullopt, Nothing, "the standard input is no terminal"},
        {nullptr, "0.6", {"-s", Path("pw.key"), "--password-file", Path("wrong.txt")}, "", Nothing, "signing failed"},
    };
    const QMap<QString, QByteArray> before = Site();
    for (const auto& [file, release, key, input, meanwhile, reason] : rows) {
        SCOPED_TRACE(reason);
        if (file)
            folders.Write(file, meanwhile == Rewrite ? QByteArray(64 << 20, 'a') : "x");
        char flip = 'a';
        const auto writer = [&] {  // at work on the file all along the run; or the kill once everything is built
            QFile big(Path(file ? file : ""));
            if (meanwhile == Rewrite && big.open(QIODevice::ReadWrite))
                big.write(QByteArray(1 << 20, ++flip));
            return meanwhile == Kill && QFileInfo::exists(work + "/new/0.6/check.update");
        };
        EXPECT_EQ(Publish(release, key, input, writer), meanwhile == Kill ? -1 : 1);
        EXPECT_TRUE(errors.contains(reason)) << errors.toStdString();
        EXPECT_EQ(Site(), before);
        if (file)
            QFile::remove(Path(file));
    }
    EXPECT_FALSE(QFileInfo::exists(work));
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
    // A key with a password, read once for the three manifests.
    ASSERT_EQ(Resign({"--expires", "30", "-s", Path("pw.key"), "--password-fd", "0"}, "right\n"), 0);
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
