// Start-up through the real window: the captions it leaves for each kind of preferences file,
// the address it asks the site for, and the single-instance rule.
#include "support/PageView.h"
#include "support/SiteContent.h"

#include <QMap>

#include <gtest/gtest.h>

#include <memory>

namespace tarnwick::test {
namespace {

using Captions = QMap<QString, QString>;

// Every caption of the window, by control name.
Captions CaptionsOf(const FrmMainUpdater& window)
{
    Captions captions;
    for (QObject* control : window.Controls())
        if (HasCaption(control))
            captions.insert(control->objectName(), Caption(control));
    return captions;
}

// What start-up leaves under built-in English: the design captions, the welcome line with the
// version, and the English message texts in the carriers.
Captions EnglishCaptions(const QString& version, const QString& language)
{
    return {
        {"lblWelcome", "Welcome..."},
        {"lblWelcome2", "to Tarnwick Updater."},
        {"lblWelcome3", "Tarnwick Updater will use the internet to check for updates for Tarnwick " + version + "."},
        {"lblExplain", "Click Next to check if there are any updates available."},
        {"lblVersionExplain", "New version available:"},
        {"lblNewVersion", ""},
        {"lblNextToDownload", ""},
        {"lblDownloading", ""},
        {"cmdNext", "&Next >"},
        {"cmdCancel", "Cancel"},
        {"lblOldVersion", version},
        {"lblLanguage", language},
        {"lblsErrorDownloading", "An error has occured while downloading or saving the file."},
        {"lblsErrorDownloading2", "Be sure Tarnwick is closed."},
        {"lblsErrorDownloading3", "Try again later!"},
        {"lblsVersionExplain3", "Complete"},
    };
}

// What start-up leaves under a language whose file is missing: every caption empty but for the
// version and the language name it writes itself.
Captions EmptyCaptions(const QString& version, const QString& language)
{
    Captions captions = EnglishCaptions(version, language);
    for (QString& caption : captions)
        caption.clear();
    captions["lblWelcome3"] = u' ' + version + u'.';
    captions["lblOldVersion"] = version;
    captions["lblLanguage"] = language;
    return captions;
}

struct StartCase {
    const char* what;
    std::optional<QByteArray> preferences;  // nothing: no Preferences.ini at all
    QString manifestPath;                   // the address start-up asks the site for
    Captions captions;
};

// Guards the captions start-up writes for each kind of preferences file: the language choice
// (only "" and exactly "English" are built in), the welcome line with the version, the
// carriers, and the installed version used verbatim in the manifest's address.
TEST(StartUp, CaptionsForEachPreferencesFile)
{
    const std::vector<StartCase> cases = {
        {"no Preferences.ini", std::nullopt, "/updater//check.update", EnglishCaptions("", "")},
        {"Lang=English", "[Settings]\r\nLang=English\r\nVersion=0.3\r\n", "/updater/0.3/check.update",
         EnglishCaptions("0.3", "English")},
        {"Lang empty", "[Settings]\r\nLang=\r\nVersion=0.3\r\n", "/updater/0.3/check.update", EnglishCaptions("0.3", "")},
        {"Lang missing", "[Settings]\r\nVersion=0.3\r\n", "/updater/0.3/check.update", EnglishCaptions("0.3", "")},
        {"Lang=english and no such file", "[Settings]\r\nLang=english\r\nVersion=0.3\r\n", "/updater/0.3/check.update",
         EmptyCaptions("0.3", "english")},
        {"Lang=\"English \" is a language of its own", "[Settings]\r\nLang=\"English \"\r\nVersion=0.3\r\n",
         "/updater/0.3/check.update", EmptyCaptions("0.3", "English ")},
        {"empty version", "[Settings]\r\nLang=English\r\nVersion=\r\n", "/updater//check.update",
         EnglishCaptions("", "English")},
        {"version with a blank, quoted", "[settings]\r\nversion=\"0.3 beta\"\r\n", "/updater/0.3 beta/check.update",
         EnglishCaptions("0.3 beta", "")},
    };
    for (const StartCase& c : cases) {
        TestServer server;
        TempAppFolder folder;
        if (c.preferences)
            folder.Write(QStringLiteral("Preferences.ini"), *c.preferences);
        WindowHarness harness(server, folder);
        ASSERT_EQ(harness.StartUp(), StartUpResult::ShowWindow) << c.what;
        FrmMainUpdater& w = harness.Window();
        EXPECT_EQ(CaptionsOf(w), c.captions) << c.what;
        EXPECT_EQ(w.windowTitle(), QStringLiteral("Tarnwick Updater")) << c.what;
        EXPECT_EQ(w.Tag(), QStringLiteral("1")) << c.what;
        EXPECT_TRUE(w.isVisible()) << c.what;
        EXPECT_EQ(ShownNow(harness),
                  PageShows({QStringLiteral("lblExplain"), QStringLiteral("cmdNext"), QStringLiteral("cmdCancel")}))
            << c.what;
        EXPECT_EQ(server.Requests(), QStringList{c.manifestPath}) << c.what;
        EXPECT_TRUE(harness.Messages().shown.empty()) << c.what;
    }
}

// Guards the single-instance rule inside one process: a second window on the same lock ends
// at once without showing or fetching anything, and the lock is free again once the first
// window is gone.
TEST(StartUp, SecondUpdaterOnTheSameLockEnds)
{
    TestServer server;
    TempAppFolder folder;
    folder.WritePreferences(QStringLiteral("0.3"));
    server.Put(ManifestPath(QStringLiteral("0.3")), Manifest(QStringLiteral("0.3"), {}));
    auto first = std::make_unique<WindowHarness>(server, folder);
    ASSERT_EQ(first->StartUp(), StartUpResult::ShowWindow);
    const int requestsOfFirst = static_cast<int>(server.Requests().size());

    WindowHarness second(server, folder);
    EXPECT_EQ(second.StartUp(), StartUpResult::EndProgram);
    EXPECT_FALSE(second.Window().isVisible());
    EXPECT_EQ(server.Requests().size(), requestsOfFirst);
    EXPECT_EQ(Caption(second.Window().lblOldVersion), QString()) << "start-up went on after the lock";
    EXPECT_TRUE(first->Window().isVisible());

    first.reset();
    WindowHarness third(server, folder);
    EXPECT_EQ(third.StartUp(), StartUpResult::ShowWindow);
}

}  // namespace
}  // namespace tarnwick::test
