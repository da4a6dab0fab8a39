// Languages through the real window: the captions start-up translates, and the message texts
// of the check, the completion page and the download error, each read by its own rule.
#include "support/PageView.h"
#include "support/SiteContent.h"

#include <QFile>

#include <gtest/gtest.h>

#include <memory>

namespace tarnwick::test {
namespace {

const QStringList kCompleteDutch = {
    "lblWelcome=Welkom...",
    "lblWelcome2=bij Tarnwick Updater.",
    "lblWelcome3=Tarnwick Updater zoekt op internet naar updates voor Tarnwick",
    "lblExplain=Klik op Volgende om te zoeken naar updates.",
    "lblVersionExplain=ontwerp",
    "cmdNext=&Volgende >",
    "cmdCancel=Annuleren",
    "lblOldVersion=mag niet blijven",
    "lblLanguage=mag niet blijven",
    "lblsErrorDownloading=mag niet blijven",
    "ErrorDownloading=Er is een fout opgetreden bij het downloaden of opslaan van het bestand.",
    "ErrorDownloading2=Zorg dat Tarnwick gesloten is.",
    "ErrorDownloading3=Probeer het later opnieuw!",
    "VersionExplain=Nieuwe versie beschikbaar:",
    "VersionExplain2=Versie is actueel!",
    "VersionExplain3=Voltooien",
    "VersionExplain4=Downloaden voltooid!",
    "NextToDownload2=Klik op Voltooien om te sluiten.",
};

class LanguageTest : public ::testing::Test {
protected:
    // Installed 0.3 under the given language, with the site publishing `published`.
    WindowHarness& Start(const QString& language, const QString& published = QStringLiteral("0.3"),
                         const SiteFiles& files = {})
    {
        folder.WritePreferences(QStringLiteral("0.3"), language);
        PublishUpdate(server, QStringLiteral("0.3"), published, files);
        harness = std::make_unique<WindowHarness>(server, folder);
        EXPECT_EQ(harness->StartUp(), StartUpResult::ShowWindow);
        return *harness;
    }

    FrmMainUpdater& W() { return harness->Window(); }

