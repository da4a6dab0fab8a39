// Rows of a table against the pure text rules: the settings reader (on real files in a
// temporary folder) and the language rule, the manifest elements, the version order, the site
// addresses and local names, and the decoding of fetched bytes.
#include "download/LocalName.h"
#include "download/SaveFile.h"
#include "platform/ConnectionBudget.h"
#include "platform/HttpRules.h"
#include "settings/FetchedText.h"
#include "settings/IniFile.h"
#include "settings/Language.h"
#include "support/AppFolderFixture.h"
#include "support/QtPrinters.h"
#include "update/Manifest.h"
#include "update/ManifestDigests.h"
#include "update/SiteAddress.h"

#include <QStringEncoder>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace tarnwick::test {
namespace {

using namespace Qt::Literals::StringLiterals;
using namespace std::chrono_literals;
using enum VersionOrder;
using Rows = std::vector<std::pair<const char*, std::optional<QString>>>;

const QString kDefault = u"<default>"_s;
constexpr std::nullopt_t kFails = std::nullopt;

struct IniRow {
    const char* what;
    QByteArray content;
    QString expected, section = u"S"_s, key = u"K"_s;  // the value, and what is asked for
};

// The names with a "|" after each, so that no names and one empty name differ.
std::optional<QString> Joined(const std::optional<QStringList>& names)
{
    return names ? std::optional(names->join(u'|') + (names->isEmpty() ? u""_s : u"|"_s)) : kFails;
}

// Guards every rule of the reader: quotes and blanks, names in any letter case, comments and
// lines without "=", the three line ends, "[" without "]", the first section and key winning,
// missing parts giving the default, the cut at 199 characters that never splits one, and each
// value's own encoding; and every row of valid UTF-8 read the same from the UTF-16 file a
// Windows editor saves as "Unicode" (either byte order, after its mark).
TEST(IniRules, ValuesReadAsWritten)
{
    const QString emoji = u"😀"_s;  // one character, two UTF-16 units
    auto file = [](const QString& value) { return "[S]\r\nK=" + value.toUtf8(); };
    // clang-format off
    const std::vector<IniRow> rows = {
        {"plain", "[S]\r\nK=0.3\r\n", "0.3"},
        {"letter case", "[s]\nk=1\n", "1"},
        {"non-ASCII names in any letter case", "[Sch\xC3\xB6n]\nk=1\n", "1", u"SCHÖN"_s},
        {"blanks around the value", "[S]\nK= \t 1 \t \n", "1"},
        {"blanks around names", "[ S ]\n  K  =1\n", "1"},
        {"quotes", "[S]\nK=\"1\"\n", "1"},
        {"single quotes", "[S]\nK='1'\n", "1"},
        {"blanks in quotes", "[S]\nK=\" 1 \"\n", " 1 "},
        {"one pair removed", "[S]\nK=\"\"1\"\"\n", "\"1\""},
        {"unmatched quotes", "[S]\nK=\"1'\n", "\"1'"},
        {"empty quotes", "[S]\nK=\"\"\n", ""},
        {"empty value", "[S]\nK=\n", ""},
        {"= in value", "[S]\nK=a=b\n", "a=b"},
        {"LF", "[O]\nK=9\n[S]\nL=x\nK=1\n", "1"},
        {"CR LF", "[O]\r\nK=9\r\n[S]\r\nL=x\r\nK=1\r\n", "1"},
        {"lone CR", "[O]\rK=9\r[S]\rL=x\rK=1\r", "1"},
        {"CR ends a value", "[S]\r\nK=1\rX=2\r\n", "1"},
        {"comment", "[S]\n;K=0\n", kDefault, "S", ";K"},
        {"indented comment", "[S]\n  ; K=0\nK=1\n", "1"},
        {"; inside a value", "[S]\nK=a; b\n", "a; b"},
        {"commented section", ";[S]\nK=0\n[S]\nK=1\n", "1"},
        {"line without = hides nothing", "[S]\njunk\nK=1\n", "1"},
        {"line without = is a key", "[S]\nK\n", ""},
        {"text after ]", "[S] x\nK=1\n", "1"},
        {"[ without ] opens no section", "[S]\n[broken\nK=1\n", "1"},
        {"[ without ] is a key", "[S]\n[K=1\n", "1", u"S"_s, u"[K"_s},
        {"first key wins", "[S]\nK=1\nK=2\n", "1"},
        {"key before any section", "K=0\n[S]\nL=x\n", kDefault},
        {"another section's key", "[O]\nK=0\n[S]\n", kDefault},
        {"first section wins", "[S]\nK=1\n[S]\nK=2\n", "1"},
        {"keys of a second [S]", "[S]\nL=x\n[S]\nK=2\n", kDefault},
        {"missing key", "[S]\nL=x\n", kDefault},
        {"empty", "", kDefault},
        {"prefix of the key", "[S]\nKX=1\n", kDefault},
        {"prefix of the section", "[SX]\nK=1\n", kDefault},
        {"250 cut to 199", file(QString(250, u'a')), QString(199, u'a')},
        {"199 kept", file(QString(199, u'b')), QString(199, u'b')},
        {"two-byte UTF-8 counted as characters", file(u"é"_s.repeated(250)), u"é"_s.repeated(199)},
        {"emoji counted as characters", file(emoji.repeated(250)), emoji.repeated(199)},
        {"emoji 199th kept whole", file(QString(198, u'd') + emoji + u'z'), QString(198, u'd') + emoji},
        {"emoji 200th dropped whole", file(QString(199, u'e') + emoji), QString(199, u'e')},
        {"cut after the quotes go", file(u'"' + QString(250, u'f') + u'"'), QString(199, u'f')},
        {"Windows-1252 bytes counted as characters", "[S]\nK=" + QByteArray(250, '\xE9'), u"é"_s.repeated(199)},
        {"UTF-8 byte-order mark", "\xEF\xBB\xBF[S]\r\nK=1\r\n", "1"},
        {"Windows-1252 0x80-0x9F", "[S]\nK=\x80\x93\x94", u"€“”"_s},
        {"truncated UTF-8 is Windows-1252", "[S]\nK=ab\xC3\n", u"abÃ"_s},
        {"FF FE", "[S]\nK=\xFF\xFE\n", u"ÿþ"_s},
        {"UTF-8 beside Windows-1252", "[S]\nX=\xE9t\xE9\nK=Caf\xC3\xA9\n", u"Café"_s},
        {"Windows-1252 beside UTF-8", "[S]\nX=\xC3\xA9t\xC3\xA9\nK=Caf\xE9\n", u"Café"_s},
    };
    // clang-format on
    TempAppFolder folder;
    const QString path = folder.FilePath(u"x.ini"_s);
    for (const IniRow& row : rows) {
        SCOPED_TRACE(row.what);
        folder.Write(u"x.ini"_s, row.content);
        EXPECT_EQ(ReadIniValue(path, row.section, row.key, kDefault), row.expected);
        const QString text = QString::fromUtf8(row.content);
        for (const auto encoding : {QStringConverter::Utf16LE, QStringConverter::Utf16BE}) {
            if (text.contains(QChar::ReplacementCharacter))
                break;  // Windows-1252 bytes have no UTF-16 form of the same meaning
            folder.Write(u"x.ini"_s, QStringEncoder(encoding, QStringEncoder::Flag::WriteBom).encode(text));
            EXPECT_EQ(ReadIniValue(path, row.section, row.key, kDefault), row.expected) << "UTF-16 " << encoding;
        }
    }
}

// Guards against a value read out of nowhere, a crash, or a start-up that waits for ever on a
// pipe: whatever is not a regular file reads as a missing one.
TEST(IniRules, NotARegularFileReadsAsMissing)
{
    TempAppFolder folder;
    folder.Write(u"sub/x.ini"_s, "[S]\nK=1\n");
    ASSERT_EQ(::mkfifo(qPrintable(folder.FilePath(u"pipe.ini"_s)), 0600), 0);
    for (const QString& name : {u"absent.ini"_s, u"absent/x.ini"_s, u"sub"_s, u"pipe.ini"_s})
        EXPECT_EQ(ReadIniValue(folder.FilePath(name), u"S"_s, u"K"_s, kDefault), kDefault) << name.toStdString();
}

// Guards the language rule: only "" and exactly "English" mean the built-in texts (no trimming,
// no case folding); any other name reads Lang/<name>.ini, and a key or file it lacks gives an
// empty text, never the English one. Also guards against paths that keep "\" on this platform
// (Lang\x.ini would never be found) and a root folder whose doubled separator would not resolve.
TEST(LanguageRules, BuiltInEnglishOrTheLanguageFile)
{
    TempAppFolder folder;
    for (const QString& name : {u"English"_s, u"english"_s, u"English "_s, u"Nederlands"_s})
        folder.WriteLanguage(name, {u"cmdNext=file "_s + name});
    // clang-format off
    const std::vector<std::tuple<QString, const char*, QString>> rows = {
        {"", "cmdNext", "&Next >"},
        {"English", "cmdNext", "&Next >"},
        {"ENGLISH", "cmdNext", ""},
        {"english", "cmdNext", "file english"},
        {"English ", "cmdNext", "file English"},
        {"Nederlands", "cmdNext", "file Nederlands"},
        {"Nederlands", "cmdCancel", ""},
    };
    // clang-format on
    for (const auto& [language, key, expected] : rows)
        EXPECT_EQ(WindowText(folder.Path(), language, key, "&Next >"), expected) << language.toStdString() << key;
    EXPECT_EQ(LanguageFilePath(u"/opt/t"_s, u"sub\\Vlaams"_s), u"/opt/t/Lang/sub/Vlaams.ini"_s);
    folder.WritePreferences(u"0.3"_s, u"Nederlands"_s);
    EXPECT_EQ(ReadInstalledVersion(folder.Path() + u'/'), u"0.3"_s);
    EXPECT_EQ(ReadLanguageName(folder.Path() + u'/'), u"Nederlands"_s);
}

// Guards the manifest elements: the example the site is built around (three elements on CRLF
// lines, the version cut at its first blank, the names in order); tags in any letter case,
// closing tags counting as opening ones, the first element winning, a missing closing tag
// running on, the version cut only at a blank, an empty or absent element failing rather than
// giving "", the updater's own version read by the same rules under its own tag; the names
// split at "<br>" exactly (letter case counts there) with empty names and surrounding blanks
// and line breaks kept; and the newer-updater notice only for a version above this "0.2".
TEST(ManifestRules, Elements)
{
    const QString example =
        u"<newupdater>0.2</newupdater>\r\n<ver>0.4 second beta</ver>\r\n"
        "<file>Tarnwick.exe<br>Preferences.ini<br>readme.txt</file>\r\n"_s;
    EXPECT_EQ(ManifestElement(example, u"ver"_s), u"0.4 second beta"_s);
    EXPECT_EQ(ManifestVersion(example), u"0.4"_s);
    EXPECT_EQ(Joined(ManifestFileNames(example)), u"Tarnwick.exe|Preferences.ini|readme.txt|"_s);
    // clang-format off
    const Rows versions = {
        {"<ver>0.5</ver>", u"0.5"_s},
        {"<VER>0.5</Ver>", u"0.5"_s},
        {"<ver> 0.5</ver>", u""_s},
        {"<ver></ver>", kFails},
        {"", kFails},
        {"<version>1.0</version>", kFails},
        {"<ver >0.5</ver>", kFails},
        {"<ver>0.5", u"0.5"_s},
        {"<ver>0.5\r\nmore text", u"0.5\r\nmore"_s},
        {"<ver>0.5\tbeta</ver>", u"0.5\tbeta"_s},
        {"<ver>0.5</ver><ver>0.6</ver>", u"0.5"_s},
        {"<ver>0.5<ver>0.6</ver>", u"0.5"_s},
        {"<file>a</file>\r\n<ver>0.5</ver>", u"0.5"_s},
        {"</ver>0.5", u"0.5"_s},
    };
    // clang-format on
    for (const auto& [document, expected] : versions) {
        SCOPED_TRACE(document);
        EXPECT_EQ(ManifestVersion(QString::fromUtf8(document)), expected);
        QString renamed = QString::fromUtf8(document).replace(u"ver>"_s, u"newupdater>"_s, Qt::CaseInsensitive);
        EXPECT_EQ(ManifestUpdaterVersion(renamed), expected);
        EXPECT_EQ(ManifestVersion(renamed), kFails);
    }
    // clang-format off
    const Rows names = {
        {"<file>a.exe<br>b.dll</file>", u"a.exe|b.dll|"_s},
        {"<file></file>", u""_s},
        {"<file><br></file>", u"||"_s},
        {"<file>a<br></file>", u"a||"_s},
        {"<file><br>a</file>", u"|a|"_s},
        {"<file>a<br><br>b</file>", u"a||b|"_s},
        {"<file>a<BR>b<Br>c</file>", u"a<BR>b<Br>c|"_s},
        {"<file> a <br>\r\nb\r\n</file>", u" a |\r\nb\r\n|"_s},
        {"<file>sub/x.dat<br>sub\\y.dat", u"sub/x.dat|sub\\y.dat|"_s},
        {"<file>a</file><file>b</file>", u"a|"_s},
        {"<ver>0</ver>", kFails},
        {"", kFails},
        {"<files>a</files>", kFails},
    };
    // clang-format on
    for (const auto& [document, expected] : names)
        EXPECT_EQ(Joined(ManifestFileNames(QString::fromUtf8(document))), expected) << document;
    // clang-format off
    const std::vector<std::pair<const char*, bool>> notices = {
        {"<newupdater>0.3</newupdater>", true},
        {"<NEWUPDATER>0.2.1 beta", true},
        {"<newupdater>0.2", false},
        {"<newupdater>0.10</newupdater>", false},
        {"<newupdater></newupdater>", false},
        {"<ver>9</ver>", false},
    };
    // clang-format on
    for (const auto& [document, announces] : notices)
        EXPECT_EQ(AnnouncesNewerUpdater(QString::fromUtf8(document)), announces) << document;
}

// Guards the version order: text compared by character value, so no number parsing, a proper
// prefix is the smaller, letter case counts, and no locale collation.
TEST(VersionRules, TextOrder)
{
    EXPECT_EQ(CompareVersionText(u"0.3"_s, u"0.3"_s), Equal);
    // clang-format off
    const std::vector<std::pair<QString, QString>> ascending = {
        {"0.10", "0.9"},
        {"0.2", "0.2.1"},
        {"0.3", "0.3 "},
        {"", "0"},
        {"Beta", "beta"},
        {"z", "ä"},
    };
    // clang-format on
    for (const auto& [a, b] : ascending) {
        EXPECT_EQ(CompareVersionText(a, b), Less) << a.toStdString() << " < " << b.toStdString();
        EXPECT_EQ(CompareVersionText(b, a), Greater) << b.toStdString() << " > " << a.toStdString();
    }
}

// Guards against addresses and local names that escape, trim or normalise what the manifest
// and the preferences file say, and against a local name that would leave the folder.
TEST(SiteRules, AddressesAndLocalNamesAreVerbatim)
{
    const QString site = u"http://h/updater/"_s;
    // clang-format off
    const std::vector<std::pair<QString, QString>> rows = {
        {ManifestUrl(site, "0.3"), site + "0.3/check.update"},
        {ManifestUrl(site, ""), site + "/check.update"},
        {ManifestUrl(site, " 0.3 b%20"), site + " 0.3 b%20/check.update"},
        {FileUrl(site, "0.3", ""), site + "0.3/"},
        {FileUrl(site, "", "a.exe"), site + "/a.exe"},
        {FileUrl(site, "0.3", "s/x y?v=1"), site + "0.3/s/x y?v=1"},
        {WebSiteDomain("https://www.tarnwick.example:8443/x/"), "www.tarnwick.example"},
        {LocalFileName(site + "0.3/Tarnwick.exe"), "Tarnwick.exe"},
        {LocalFileName(site + "0.3/"), ""},
        {LocalFileName("a.exe"), ""},
        {LocalFileName(site + "0.3/s/x.dat"), "x.dat"},
        {LocalFileName("h/a%20b\\x.dat?v=1"), "a%20b\\x.dat?v=1"},
    };
    // clang-format on
    for (const auto& [made, expected] : rows)
        EXPECT_EQ(made, expected);
    for (const QString& safe : {u"a.exe"_s, u"sub\\x.dat"_s, u"..x"_s, u"..."_s, u".config"_s})
        EXPECT_TRUE(IsSafeLocalName(safe)) << safe.toStdString();
    for (const QString& unsafe : {u""_s, u"."_s, u".."_s, u"..\\x"_s, u"a\\..\\x"_s, u"\\x"_s, u"\t"_s, u"\x7f"_s,
                                  u".a.txt.tarnwick-part"_s, u"Lang\\.x.tarnwick-part"_s, u".tarnwick-updater.lock"_s})
        EXPECT_FALSE(IsSafeLocalName(unsafe)) << unsafe.toStdString();
    // Folders a name needs are made inside the folder only, under the rules of names, never
    // through a link that leads out; a folder that is there, or a link inside, is used.
    const TempAppFolder app, outside;
    app.Write("file", "f"), app.Write("in/x", "x");
    QFile::link(outside.Path(), app.FilePath("out")), QFile::link(app.FilePath("in"), app.FilePath("inlink"));
    const std::pair<QString, bool> folders[] = {
        {u"a.dll"_s, true},          {u"new\\deeper\\a.dll"_s, true}, {u"in\\a.dll"_s, true},
        {u"inlink\\sub\\a.dll"_s, true}, {u"out\\sub\\a.dll"_s, false},  {u"file\\a.dll"_s, false},
        {u"a\\\\b.dll"_s, false},    {u".x.tarnwick-part\\a.dll"_s, false},
    };
    for (const auto& [name, made] : folders) {
        const QString parent = app.FilePath(QString(name).replace(u'\\', u'/')).section(u'/', 0, -2);
        EXPECT_EQ(MakeFoldersFor(app.Path(), name), made) << name.toStdString();
        EXPECT_EQ(QFileInfo(parent).isDir(), made) << name.toStdString();
    }
    EXPECT_TRUE(QDir(outside.Path()).isEmpty());
}

// Guards the one decoding rule for fetched bytes: UTF-16 after its byte-order mark (either
// order), valid UTF-8 as UTF-8 (its mark dropped), anything else as Windows-1252 one character
// per byte, NUL bytes kept.
TEST(FetchedTextRules, BytesBecomeText)
{
    // clang-format off
    const std::vector<std::pair<QByteArray, QString>> rows = {
        {"<ver>0.5</ver>", u"<ver>0.5</ver>"_s},
        {"Caf\xC3\xA9", u"Café"_s},
        {"Caf\xE9", u"Café"_s},
        {"\xEF\xBB\xBF<ver>", u"<ver>"_s},
        {"\x80\x81\x93\x94", u"€\x81“”"_s},
        {"ok\xC3", u"okÃ"_s},
        {"\xC0\xAF", u"À¯"_s},
        {QByteArray("\xFF\xFE<\0v\0\xE9\0", 8), u"<vé"_s},
        {QByteArray("\xFE\xFF\0<\0v\0\xE9", 8), u"<vé"_s},
        {"a\xFF\xFE", u"aÿþ"_s},
        {QByteArray("0.5\0x", 5), QString::fromUtf8("0.5\0x", 5)},
    };
    // clang-format on
    for (const auto& [bytes, expected] : rows)
        EXPECT_EQ(DecodeFetchedText(bytes), expected) << bytes.toHex().toStdString();
}

// Guards what an update may skip or take in part: an installed copy trusted only against a
// listed digest, a patch only for the copy it was made from; the patch element used only whole,
// one entry per file, and only beside digests; the rest of a broken transfer taken only as
// exactly that rest, and a whole answer to it taken for a changed file.
TEST(UpdateCostRules, SourcesPatchesAndRanges)
{
    const QByteArray a(32, 'a'), b(32, 'b'), c(32, 'c');
    const std::tuple<std::optional<QByteArray>, ListedFile, FileSource> sources[] = {
        {a, {{}, {}, a, b, c}, FileSource::Current},
        {b, {{}, {}, a, b, c}, FileSource::Patch},
        {c, {{}, {}, a, b, c}, FileSource::Whole},
        {b, {{}, {}, a, {}, {}}, FileSource::Whole},
        {std::nullopt, {{}, {}, a, b, c}, FileSource::Whole},
        {a, {{}, {}, {}, a, c}, FileSource::Whole},
    };
    for (const auto& [installed, listed, expected] : sources)
        EXPECT_EQ(ChooseSource(installed, listed), expected) << installed.value_or("none").left(1).toStdString();
    const QString x(64, u'a'), y(64, u'b'), two = "<file>f<br>g</file><sha256>" + x + "<br>" + y + "</sha256>";
    const std::pair<QString, QString> patches[] = {
        {two + "<patch>" + x + " \r\n" + y + "<br></patch>", "ab|"},
        {"<file>f<br>g</file><patch>" + x + ' ' + y + "<br></patch>", ""},
        {two + "<patch>" + x + ' ' + y + "</patch>", ""},
        {two + "<patch>" + x + ' ' + y.left(63) + "g<br></patch>", ""},
        {two + "<patch>" + x + "<br></patch>", ""},
        {two + "<patch>" + x + ' ' + y + ' ' + x + "<br></patch>", ""},
    };
    for (const auto& [document, expected] : patches) {
        QStringList offers;
        for (const PatchOffer& offer : ReadManifestPatches(document))
            offers.append(QString::fromLatin1(offer.fromSha256.toHex().left(1) + offer.patchSha256.toHex().left(1)));
        EXPECT_EQ(offers.join(u'|'), expected) << document.toStdString();
    }
    const std::tuple<long, const char*, RangeAnswer> ranges[] = {
        {206, "bytes 100-999/1000", RangeAnswer::Rest},
        {206, "bytes 100-999/*", RangeAnswer::Rest},
        {206, "bytes 0-999/1000", RangeAnswer::Refused},
        {206, "bytes 100-499/1000", RangeAnswer::Refused},
        {206, "", RangeAnswer::Refused},
        {200, "", RangeAnswer::Whole},
        {416, "bytes */1000", RangeAnswer::Refused},
    };
    for (const auto& [status, contentRange, expected] : ranges)
        EXPECT_EQ(ClassifyRangeAnswer(status, contentRange, 100), expected) << status << ' ' << contentRange;
    // A busy host's Retry-After: seconds or an HTTP date, a date past meaning at once.
    const QDateTime now = QDateTime::fromString("Tue, 08 Dec 2026 10:00:00 +0000", Qt::RFC2822Date);
    const std::pair<const char*, std::optional<std::chrono::milliseconds>> waits[] = {
        {"120", 120s}, {" 0 ", 0s}, {"Tue, 08 Dec 2026 10:00:30 GMT", 30s}, {"Mon, 07 Dec 2026 10:00:00 GMT", 0s},
        {"-1", std::nullopt}, {"soon", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& [value, expected] : waits)
        EXPECT_EQ(RetryAfter(value, now), expected) << value;
    // The connection budget: the file whose turn it is keeps a connection of its own (its own
    // fetch ahead's, or one left free), fetches ahead hold at most 8 MiB (a block each at least),
    // a host that turned one away is left the connections it answered, at least one; a busy host
    // is asked again within bounds on asks and on the time waited, never past the deadline.
    constexpr qint64 MiB = 1024 * 1024;
    ConnectionBudget budget;
    EXPECT_TRUE(budget.AheadRoom(6, false, 6 * MiB) && budget.AheadRoom(7, true, 7 * MiB));
    EXPECT_FALSE(budget.AheadRoom(7, false, 7 * MiB) || budget.AheadRoom(2, true, 8 * MiB - 1000));
    budget.multiplexed = true;
    EXPECT_TRUE(budget.AheadRoom(40, false, 4 * MiB) && !budget.AheadRoom(64, true, MiB));
    budget.multiplexed = false, budget.Limit(2, std::nullopt);
    EXPECT_TRUE(budget.AheadRoom(1, true, MiB) && !budget.AheadRoom(1, false, MiB));
    budget.Limit(0, 3s);
    EXPECT_TRUE(budget.connections == 1 && !budget.AheadRoom(0, true, 0));
    using Wait = std::optional<ConnectionBudget::Duration>;
    EXPECT_EQ(ConnectionBudget::BusyWait(1, 0s, std::nullopt, 60s), Wait(500ms));
    EXPECT_EQ(ConnectionBudget::BusyWait(3, 1500ms, std::nullopt, 60s), Wait(2s));
    EXPECT_EQ(ConnectionBudget::BusyWait(2, 0s, 60s, 60s), Wait(10s));
    for (const Wait none : {ConnectionBudget::BusyWait(5, 0s, 1s, 60s), ConnectionBudget::BusyWait(2, 15s, 6s, 60s),
                            ConnectionBudget::BusyWait(1, 0s, 2s, 1s)})
        EXPECT_EQ(none, std::nullopt);
}

}  // namespace
}  // namespace tarnwick::test
