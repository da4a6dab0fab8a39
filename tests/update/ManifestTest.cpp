// The manifest reader, the version order and the site addresses, as plain functions.
#include "settings/FetchedText.h"
#include "update/Manifest.h"
#include "update/SiteAddress.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <random>

namespace tarnwick::test {
namespace {

const QString kCrlf = QStringLiteral("\r\n");

std::string Show(const std::optional<QString>& value)
{
    return value ? '"' + value->toStdString() + '"' : std::string("failure");
}

std::string Show(const std::optional<QStringList>& names)
{
    if (!names)
        return "failure";
    std::string text = "[";
    for (const QString& name : *names)
        text += '"' + name.toStdString() + "\" ";
    return text + "]";
}

// Guards the example the site is built around: three elements on CRLF lines, the version cut
// at its first blank, the names in order, and each file's address under the installed version.
TEST(Manifest, WorkedExample)
{
    const QString document = QStringLiteral("<newupdater>0.2</newupdater>") + kCrlf +
                             QStringLiteral("<ver>0.4 second beta</ver>") + kCrlf +
                             QStringLiteral("<file>Tarnwick.exe<br>Preferences.ini<br>readme.txt</file>") + kCrlf;
    EXPECT_EQ(ManifestUpdaterVersion(document), QStringLiteral("0.2"));
    EXPECT_EQ(ManifestVersion(document), QStringLiteral("0.4"));
    EXPECT_EQ(ManifestElement(document, QStringLiteral("ver")), QStringLiteral("0.4 second beta"));
    EXPECT_EQ(ManifestFileNames(document), (QStringList{QStringLiteral("Tarnwick.exe"), QStringLiteral("Preferences.ini"),
                                                        QStringLiteral("readme.txt")}));
    EXPECT_EQ(CompareVersionText(QStringLiteral("0.3"), QStringLiteral("0.4")), VersionOrder::Less);
    const QString site = QStringLiteral("http://updates.example/updater/");
    EXPECT_EQ(ManifestUrl(site, QStringLiteral("0.3")), QStringLiteral("http://updates.example/updater/0.3/check.update"));
    EXPECT_EQ(FileUrl(site, QStringLiteral("0.3"), QStringLiteral("Tarnwick.exe")),
              QStringLiteral("http://updates.example/updater/0.3/Tarnwick.exe"));
}

struct VersionCase {
    const char* document;
    std::optional<QString> expected;
};

// Guards the version rules: tags in any case, the value cut only at a blank (tabs and line
// breaks stay), a missing closing tag running on, only the first element counting, and empty
// or absent elements failing rather than giving "".
TEST(Manifest, VersionEdgeCases)
{
    const std::vector<VersionCase> cases = {
        {"<ver>0.5</ver>", "0.5"},
        {"<VER>0.5</Ver>", "0.5"},
        {"<Ver>0.5</vEr>", "0.5"},
        {"<ver> 0.5</ver>", ""},
        {"<ver></ver>", std::nullopt},
        {"<newupdater>0.2</newupdater>", std::nullopt},
        {"", std::nullopt},
        {"<version>1.0</version>", std::nullopt},
        {"<ver >0.5</ver>", std::nullopt},
        {"<ver>0.5", "0.5"},
        {"<ver>0.5\r\nmore text", "0.5\r\nmore"},
        {"<ver>0.5\tbeta</ver>", "0.5\tbeta"},
        {"<ver>0.5 beta 2</ver>", "0.5"},
        {"<ver>0.5</ver><ver>0.6</ver>", "0.5"},
        {"<ver>0.5<ver>0.6</ver>", "0.5"},
        {"<file>a.exe</file>\r\n<ver>0.5</ver>", "0.5"},
        {"text before <ver>0.5</ver> text after", "0.5"},
        {"</ver>0.5", "0.5"},
        {"<ver><b>0.5</b></ver>", "<b>0.5</b>"},
    };
    for (const VersionCase& c : cases) {
        const QString document = QString::fromUtf8(c.document);
        EXPECT_EQ(ManifestVersion(document), c.expected) << c.document << " gave " << Show(ManifestVersion(document));
        // The updater's own version follows the same rules under its own tag.
        QString renamed = document;
        renamed.replace(QStringLiteral("ver>"), QStringLiteral("newupdater>"), Qt::CaseInsensitive);
        if (!document.contains(QStringLiteral("newupdater")))
            EXPECT_EQ(ManifestUpdaterVersion(renamed), c.expected) << renamed.toStdString();
    }
}

struct FileNamesCase {
    const char* document;
    std::optional<QStringList> expected;
};

// Guards the name list: split at "<br>" exactly (letter case counts there), empty names and
// surrounding blanks and line breaks kept, an empty element giving no names, none failing.
TEST(Manifest, FileNameEdgeCases)
{
    const std::vector<FileNamesCase> cases = {
        {"<file>a.exe<br>b.dll</file>", QStringList{"a.exe", "b.dll"}},
        {"<file></file>", QStringList{}},
        {"<file>a.exe<br></file>", QStringList{"a.exe", ""}},
        {"<file><br>a.exe</file>", QStringList{"", "a.exe"}},
        {"<file>a<br><br>b</file>", QStringList{"a", "", "b"}},
        {"<file><br></file>", QStringList{"", ""}},
        {"<file>a.exe<BR>b.dll</file>", QStringList{"a.exe<BR>b.dll"}},
        {"<file>a.exe<Br>b.dll</file>", QStringList{"a.exe<Br>b.dll"}},
        {"<file>a.exe<br>\r\nb.dll\r\n</file>", QStringList{"a.exe", "\r\nb.dll\r\n"}},
        {"<file> a.exe <br> b.dll</file>", QStringList{" a.exe ", " b.dll"}},
        {"<FILE>a.exe</File>", QStringList{"a.exe"}},
        {"<file>sub/extra.dat<br>sub\\x.dat</file>", QStringList{"sub/extra.dat", "sub\\x.dat"}},
        {"<file>a.exe<br>b.dll", QStringList{"a.exe", "b.dll"}},
        {"<file>a</file><file>b</file>", QStringList{"a"}},
        {"<ver>0.4</ver>", std::nullopt},
        {"", std::nullopt},
        {"<files>a</files>", std::nullopt},
    };
    for (const FileNamesCase& c : cases) {
        const QString document = QString::fromUtf8(c.document);
        EXPECT_EQ(ManifestFileNames(document), c.expected) << c.document << " gave " << Show(ManifestFileNames(document));
    }
}

struct OrderCase {
    const char* a;
    const char* b;
    VersionOrder expected;
};

// Guards the text order: no number parsing ("0.10" < "0.9"), a proper prefix smaller, letter
// case counting, and no locale collation (a letter with a mark sorts by its code).
TEST(Manifest, VersionTextOrder)
{
    using enum VersionOrder;
    const std::vector<OrderCase> cases = {
        {"0.3", "0.3", Equal},     {"0.3", "0.4", Less},      {"0.10", "0.9", Less},  {"1.0", "0.99", Greater},
        {"0.2", "0.2.1", Less},    {"0.2", "0.3", Less},      {"0.2", "V2", Less},    {"0.2", "\n0.3", Greater},
        {"", "", Equal},           {"", "0", Less},           {"a", "B", Greater},    {"beta", "Beta", Greater},
        {"0.3", "0.3 ", Less},     {"\xC3\xA4", "z", Greater}, {"0.9", "0.10", Greater},
    };
    for (const OrderCase& c : cases) {
        const QString a = QString::fromUtf8(c.a);
        const QString b = QString::fromUtf8(c.b);
        EXPECT_EQ(CompareVersionText(a, b), c.expected) << '"' << c.a << "\" vs \"" << c.b << '"';
        const VersionOrder mirrored = c.expected == Less ? Greater : c.expected == Greater ? Less : Equal;
        EXPECT_EQ(CompareVersionText(b, a), mirrored) << '"' << c.b << "\" vs \"" << c.a << '"';
    }
}

// Guards against addresses that escape, trim or normalise what the manifest and the
// preferences file say; the site is laid out by those exact texts.
TEST(Manifest, SiteAddressesAreVerbatim)
{
    const QString site = QStringLiteral("http://127.0.0.1:8080/updater/");
    EXPECT_EQ(ManifestUrl(site, QString()), QStringLiteral("http://127.0.0.1:8080/updater//check.update"));
    EXPECT_EQ(ManifestUrl(site, QStringLiteral(" 0.3 beta")), site + QStringLiteral(" 0.3 beta/check.update"));
    EXPECT_EQ(ManifestUrl(site, QStringLiteral("a%20b")), site + QStringLiteral("a%20b/check.update"));
    EXPECT_EQ(FileUrl(site, QStringLiteral("0.3"), QString()), site + QStringLiteral("0.3/"));
    EXPECT_EQ(FileUrl(site, QStringLiteral("0.3"), QStringLiteral("sub/extra.dat")), site + QStringLiteral("0.3/sub/extra.dat"));
    EXPECT_EQ(FileUrl(site, QStringLiteral("0.3"), QStringLiteral("sub\\x y.dat?v=1")),
              site + QStringLiteral("0.3/sub\\x y.dat?v=1"));
    EXPECT_EQ(FileUrl(site, QString(), QStringLiteral("a.exe")), site + QStringLiteral("/a.exe"));
    EXPECT_EQ(WebSiteDomain(QStringLiteral("http://www.tarnwick.example/")), QStringLiteral("www.tarnwick.example"));
}

// Guards the single decoding rule for fetched bodies: valid UTF-8 as UTF-8, anything else as
// Windows-1252 one character per byte, NUL bytes kept rather than ending the text.
TEST(Manifest, FetchedBytesBecomeText)
{
    EXPECT_EQ(DecodeFetchedText(QByteArray("<ver>0.5</ver>")), QStringLiteral("<ver>0.5</ver>"));
    EXPECT_EQ(DecodeFetchedText(QByteArray("Caf\xC3\xA9")), QString::fromUtf8("Caf\xC3\xA9"));
    EXPECT_EQ(DecodeFetchedText(QByteArray("Caf\xE9")), QString::fromUtf8("Caf\xC3\xA9"));
    EXPECT_EQ(DecodeFetchedText(QByteArray("\x80")), QString::fromUtf8("\xE2\x82\xAC"));
    const QByteArray withNul("<ver>0.5\0x</ver>", 16);
    EXPECT_EQ(DecodeFetchedText(withNul).size(), 16);
    EXPECT_EQ(ManifestVersion(DecodeFetchedText(withNul)), QString::fromUtf8("0.5\0x", 5));
    for (const QByteArray invalid : {QByteArray("\xC0\xAF"), QByteArray("\xED\xA0\x80"), QByteArray("\xFF\xFE"),
                                     QByteArray("ok\xC3"), QByteArray("\xF4\x90\x80\x80")}) {
        const QString text = DecodeFetchedText(invalid);
        EXPECT_EQ(text.size(), invalid.size()) << invalid.toHex().toStdString();
        EXPECT_FALSE(text.contains(QChar::ReplacementCharacter)) << invalid.toHex().toStdString();
    }
}

// Guards against a crash, hang or inconsistent answer on whatever a broken or hostile site
// sends: random bytes biased towards tag fragments, NUL bytes, invalid UTF-8 and huge values.
TEST(Manifest, GarbageNeverCrashesAndStaysConsistent)
{
    std::mt19937 random(20240611u);
    const std::vector<QByteArray> pieces = {"<ver>", "</VER>", "<file>", "</file>", "<newupdater>", "<br>", "<BR>",
                                            "<", ">", "/", " ", "\r\n", QByteArray(1, '\0'), "\xC3", "\xE9", "0.",
                                            "\xF0\x9F\x98\x80", "ver", "file"};
    std::uniform_int_distribution<int> lengthOf(0, 60);
    std::uniform_int_distribution<int> pieceOf(0, static_cast<int>(pieces.size()));
    std::uniform_int_distribution<int> byteOf(0, 255);
    for (int round = 0; round < 2000; ++round) {
        QByteArray bytes;
        for (int i = lengthOf(random); i > 0; --i) {
            const int pick = pieceOf(random);
            bytes += pick < static_cast<int>(pieces.size()) ? pieces[pick] : QByteArray(1, char(byteOf(random)));
        }
        const QString document = DecodeFetchedText(bytes);
        const std::optional<QString> element = ManifestElement(document, QStringLiteral("ver"));
        const std::optional<QString> version = ManifestVersion(document);
        ASSERT_EQ(version.has_value(), element && !element->isEmpty()) << bytes.toHex().toStdString();
        if (version) {
            ASSERT_FALSE(version->contains(u' '));
            ASSERT_TRUE(element->startsWith(*version));
        }
        const std::optional<QStringList> names = ManifestFileNames(document);
        const std::optional<QString> files = ManifestElement(document, QStringLiteral("file"));
        ASSERT_EQ(names.has_value(), files.has_value());
        if (names)
            ASSERT_EQ(names->join(QStringLiteral("<br>")), *files) << bytes.toHex().toStdString();
        ManifestUpdaterVersion(document);
        if (version)
            ASSERT_EQ(CompareVersionText(*version, *version), VersionOrder::Equal);
    }

    const QString huge = QStringLiteral("<ver>") + QString(8 * 1024 * 1024, u'9') + QStringLiteral(" x</ver><file>") +
                         QStringLiteral("f<br>").repeated(200000) + QStringLiteral("</file>");
    EXPECT_EQ(ManifestVersion(huge)->size(), 8 * 1024 * 1024);
    EXPECT_EQ(ManifestFileNames(huge)->size(), 200001);
    EXPECT_EQ(CompareVersionText(*ManifestVersion(huge), *ManifestVersion(huge) + u'0'), VersionOrder::Less);
}

}  // namespace
}  // namespace tarnwick::test
