// Rows against the manifest reader, the version order, the site addresses, the local file
// names and the decoding of fetched bytes.
#include "download/LocalName.h"
#include "settings/FetchedText.h"
#include "support/QtPrinters.h"
#include "update/Manifest.h"
#include "update/SiteAddress.h"

#include <gtest/gtest.h>

namespace tarnwick::test {
namespace {

using namespace Qt::Literals::StringLiterals;
using enum VersionOrder;

constexpr std::nullopt_t kFails = std::nullopt;

// The names with a "|" after each, so that no names and one empty name differ.
std::optional<QString> Joined(const std::optional<QStringList>& names)
{
    return names ? std::optional(names->join(u'|') + (names->isEmpty() ? u""_s : u"|"_s)) : kFails;
}

// Guards the example the site is built around: three elements on CRLF lines, the version cut
// at its first blank, the names in order, each file's address under the installed version.
TEST(ManifestRules, WorkedExample)
{
    const QString document = u"<newupdater>0.2</newupdater>\r\n<ver>0.4 second beta</ver>\r\n"
                             "<file>Tarnwick.exe<br>Preferences.ini<br>readme.txt</file>\r\n"_s;
    EXPECT_EQ(ManifestUpdaterVersion(document), u"0.2"_s);
    EXPECT_EQ(ManifestElement(document, u"ver"_s), u"0.4 second beta"_s);
    EXPECT_EQ(ManifestVersion(document), u"0.4"_s);
    EXPECT_EQ(Joined(ManifestFileNames(document)), u"Tarnwick.exe|Preferences.ini|readme.txt|"_s);
    EXPECT_FALSE(AnnouncesNewerUpdater(document));
    const QString site = u"http://updates.example/updater/"_s;
    EXPECT_EQ(ManifestUrl(site, u"0.3"_s), site + u"0.3/check.update"_s);
    EXPECT_EQ(FileUrl(site, u"0.3"_s, u"Tarnwick.exe"_s), site + u"0.3/Tarnwick.exe"_s);
}

// Guards the version rules: tags in any letter case, closing tags counting as opening ones, the
// first element winning, a missing closing tag running on, the value cut only at a blank (tabs
// and line breaks stay), and an empty or absent element failing rather than giving "".
TEST(ManifestRules, Versions)
{
    const std::vector<std::pair<const char*, std::optional<QString>>> rows = {
        {"<ver>0.5</ver>", u"0.5"_s},         {"<VER>0.5</Ver>", u"0.5"_s},   {"<ver> 0.5</ver>", u""_s},
        {"<ver></ver>", kFails},              {"", kFails},                   {"<version>1.0</version>", kFails},
        {"<ver >0.5</ver>", kFails},          {"<ver>0.5", u"0.5"_s},         {"<ver>0.5\r\nmore text", u"0.5\r\nmore"_s},
        {"<ver>0.5\tbeta</ver>", u"0.5\tbeta"_s}, {"<ver>0.5 beta 2</ver>", u"0.5"_s},
        {"<ver>0.5</ver><ver>0.6</ver>", u"0.5"_s}, {"<ver>0.5<ver>0.6</ver>", u"0.5"_s},
        {"<file>a</file>\r\n<ver>0.5</ver>", u"0.5"_s}, {"text <ver>0.5</ver> text", u"0.5"_s},
        {"</ver>0.5", u"0.5"_s},              {"<ver><b>0.5</b></ver>", u"<b>0.5</b>"_s},
    };
    for (const auto& [document, expected] : rows) {
        SCOPED_TRACE(document);
        EXPECT_EQ(ManifestVersion(QString::fromUtf8(document)), expected);
        // The updater's own version follows the same rules under its own tag, and not under "ver".
        QString renamed = QString::fromUtf8(document).replace(u"ver>"_s, u"newupdater>"_s, Qt::CaseInsensitive);
        EXPECT_EQ(ManifestUpdaterVersion(renamed), expected);
        EXPECT_EQ(ManifestVersion(renamed), kFails);
    }
}

// Guards the name list: split at "<br>" exactly (letter case counts there), empty names and
// surrounding blanks and line breaks kept, an empty element giving no names, none failing.
TEST(ManifestRules, FileNames)
{
    const std::vector<std::pair<const char*, std::optional<QString>>> rows = {
        {"<file>a.exe<br>b.dll</file>", u"a.exe|b.dll|"_s}, {"<file></file>", u""_s}, {"<file><br></file>", u"||"_s},
        {"<file>a<br></file>", u"a||"_s},   {"<file><br>a</file>", u"|a|"_s},  {"<file>a<br><br>b</file>", u"a||b|"_s},
        {"<file>a<BR>b<Br>c</file>", u"a<BR>b<Br>c|"_s}, {"<file> a <br>\r\nb\r\n</file>", u" a |\r\nb\r\n|"_s},
        {"<FILE>a.exe</File>", u"a.exe|"_s}, {"<file>sub/x.dat<br>sub\\y.dat", u"sub/x.dat|sub\\y.dat|"_s},
        {"<file>a</file><file>b</file>", u"a|"_s}, {"<ver>0.4</ver>", kFails}, {"", kFails},
        {"<files>a</files>", kFails},
    };
    for (const auto& [document, expected] : rows) {
        SCOPED_TRACE(document);
        EXPECT_EQ(Joined(ManifestFileNames(QString::fromUtf8(document))), expected);
    }
}

// Guards the text order (no number parsing, a proper prefix smaller, letter case counting, no
// locale collation) and the newer-updater decision made with it against this updater's "0.2".
TEST(ManifestRules, VersionTextOrder)
{
    const std::vector<std::tuple<const char*, const char*, VersionOrder>> rows = {
        {"0.3", "0.3", Equal}, {"0.10", "0.9", Less}, {"0.2", "0.2.1", Less}, {"0.3", "0.3 ", Less},
        {"", "0", Less},       {"Beta", "beta", Less}, {"z", "\xC3\xA4", Less},
    };
    for (const auto& [a, b, expected] : rows) {
        SCOPED_TRACE(std::string(a) + " vs " + b);
        EXPECT_EQ(CompareVersionText(QString::fromUtf8(a), QString::fromUtf8(b)), expected);
        EXPECT_EQ(CompareVersionText(QString::fromUtf8(b), QString::fromUtf8(a)), expected == Less ? Greater : expected);
    }
    const std::vector<std::pair<const char*, bool>> notices = {
        {"<newupdater>0.3</newupdater>", true},  {"<NEWUPDATER>0.2.1 beta", true}, {"<newupdater>0.2", false},
        {"<newupdater>0.10</newupdater>", false}, {"<newupdater></newupdater>", false}, {"<ver>9</ver>", false},
    };
    for (const auto& [document, announces] : notices)
        EXPECT_EQ(AnnouncesNewerUpdater(QString::fromUtf8(document)), announces) << document;
}

// Guards against addresses and local names that escape, trim or normalise what the manifest
// and the preferences file say, and against a local name that would leave the folder.
TEST(SiteRules, AddressesAndLocalNamesAreVerbatim)
{
    const QString site = u"http://127.0.0.1:8080/updater/"_s;
    EXPECT_EQ(ManifestUrl(site, QString()), site + u"/check.update"_s);
    EXPECT_EQ(ManifestUrl(site, u" 0.3 b%20"_s), site + u" 0.3 b%20/check.update"_s);
    EXPECT_EQ(FileUrl(site, u"0.3"_s, QString()), site + u"0.3/"_s);
    EXPECT_EQ(FileUrl(site, QString(), u"a.exe"_s), site + u"/a.exe"_s);
    EXPECT_EQ(FileUrl(site, u"0.3"_s, u"sub/x y.dat?v=1"_s), site + u"0.3/sub/x y.dat?v=1"_s);
    EXPECT_EQ(WebSiteDomain(u"https://www.tarnwick.example:8443/x/"_s), u"www.tarnwick.example"_s);
    const std::vector<std::pair<QString, QString>> names = {
        {u"0.3/Tarnwick.exe"_s, u"Tarnwick.exe"_s}, {u"0.3/sub/x.dat"_s, u"x.dat"_s},
        {u"0.3/a%20b.dat?v=1"_s, u"a%20b.dat?v=1"_s}, {u"0.3/sub\\x.dat"_s, u"sub\\x.dat"_s}, {u"0.3/"_s, u""_s},
    };
    for (const auto& [path, name] : names)
        EXPECT_EQ(LocalFileName(site + path), name) << path.toStdString();
    for (const QString& safe : {u"a.exe"_s, u"sub\\x.dat"_s, u"..x"_s, u"..."_s})
        EXPECT_TRUE(IsSafeLocalName(safe)) << safe.toStdString();
    for (const QString& unsafe : {u""_s, u"."_s, u".."_s, u"..\\x"_s, u"sub\\..\\x"_s, u"x\\.."_s, u"\\x"_s,
                                  u"a\tb"_s, u"a\x7f"_s})
        EXPECT_FALSE(IsSafeLocalName(unsafe)) << unsafe.toStdString();
}

// Guards the one decoding rule for fetched bytes: UTF-16 after its byte-order mark (either
// order), valid UTF-8 as UTF-8 (its mark dropped), anything else as Windows-1252 one character
// per byte, NUL bytes kept.
TEST(FetchedTextRules, BytesBecomeText)
{
    const std::vector<std::pair<QByteArray, QString>> rows = {
        {"<ver>0.5</ver>", u"<ver>0.5</ver>"_s},   {"Caf\xC3\xA9", u"Café"_s},   {"Caf\xE9", u"Café"_s},
        {"\xEF\xBB\xBF<ver>", u"<ver>"_s},         {"\x80\x81\x93\x94", u"€\x81“”"_s}, {"ok\xC3", u"okÃ"_s},
        {"\xC0\xAF", u"À¯"_s},                    {"\xED\xA0\x80", u"í\xA0€"_s}, {"\xF4\x90\x80\x80", u"ô\x90€€"_s},
        {QByteArray("\xFF\xFE<\0v\0\xE9\0", 8), u"<vé"_s}, {QByteArray("\xFE\xFF\0<\0v\0\xE9", 8), u"<vé"_s},
        {"a\xFF\xFE", u"aÿþ"_s},                   {QByteArray("0.5\0x", 5), QString::fromUtf8("0.5\0x", 5)},
    };
    for (const auto& [bytes, expected] : rows)
        EXPECT_EQ(DecodeFetchedText(bytes), expected) << bytes.toHex().toStdString();
}

}  // namespace
}  // namespace tarnwick::test
