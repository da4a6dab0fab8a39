// Preferences.ini and the language file as a user's disk may hold them: gone, empty, noise,
// enormous, a folder, a pipe, unreadable. The updater reads what it can and never writes either.
#include "faults/FaultScene.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <vector>

namespace tarnwick::test {
namespace {

struct Damage {
    const char* name;
    // Puts the damaged file at the path; `intact` is what a sound file would hold.
    std::function<void(TempAppFolder&, const QString& relative, const QByteArray& intact)> make;
};

std::vector<Damage> Damages()
{
    return {
        {"missing", [](TempAppFolder& folder, const QString& relative, const QByteArray&) {
             QFile::remove(folder.FilePath(relative));
         }},
        {"empty", [](TempAppFolder& folder, const QString& relative, const QByteArray&) {
             folder.Write(relative, QByteArray());
         }},
        {"binary garbage", [](TempAppFolder& folder, const QString& relative, const QByteArray&) {
             folder.Write(relative, RandomBytes(8192));
         }},
        // The real settings come after ten MiB of another section, so they must still be found.
        {"10 MiB long", [](TempAppFolder& folder, const QString& relative, const QByteArray& intact) {
             QByteArray filler = "[Filler]\r\n";
             const QByteArray line = "Key=" + QByteArray(1000, 'v') + "\r\n";
             while (filler.size() < 10 * 1024 * 1024)
                 filler += line;
             folder.Write(relative, filler + intact);
         }},
        {"a folder", [](TempAppFolder& folder, const QString& relative, const QByteArray&) {
             QFile::remove(folder.FilePath(relative));
             QDir().mkpath(folder.FilePath(relative));
         }},
        // Reading a pipe waits for a writer that never comes.
        {"a named pipe", [](TempAppFolder& folder, const QString& relative, const QByteArray&) {
             QFile::remove(folder.FilePath(relative));
             ::mkfifo(QFile::encodeName(folder.FilePath(relative)).constData(), 0600);
         }},
        {"mode 000", [](TempAppFolder& folder, const QString& relative, const QByteArray& intact) {
             folder.Write(relative, intact);
             QFile::setPermissions(folder.FilePath(relative), {});
         }},
    };
}

// Whether the damaged file still holds its sound settings where they can be read. Root reads a
// mode-000 file anyway, so that case is decided by trying, not by the permission bits.
bool SettingsReadable(const TempAppFolder& folder, const QString& relative, const QByteArray& intact)
{
    QFile file(folder.FilePath(relative));
    return QFileInfo(file).isFile() && file.open(QIODevice::ReadOnly) && file.readAll().contains(intact);
}

void ServeNewVersionFor(TestServer& server, const QString& installed)
{
    server.Put(QStringLiteral("/updater/%1/check.update").arg(installed), Manifest(QStringLiteral("9.9"), {}));
}

// Guards against damaged preferences stopping the updater, crashing it or being written to:
// start-up goes on with an empty version wherever the file cannot be read, and the check run
// asks the site for that version.
TEST(DamagedSettings, PreferencesThatCannotBeReadGiveAnEmptyVersion)
{
    const QString prefs = QStringLiteral("Preferences.ini");
    for (const Damage& damage : Damages()) {
        SCOPED_TRACE(damage.name);
        FaultScene scene;
        const QByteArray intact = "[Settings]\r\nVersion=0.3\r\nLang=English\r\n";
        damage.make(scene.Folder(), prefs, intact);
        scene.TakeSnapshot();
        const QString version = SettingsReadable(scene.Folder(), prefs, intact) ? QStringLiteral("0.3") : QString();
        ServeNewVersionFor(scene.Server(), version);

        WindowHarness& harness = scene.MakeHarness();
        ASSERT_EQ(harness.StartUp(), StartUpResult::ShowWindow);
        ExpectWelcomePageWithoutNotice(harness);
        EXPECT_EQ(Caption(scene.Window().lblOldVersion), version);
        EXPECT_TRUE(Caption(scene.Window().lblWelcome3).endsWith(u' ' + version + u'.'));
        EXPECT_EQ(Caption(scene.Window().lblsErrorDownloading),
                  QStringLiteral("An error has occured while downloading or saving the file."));
        ASSERT_TRUE(harness.RunCheck());
        EXPECT_EQ(Caption(scene.Window().lblVersionExplain), QStringLiteral("New version available:"));
        EXPECT_EQ(Caption(scene.Window().lblNewVersion), QStringLiteral("9.9"));
        EXPECT_TRUE(scene.Server().Requests().contains(QStringLiteral("/updater/%1/check.update").arg(version)));
        scene.ExpectFolderAsBefore();
        EXPECT_EQ(QFileInfo(scene.Folder().FilePath(prefs)).isDir(), QByteArray(damage.name) == "a folder");
    }
}

// Guards against a damaged language file falling back to English, crashing the translation or
// translating the window caption: every translated text is empty where the file cannot be read.
TEST(DamagedSettings, LanguageFileThatCannotBeReadGivesEmptyTexts)
{
    const QString language = QStringLiteral("Lang/Deutsch.ini");
    const QByteArray intact = "[frmMainUpdater]\r\ncmdNext=&Weiter >\r\nlblWelcome=Willkommen 0.3\r\n"
                              "ErrorDownloading=Fehler beim Laden.\r\nVersionExplain=Neue Version:\r\n[General]\r\n";
    for (const Damage& damage : Damages()) {
        SCOPED_TRACE(damage.name);
        FaultScene scene;
        scene.Folder().WritePreferences(QStringLiteral("0.3"), QStringLiteral("Deutsch"));
        scene.Folder().Write(language, intact);
        damage.make(scene.Folder(), language, intact);
        scene.TakeSnapshot();
        const bool readable = SettingsReadable(scene.Folder(), language, intact);
        auto translated = [&](const char* text) { return readable ? QString::fromUtf8(text) : QString(); };
        ServeNewVersionFor(scene.Server(), QStringLiteral("0.3"));

        WindowHarness& harness = scene.MakeHarness();
        ASSERT_EQ(harness.StartUp(), StartUpResult::ShowWindow);
        FrmMainUpdater& w = scene.Window();
        EXPECT_EQ(w.windowTitle(), QStringLiteral("Tarnwick Updater"));
        EXPECT_EQ(Caption(w.cmdNext), translated("&Weiter >"));
        EXPECT_EQ(Caption(w.lblWelcome), translated("Willkommen 0.3"));
        EXPECT_EQ(Caption(w.lblExplain), QString());
        EXPECT_EQ(Caption(w.lblsErrorDownloading), translated("Fehler beim Laden."));
        EXPECT_EQ(Caption(w.lblLanguage), QStringLiteral("Deutsch"));
        ASSERT_TRUE(harness.RunCheck());
        EXPECT_EQ(Caption(w.lblVersionExplain), translated("Neue Version:"));
        EXPECT_TRUE(harness.Messages().shown.empty());
        scene.ExpectFolderAsBefore();
    }
}

}  // namespace
}  // namespace tarnwick::test