    TestServer server;
    TempAppFolder folder;
    std::unique_ptr<WindowHarness> harness;
};

struct CaptionCase {
    const char* what;
    QStringList windowLines;  // section [frmMainUpdater]; nothing at all: no file
    bool writeFile;
    QString next;
    QString cancel;
    QString welcome;
    QString welcome3;
    QString explain;
};

// Guards caption translation: a missing key empties the caption (no English fall-back), keys
// match in any letter case, long values are cut, a missing file empties everything, and the
// version, language name and carriers written afterwards win over what the file says.
TEST_F(LanguageTest, StartUpTranslatesEveryCaption)
{
    const QString long199 = QString(199, u'x');
    const std::vector<CaptionCase> cases = {
        {"only cmdNext", {"cmdNext=&Volgende >"}, true, "&Volgende >", "", "", " 0.3.", ""},
        {"keys in another letter case", {"CMDNEXT=&Volgende >", "lblwelcome=Welkom...", "LblWelcome3=Tekst"}, true,
         "&Volgende >", "", "Welkom...", "Tekst 0.3.", ""},
        {"value over 199 characters", {"lblExplain=" + QString(250, u'x')}, true, "", "", "", " 0.3.", long199},
        {"missing file", {}, false, "", "", "", " 0.3.", ""},
        {"complete file", kCompleteDutch, true, "&Volgende >", "Annuleren", "Welkom...",
         "Tarnwick Updater zoekt op internet naar updates voor Tarnwick 0.3.",
         "Klik op Volgende om te zoeken naar updates."},
    };
    for (const CaptionCase& c : cases) {
        if (c.writeFile)
            folder.WriteLanguage(QStringLiteral("Nederlands"), c.windowLines);
        Start(QStringLiteral("Nederlands"));
        EXPECT_EQ(Caption(W().cmdNext), c.next) << c.what;
        EXPECT_EQ(Caption(W().cmdCancel), c.cancel) << c.what;
        EXPECT_EQ(Caption(W().lblWelcome), c.welcome) << c.what;
        EXPECT_EQ(Caption(W().lblWelcome3), c.welcome3) << c.what;
        EXPECT_EQ(Caption(W().lblExplain), c.explain) << c.what;
        EXPECT_EQ(Caption(W().lblOldVersion), QStringLiteral("0.3")) << c.what;
        EXPECT_EQ(Caption(W().lblLanguage), QStringLiteral("Nederlands")) << c.what;
        EXPECT_EQ(W().windowTitle(), QStringLiteral("Tarnwick Updater")) << c.what;
        const QString firstErrorLine = c.windowLines == kCompleteDutch
                                           ? QStringLiteral("Er is een fout opgetreden bij het downloaden of opslaan van het bestand.")
                                           : QString();
        EXPECT_EQ(Caption(W().lblsErrorDownloading), firstErrorLine) << c.what;
        harness.reset();
        QFile::remove(folder.FilePath(QStringLiteral("Lang/Nederlands.ini")));
    }
}

// Guards the rule that the check and the completion page read the language afresh each time:
// a change made while the updater runs reaches their texts, while the captions set at
// start-up stay as they were.
TEST_F(LanguageTest, CheckAndCompletionReadTheLanguageAfresh)
{
    folder.WriteLanguage(QStringLiteral("Nederlands"), kCompleteDutch);
    Start(QStringLiteral("English"), QStringLiteral("0.4"), {{QStringLiteral("a.dat"), "a"}});
    folder.WritePreferences(QStringLiteral("0.3"), QStringLiteral("Nederlands"));
    ASSERT_TRUE(harness->RunCheck());
    EXPECT_EQ(Caption(W().lblVersionExplain), QStringLiteral("Nieuwe versie beschikbaar:"));
    EXPECT_EQ(Caption(W().cmdCancel), QStringLiteral("Cancel"));
    EXPECT_EQ(Caption(W().lblWelcome), QStringLiteral("Welcome..."));

    harness->RunDownloads();
    EXPECT_EQ(Caption(W().lblVersionExplain), QStringLiteral("Downloaden voltooid!"));
    EXPECT_EQ(Caption(W().lblNextToDownload), QStringLiteral("Klik op Voltooien om te sluiten."));
    EXPECT_EQ(Caption(W().cmdCancel), QStringLiteral("Voltooien"));
}

// Guards the up-to-date result in another language, and a file without the message keys giving
// empty texts (even on the only button left) rather than the English ones.
TEST_F(LanguageTest, UpToDateTextsComeFromTheLanguageFile)
{
    folder.WriteLanguage(QStringLiteral("Nederlands"), kCompleteDutch);
    Start(QStringLiteral("Nederlands"));
    ASSERT_TRUE(harness->RunCheck());
    EXPECT_EQ(Caption(W().lblVersionExplain), QStringLiteral("Versie is actueel!"));
    EXPECT_EQ(Caption(W().lblNextToDownload), QStringLiteral("Klik op Voltooien om te sluiten."));
    EXPECT_EQ(Caption(W().cmdCancel), QStringLiteral("Voltooien"));
    harness.reset();

    folder.WriteLanguage(QStringLiteral("Nederlands"), {QStringLiteral("cmdCancel=Annuleren")});
    Start(QStringLiteral("Nederlands"));
    ASSERT_TRUE(harness->RunCheck());
    EXPECT_TRUE(W().lblVersionExplain->isVisible());
    EXPECT_EQ(Caption(W().lblVersionExplain), QString());
    EXPECT_EQ(Caption(W().lblNextToDownload), QString());
    EXPECT_EQ(Caption(W().cmdCancel), QString());
}

// Guards the download error message in another language: the texts start-up stored in the
// carriers, line breaks alone when the keys are missing, and the closing caption from the
// carrier rather than from a fresh read.
TEST_F(LanguageTest, DownloadErrorMessageInAnotherLanguage)
{
    folder.WriteLanguage(QStringLiteral("Nederlands"), kCompleteDutch);
    Start(QStringLiteral("Nederlands"), QStringLiteral("0.4"), {{QStringLiteral("a.dat"), "a"}});
    ASSERT_TRUE(harness->RunCheck());
    folder.WriteLanguage(QStringLiteral("Nederlands"), {QStringLiteral("ErrorDownloading=changed too late")});
    server.SetFault(SitePath(QStringLiteral("0.3"), QStringLiteral("a.dat")), Fault::WithStatus(404));
    harness->RunDownloads();
    ASSERT_EQ(harness->Messages().shown.size(), 1u);
    EXPECT_EQ(harness->Messages().shown[0].text,
              QStringLiteral("Er is een fout opgetreden bij het downloaden of opslaan van het bestand.\r\n"
                             "Zorg dat Tarnwick gesloten is.\r\n\r\nProbeer het later opnieuw!"));
    EXPECT_EQ(harness->Messages().shown[0].title, QStringLiteral("Updater"));
    EXPECT_EQ(Caption(W().cmdCancel), QStringLiteral("Voltooien"));
    harness.reset();

    folder.WriteLanguage(QStringLiteral("Nederlands"), {QStringLiteral("cmdNext=&Volgende >")});
    Start(QStringLiteral("Nederlands"), QStringLiteral("0.4"), {{QStringLiteral("a.dat"), "a"}});
    ASSERT_TRUE(harness->RunCheck());
    harness->RunDownloads();  // a.dat still answers 404
    ASSERT_EQ(harness->Messages().shown.size(), 1u);
    EXPECT_EQ(harness->Messages().shown[0].text, QStringLiteral("\r\n\r\n\r\n"));
    EXPECT_EQ(Caption(W().cmdCancel), QString());
    EXPECT_FALSE(W().cmdNext->isVisible());
}

}  // namespace
}  // namespace tarnwick::test
