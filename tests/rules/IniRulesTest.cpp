// Rows against the settings reader and the language rule, on real files in a temporary folder.
#include "platform/AppFolder.h"
#include "settings/IniFile.h"
#include "settings/Language.h"
#include "support/AppFolderFixture.h"
#include "support/QtPrinters.h"

#include <QStringDecoder>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace tarnwick::test {
namespace {

using namespace Qt::Literals::StringLiterals;

const QString kDefault = u"<default>"_s;

struct IniRow {
    const char* what;
    QByteArray content;
    QString expected;
    QString section = u"Settings"_s;
    QString key = u"Version"_s;
};

QByteArray Version(const QString& value)
{
    return "[Settings]\r\nVersion=" + value.toUtf8() + "\r\n";
}

// Guards every rule of the reader: quotes and blanks, names in any letter case, comments and
// lines without "=", line ends, the first section and key winning, missing parts giving the
// default, the cut at 199 characters that never splits one, and each value's own encoding;
// every row of valid UTF-8 also as a Windows editor saves "Unicode" text: UTF-16 after its mark.
TEST(IniRules, ValuesReadAsWritten)
{
    const QString e = QString::fromUtf8("\xC3\xA9");
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");  // one character, two UTF-16 units
    const QString s = u"Settings"_s;
    const std::vector<IniRow> rows = {
        {"plain", "[Settings]\r\nVersion=0.3\r\n", "0.3"},
        {"names match in any letter case", "[settings]\r\nversion=0.3\r\n", "0.3", u"SETTINGS"_s, u"VERSION"_s},
        {"non-ASCII names too", "[Sch\xC3\xB6n]\r\nLang=x\r\n", "x", QString::fromUtf8("SCH\xC3\x96N"), u"lang"_s},
        {"blanks and tabs around the value", "[Settings]\r\nVersion= \t 0.3 \t \r\n", "0.3"},
        {"blanks around section and key names", "[ Settings ]\r\n  Version  =0.3\r\n", "0.3"},
        {"double quotes removed", "[Settings]\nVersion=\"0.3\"\n", "0.3"},
        {"single quotes removed", "[Settings]\nVersion='0.3'\n", "0.3"},
        {"blanks inside quotes kept", "[Settings]\nVersion=\" 0.3 \"\n", " 0.3 "},
        {"only one pair removed", "[Settings]\nVersion=\"\"0.3\"\"\n", "\"0.3\""},
        {"mismatched quotes kept", "[Settings]\nVersion=\"0.3'\n", "\"0.3'"},
        {"lone quote kept", "[Settings]\nVersion=\"\n", "\""},
        {"quote on one side kept", "[Settings]\nVersion=0.3\"\n", "0.3\""},
        {"empty quotes give empty", "[Settings]\nVersion=\"\"\n", ""},
        {"present but empty", "[Settings]\nVersion=\n", ""},
        {"equals sign inside the value", "[Settings]\nVersion=a=b\n", "a=b"},
        {"LF line ends", "[Other]\nVersion=9\n[Settings]\nLang=x\nVersion=0.3\n", "0.3"},
        {"CRLF line ends", "[Other]\r\nVersion=9\r\n[Settings]\r\nLang=x\r\nVersion=0.3\r\n", "0.3"},
        {"no line end after the last value", "[Settings]\r\nVersion=0.3", "0.3"},
        {"lone CR line ends", "[Settings]\rLang=x\rVersion=0.3\r", "0.3"},
        {"a CR inside a line ends the value", "[Settings]\r\nVersion=0.3\rX=1\r\n", "0.3"},
        {"comment skipped", "[Settings]\n;Version=0.1\nVersion=0.3\n", "0.3"},
        {"indented comment skipped", "[Settings]\n  ; Version=0.1\nVersion=0.3\n", "0.3"},
        {"commented section not opened", ";[Settings]\nVersion=0.1\n[Settings]\nVersion=0.3\n", "0.3"},
        {"line without = hides no later key", "[Settings]\njunk line\nVersion=0.3\n", "0.3"},
        {"line without = is a key with empty value", "[Settings]\nVersion\n", ""},
        {"text after the section's bracket", "[Settings] trailing\nVersion=0.3\n", "0.3"},
        {"'[' without ']' opens no section", "[Settings]\n[broken\nVersion=0.3\n", "0.3"},
        {"'[' without ']' but with = is a key", "[Settings]\n[Odd=1\n", "1", s, u"[Odd"_s},
        {"blanks around the asked names", "[Settings]\nVersion=0.3\n", "0.3", u" Settings\t"_s, u"\tVersion "_s},
        {"key before any section not seen", "Version=0.1\n[Settings]\nLang=x\n", kDefault},
        {"key of another section not seen", "[Other]\nVersion=0.1\n[Settings]\n", kDefault},
        {"first of two keys wins", "[Settings]\nVersion=0.3\nVersion=0.4\n", "0.3"},
        {"first of two sections wins", "[Settings]\nVersion=0.3\n[Settings]\nVersion=0.4\n", "0.3"},
        {"keys of a repeated section not seen", "[Settings]\nLang=x\n[Settings]\nVersion=0.4\n", kDefault},
        {"missing key", "[Settings]\nLang=x\n", kDefault},
        {"missing section", "[Other]\nVersion=0.3\n", kDefault},
        {"empty file", "", kDefault},
        {"prefix of a key is not the key", "[Settings]\nVersionX=0.3\n", kDefault},
        {"prefix of a section is not the section", "[SettingsX]\nVersion=0.3\n", kDefault},
        {"250 characters cut to 199", Version(u"a"_s.repeated(250)), u"a"_s.repeated(199)},
        {"exactly 199 kept", Version(u"b"_s.repeated(199)), u"b"_s.repeated(199)},
        {"two-byte UTF-8 counted as characters", Version(e.repeated(250)), e.repeated(199)},
        {"emoji counted as characters", Version(emoji.repeated(250)), emoji.repeated(199)},
        {"emoji at the 199th place kept whole", Version(u"d"_s.repeated(198) + emoji + u"z"_s),
         u"d"_s.repeated(198) + emoji},
        {"emoji at the 200th place dropped whole", Version(u"e"_s.repeated(199) + emoji), u"e"_s.repeated(199)},
        {"cut after the quotes are removed", Version(u'"' + u"f"_s.repeated(250) + u'"'), u"f"_s.repeated(199)},
        {"Windows-1252 bytes counted as characters", "[Settings]\nVersion=" + QByteArray(250, '\xE9'), e.repeated(199)},
        {"UTF-8 byte-order mark skipped", "\xEF\xBB\xBF[Settings]\r\nVersion=0.3\r\n", "0.3"},
        {"UTF-8 value", "[Settings]\nVersion=Caf\xC3\xA9\n", u"Caf"_s + e},
        {"Windows-1252 value", "[Settings]\nVersion=Caf\xE9\n", u"Caf"_s + e},
        {"Windows-1252 euro and quotes", "[Settings]\nVersion=\x80\x93\x94\n", QString::fromUtf8("€“”")},
        {"truncated UTF-8 read as Windows-1252", "[Settings]\nVersion=ab\xC3\n", QString::fromUtf8("abÃ")},
        {"UTF-8 beside a Windows-1252 value", "[Settings]\nX=\xE9t\xE9\nVersion=Caf\xC3\xA9\n", u"Caf"_s + e},
        {"Windows-1252 beside a UTF-8 value", "[Settings]\nX=\xC3\xA9t\xC3\xA9\nVersion=Caf\xE9\n", u"Caf"_s + e},
    };
    TempAppFolder folder;
    const QString file = folder.FilePath(u"x.ini"_s);
    for (const IniRow& row : rows) {
        SCOPED_TRACE(row.what);
        folder.Write(u"x.ini"_s, row.content);
        EXPECT_EQ(ReadIniValue(file, row.section, row.key, kDefault), row.expected);
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString text = utf8.decode(row.content);
        if (utf8.hasError())
            continue;  // Windows-1252 bytes have no UTF-16 form of the same meaning
        for (const auto encoding : {QStringConverter::Utf16LE, QStringConverter::Utf16BE}) {
            folder.Write(u"x.ini"_s, QStringEncoder(encoding, QStringEncoder::Flag::WriteBom).encode(text));
            EXPECT_EQ(ReadIniValue(file, row.section, row.key, kDefault), row.expected)
                << (encoding == QStringConverter::Utf16LE ? "UTF-16LE" : "UTF-16BE");
        }
    }
}

// Guards against a value read out of nowhere, a crash, or a start-up that waits for ever on a
// pipe: whatever is not a regular file reads as a missing one.
TEST(IniRules, NotARegularFileReadsAsMissing)
{
    TempAppFolder folder;
    folder.Write(u"sub/x.ini"_s, "[Settings]\nVersion=0.3\n");
    ASSERT_EQ(::mkfifo(qPrintable(folder.FilePath(u"pipe.ini"_s)), 0600), 0);
    for (const QString& path : {u"absent.ini"_s, u"absent/x.ini"_s, u"sub"_s, u"pipe.ini"_s}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(ReadIniValue(folder.FilePath(path), u"Settings"_s, u"Version"_s, kDefault), kDefault);
    }
    EXPECT_EQ(ReadIniValue(QString(), u"Settings"_s, u"Version"_s, kDefault), kDefault);
}

// Guards the language rule: only "" and exactly "English" mean the built-in texts (no trimming,
// no case folding); any other name reads Lang/<name>.ini, and a key or file it lacks gives an
// empty text, never the English one.
TEST(LanguageRules, BuiltInEnglishOrTheLanguageFile)
{
    TempAppFolder folder;
    for (const QString& name : {u"English"_s, u"english"_s, u"English "_s, u"Nederlands"_s})
        folder.WriteLanguage(name, {u"cmdNext=file "_s + name});
    const std::vector<std::pair<QString, QString>> rows = {
        {u""_s, u"&Next >"_s},           {u"English"_s, u"&Next >"_s},
        {u"english"_s, u"file english"_s}, {u"English "_s, u"file English"_s},
        {u"ENGLISH"_s, u""_s},           {u"Nederlands"_s, u"file Nederlands"_s},
    };
    for (const auto& [language, expected] : rows) {
        SCOPED_TRACE(language.toStdString());
        EXPECT_EQ(WindowText(folder.Path(), language, "cmdNext", "&Next >"), expected);
    }
    EXPECT_EQ(WindowText(folder.Path(), u"Nederlands"_s, "cmdCancel", "Cancel"), QString());
}

// Guards against paths that keep "\" on this platform (Lang\x.ini would never be found) and a
// root application folder whose doubled separator would not resolve.
TEST(LanguageRules, PathsUnderTheApplicationFolder)
{
    EXPECT_EQ(AppPath(u"/opt/t"_s, u"Lang\\English.ini"_s), u"/opt/t/Lang/English.ini"_s);
    EXPECT_EQ(LanguageFilePath(u"/opt/t"_s, u"sub\\Vlaams"_s), u"/opt/t/Lang/sub/Vlaams.ini"_s);
    EXPECT_EQ(PreferencesPath(u"/"_s), u"//Preferences.ini"_s);
    TempAppFolder folder;
    folder.WritePreferences(u"0.3"_s, u"Nederlands"_s);
    EXPECT_EQ(ReadInstalledVersion(folder.Path() + u'/'), u"0.3"_s);
    EXPECT_EQ(ReadLanguageName(folder.Path() + u'/'), u"Nederlands"_s);
}

}  // namespace
}  // namespace tarnwick::test
