// The stage every fault case plays on: installed 0.3 with two product files, a local site that
// publishes 0.4 with both files, and the checks that must hold whatever the fault did.
#pragma once

#include "support/WindowHarness.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMap>
#include <QString>

#include <chrono>
#include <memory>

namespace tarnwick::test {

// Short, so that time-out cases end quickly; every hang check below is a few of these.
inline constexpr std::chrono::milliseconds kFaultTimeout{1000};

inline const QString kManifestPath = QStringLiteral("/updater/0.3/check.update");
inline const QString kExePath = QStringLiteral("/updater/0.3/Tarnwick.exe");
inline const QString kReadmePath = QStringLiteral("/updater/0.3/readme.txt");

class FaultScene {
public:
    // newUpdater is what the manifest announces; above "0.2" start-up gives the notice.
    explicit FaultScene(const QString& newUpdater = QStringLiteral("0.2"));

    TestServer& Server() { return *m_server; }
    TempAppFolder& Folder() { return m_folder; }
    WindowHarness& Harness() { return *m_harness; }
    FrmMainUpdater& Window() { return m_harness->Window(); }

    // Preferences.ini (0.3, English), the old Tarnwick.exe and readme.txt; then a snapshot.
    void WriteInstalledFiles();

    // Builds the window against the local site, or against another address.
    WindowHarness& MakeHarness(const QString& siteUrl = QString());
    // Remembers every file of the application folder as it is now.
    void TakeSnapshot() { m_before = m_folder.Snapshot(); }
    // Stops the server for good: its port refuses connections from now on.
    void StopServer() { m_server.reset(); }

    // Start-up, then the check run: true when the list holds the manifest's files, all "Valid".
    bool ReachDownloadPage();
    // The download of Tarnwick.exe failed and readme.txt arrived: one message, the closing
    // buttons, the old Tarnwick.exe byte for byte.
    void ExpectExeFailedReadmeDone();

    // Every file as it was at the snapshot except those given with their new bytes, and no
    // file besides (a temporary file left behind shows up here).
    void ExpectFolderAsBefore(const QMap<QString, QByteArray>& replaced = {}) const;

    static QByteArray OldExe() { return QByteArray(4096, 'o'); }
    static QByteArray NewExe() { return QByteArray(6000, 'n'); }
    static QByteArray OldReadme() { return "old readme"; }
    static QByteArray NewReadme() { return "new readme, longer than the old one"; }

private:
    std::unique_ptr<TestServer> m_server;
    TempAppFolder m_folder;
    std::unique_ptr<WindowHarness> m_harness;
    QMap<QString, QByteArray> m_before;
};

inline const QString kDownloadErrorText = QStringLiteral(
    "An error has occured while downloading or saving the file.\r\nBe sure Tarnwick is closed.\r\n\r\nTry again later!");

// One download error message per failed file, each exactly as the user sees it.
void ExpectDownloadMessages(WindowHarness& harness, size_t count);

// The check page after a failed check run: Next enabled, no message, nothing listed.
void ExpectCheckPageAfterFailure(WindowHarness& harness);
// The welcome page, shown, with no notice given and the browser untouched.
void ExpectWelcomePageWithoutNotice(WindowHarness& harness);

// Noise from a fixed seed, so that a failure can be replayed.
QByteArray RandomBytes(qsizetype size);

// A loopback address where nothing listens: a port taken and given back at once.
QString ClosedSiteUrl();

// Milliseconds since construction, for the checks that a fault never hangs the updater.
class Stopwatch {
public:
    Stopwatch() { m_timer.start(); }
    qint64 Ms() const { return m_timer.elapsed(); }

private:
    QElapsedTimer m_timer;
};

}  // namespace tarnwick::test
