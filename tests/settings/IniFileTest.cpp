// ReadIniValue and the paths under the application folder, against real files on disk.
#include "platform/AppFolder.h"
#include "settings/IniFile.h"
#include "settings/Language.h"
#include "support/AppFolderFixture.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

namespace tarnwick::test {
namespace {

struct IniCase {
    const char* what;
    QByteArray content;
    QString section;
    QString key;
    QString expected;
};

const QString kDefault = QStringLiteral("<default>");

// Writes each case's content to its own file and reads one key with a recognisable default.
void ExpectReads(const std::vector<IniCase>& cases)
{
    TempAppFolder folder;
    int index = 0;
    for (const IniCase& c : cases) {
        const QString name = QStringLiteral("case%1.ini").arg(index++);
        folder.Write(name, c.content);
        EXPECT_EQ(ReadIniValue(folder.FilePath(name), c.section, c.key, kDefault), c.expected) << c.what;
    }
}

QString Repeat(const QString& piece, int times)
{
    QString text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

// Guards against values that come back with their quotes or blanks, names matched by case, and
// lines the reader misreads (comments, lines without "=") hiding or replacing real keys.
TEST(IniFile, ValueRulesOnRealFiles)
{
    const QString s = QStringLiteral("Settings");
    const QString v = QStringLiteral("Version");
    ExpectReads({
        {"plain", "[Settings]\r\nVersion=0.3\r\n", s, v, "0.3"},
        {"section and key in lower case", "[settings]\r\nversion=0.3\r\n", s, v, "0.3"},
        {"asked in upper case", "[Settings]\r\nVersion=0.3\r\n", "SETTINGS", "VERSION", "0.3"},
        {"blanks and tabs around value", "[Settings]\r\nVersion= \t 0.3 \t \r\n", s, v, "0.3"},
        {"blanks around key and section name", "[ Settings ]\r\n  Version  =0.3\r\n", s, v, "0.3"},
        {"double quotes removed", "[Settings]\r\nVersion=\"0.3\"\r\n", s, v, "0.3"},
        {"single quotes removed", "[Settings]\r\nVersion='0.3'\r\n", s, v, "0.3"},
        {"blanks inside quotes kept", "[Settings]\r\nVersion=\" 0.3 \"\r\n", s, v, " 0.3 "},
        {"only one pair removed", "[Settings]\r\nVersion=\"\"0.3\"\"\r\n", s, v, "\"0.3\""},
        {"mismatched quotes kept", "[Settings]\r\nVersion=\"0.3'\r\n", s, v, "\"0.3'"},
        {"lone quote kept", "[Settings]\r\nVersion=\"\r\n", s, v, "\""},
        {"quote on one side kept", "[Settings]\r\nVersion=0.3\"\r\n", s, v, "0.3\""},
        {"empty quotes give empty", "[Settings]\r\nVersion=\"\"\r\n", s, v, ""},
        {"present but empty", "[Settings]\r\nVersion=\r\n", s, v, ""},
        {"equals sign inside value", "[Settings]\r\nVersion=a=b\r\n", s, v, "a=b"},
        {"LF line ends", "[Other]\nVersion=9\n[Settings]\nLang=x\nVersion=0.3\n", s, v, "0.3"},
        {"CRLF line ends", "[Other]\r\nVersion=9\r\n[Settings]\r\nLang=x\r\nVersion=0.3\r\n", s, v, "0.3"},
        {"no line end after last value", "[Settings]\r\nVersion=0.3", s, v, "0.3"},
        {"comment line skipped", "[Settings]\r\n;Version=0.1\r\nVersion=0.3\r\n", s, v, "0.3"},
        {"indented comment skipped", "[Settings]\r\n  ; Version=0.1\r\nVersion=0.3\r\n", s, v, "0.3"},
        {"commented section not opened", ";[Settings]\r\nVersion=0.1\r\n[Settings]\r\nVersion=0.3\r\n", s, v, "0.3"},
        {"line without = does not hide later keys", "[Settings]\r\njunk line\r\nVersion=0.3\r\n", s, v, "0.3"},
        {"line without = is a key with empty value", "[Settings]\r\nVersion\r\n", s, v, ""},
        {"text after section bracket", "[Settings] trailing\r\nVersion=0.3\r\n", s, v, "0.3"},
        {"key before any section not seen", "Version=0.1\r\n[Settings]\r\nLang=x\r\n", s, v, kDefault},
        {"key of another section not seen", "[Other]\r\nVersion=0.1\r\n[Settings]\r\n", s, v, kDefault},
        {"duplicate key: first wins", "[Settings]\r\nVersion=0.3\r\nVersion=0.4\r\n", s, v, "0.3"},
        {"duplicate section: first wins", "[Settings]\r\nVersion=0.3\r\n[Settings]\r\nVersion=0.4\r\n", s, v, "0.3"},
        {"duplicate section: its keys are not seen", "[Settings]\r\nLang=x\r\n[Settings]\r\nVersion=0.4\r\n", s, v,
         kDefault},
        {"missing key", "[Settings]\r\nLang=x\r\n", s, v, kDefault},
        {"missing section", "[Other]\r\nVersion=0.3\r\n", s, v, kDefault},
        {"empty file", "", s, v, kDefault},
        {"prefix of a key is not the key", "[Settings]\r\nVersionX=0.3\r\n", s, v, kDefault},
        {"prefix of a section is not the section", "[SettingsX]\r\nVersion=0.3\r\n", s, v, kDefault},
    });
}

// Guards against a cut that splits a character (a lone surrogate or half a UTF-8 sequence) or
// that counts bytes or UTF-16 units instead of characters.
TEST(IniFile, LongValuesAreCutAt199CharactersNeverInsideOne)
{
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");  // one character, two UTF-16 units
    const QString eAcute = QString::fromUtf8("\xC3\xA9");
    const QString s = QStringLiteral("Settings");
    const QString k = QStringLiteral("Lang");
    auto file = [](const QString& value) { return "[Settings]\r\nLang=" + value.toUtf8() + "\r\n"; };
    ExpectReads({
        {"250 ASCII", file(Repeat("a", 250)), s, k, Repeat("a", 199)},
        {"exactly 199 kept", file(Repeat("b", 199)), s, k, Repeat("b", 199)},
        {"200 loses one", file(Repeat("c", 200)), s, k, Repeat("c", 199)},
        {"two-byte UTF-8 counted as characters", file(Repeat(eAcute, 250)), s, k, Repeat(eAcute, 199)},
        {"emoji counted as characters", file(Repeat(emoji, 250)), s, k, Repeat(emoji, 199)},
        {"emoji at the 199th place kept whole", file(Repeat("d", 198) + emoji + "tail"), s, k,
         Repeat("d", 198) + emoji},
        {"emoji at the 200th place dropped whole", file(Repeat("e", 199) + emoji), s, k, Repeat("e", 199)},
        {"cut after the quotes are removed", file("\"" + Repeat("f", 250) + "\""), s, k, Repeat("f", 199)},
        {"Windows-1252 bytes counted as characters", "[Settings]\r\nLang=" + QByteArray(250, '\xE9') + "\r\n", s, k,
         Repeat(eAcute, 199)},
    });
    for (const QString& value : {Repeat(emoji, 250), Repeat("d", 198) + emoji + "tail"}) {
        TempAppFolder folder;
        folder.Write(QStringLiteral("x.ini"), file(value));
        const QString read = ReadIniValue(folder.FilePath(QStringLiteral("x.ini")), s, k, {});
        EXPECT_FALSE(read.back().isHighSurrogate());
        EXPECT_EQ(read.toUcs4().size(), 199);
    }
}

// Guards against mojibake: a BOM read as part of the first section name, Windows-1252 bytes
// turned into replacement characters, or one value's encoding deciding another's.
TEST(IniFile, EncodingsAndByteOrderMark)
{
    const QString s = QStringLiteral("Settings");
    const QString k = QStringLiteral("Lang");
    const QString cafe = QString::fromUtf8("Caf\xC3\xA9");
    ExpectReads({
        {"BOM before first section", "\xEF\xBB\xBF[Settings]\r\nLang=Nederlands\r\n", s, k, "Nederlands"},
        {"BOM with LF", "\xEF\xBB\xBF[Settings]\nLang=Nederlands\n", s, k, "Nederlands"},
        {"UTF-8 value", "[Settings]\r\nLang=Caf\xC3\xA9\r\n", s, k, cafe},
        {"Windows-1252 value", "[Settings]\r\nLang=Caf\xE9\r\n", s, k, cafe},
        {"Windows-1252 euro and quotes", "[Settings]\r\nLang=\x80\x93\x94\r\n", s, k,
         QString::fromUtf8("\xE2\x82\xAC\xE2\x80\x9C\xE2\x80\x9D")},
        {"truncated UTF-8 read as Windows-1252", "[Settings]\r\nLang=ab\xC3\r\n", s, k,
         QString::fromUtf8("ab\xC3\x83")},
        {"UTF-8 value beside a Windows-1252 one", "[Settings]\r\nOther=\xE9t\xE9\r\nLang=Caf\xC3\xA9\r\n", s, k, cafe},
        {"Windows-1252 value beside a UTF-8 one", "[Settings]\r\nOther=\xC3\xA9t\xC3\xA9\r\nLang=Caf\xE9\r\n", s, k,
         cafe},
        {"UTF-8 section name", "[Sch\xC3\xB6n]\r\nLang=x\r\n", QString::fromUtf8("SCH\xC3\x96N"), k, "x"},
    });
}

// Guards against a crash or a value out of nowhere when the file is absent or is a folder.
TEST(IniFile, MissingFileOrFolderGivesTheDefault)
{
    TempAppFolder folder;
    folder.Write(QStringLiteral("sub/placeholder"), "x");
    const QString s = QStringLiteral("Settings");
    const QString k = QStringLiteral("Version");
    EXPECT_EQ(ReadIniValue(folder.FilePath(QStringLiteral("absent.ini")), s, k, kDefault), kDefault);
    EXPECT_EQ(ReadIniValue(folder.FilePath(QStringLiteral("sub")), s, k, kDefault), kDefault);
    EXPECT_EQ(ReadIniValue(QString(), s, k, kDefault), kDefault);
    EXPECT_EQ(ReadIniValue(folder.FilePath(QStringLiteral("absent/deeper.ini")), s, k, QString()), QString());
}

// Guards against paths that keep "\" on this platform (so "Lang\x.ini" is never found), and
// against a root application folder whose doubled separator would not resolve.
TEST(IniFile, PathsUnderTheApplicationFolder)
{
    EXPECT_EQ(AppPath(QStringLiteral("/opt/tarnwick"), QStringLiteral("Preferences.ini")),
              QStringLiteral("/opt/tarnwick/Preferences.ini"));
    EXPECT_EQ(AppPath(QStringLiteral("/opt/tarnwick"), QStringLiteral("Lang\\English.ini")),
              QStringLiteral("/opt/tarnwick/Lang/English.ini"));
    EXPECT_EQ(AppPath(QStringLiteral("/"), QStringLiteral("Preferences.ini")), QStringLiteral("//Preferences.ini"));
    EXPECT_EQ(PreferencesPath(QStringLiteral("/")), QStringLiteral("//Preferences.ini"));
    EXPECT_EQ(LanguageFilePath(QStringLiteral("/opt/tarnwick"), QStringLiteral("Nederlands")),
              QStringLiteral("/opt/tarnwick/Lang/Nederlands.ini"));
    EXPECT_EQ(LanguageFilePath(QStringLiteral("/opt/tarnwick"), QStringLiteral("sub\\Vlaams")),
              QStringLiteral("/opt/tarnwick/Lang/sub/Vlaams.ini"));

    TempAppFolder folder;
    folder.WritePreferences(QStringLiteral("0.3"), QStringLiteral("Nederlands"));
    folder.Write(QStringLiteral("Lang/Nederlands.ini"), "[frmMainUpdater]\r\ncmdNext=&Volgende >\r\n");
    // A folder that ends in its separator, as the root does, doubles it; the file is still found.
    const QString withSeparator = folder.Path() + u'/';
    EXPECT_TRUE(PreferencesPath(withSeparator).contains(QStringLiteral("//Preferences.ini")));
    EXPECT_EQ(ReadInstalledVersion(withSeparator), QStringLiteral("0.3"));
    EXPECT_EQ(ReadLanguageName(withSeparator), QStringLiteral("Nederlands"));
    EXPECT_EQ(ReadIniValue(u'/' + PreferencesPath(folder.Path()), QStringLiteral("Settings"), QStringLiteral("Version"),
                           {}),
              QStringLiteral("0.3"));
    EXPECT_EQ(ReadIniValue(LanguageFilePath(withSeparator, QStringLiteral("Nederlands")),
                           QStringLiteral("frmMainUpdater"), QStringLiteral("cmdNext"), {}),
              QStringLiteral("&Volgende >"));
}

// Guards against a language test that trims or ignores case: only "" and exactly "English"
// mean the built-in texts.
TEST(IniFile, BuiltInEnglishIsExactlyEmptyOrEnglish)
{
    EXPECT_TRUE(IsBuiltInEnglish(QString()));
    EXPECT_TRUE(IsBuiltInEnglish(QStringLiteral("English")));
    for (const char* other : {"english", "ENGLISH", "English ", " English", "Nederlands"})
        EXPECT_FALSE(IsBuiltInEnglish(QString::fromLatin1(other))) << other;

    TempAppFolder folder;
    folder.Write(QStringLiteral("Preferences.ini"), "[Settings]\r\nLang=\"English \"\r\n");
    EXPECT_EQ(ReadLanguageName(folder.Path()), QStringLiteral("English "));
    folder.Write(QStringLiteral("Preferences.ini"), "[Settings]\r\nLang=\"English\"\r\n");
    EXPECT_TRUE(IsBuiltInEnglish(ReadLanguageName(folder.Path())));
}

}  // namespace
}  // namespace tarnwick::test
