// Builds the real updater window on the offscreen platform against a temporary application
// folder and the local test server, with message boxes and the browser recorded instead of
// shown, and drives it the way a user would.
#pragma once

#include "app/FrmMainUpdater.h"
#include "platform/Browser.h"
#include "platform/MessageBox.h"
#include "support/AppFolderFixture.h"
#include "support/TestServer.h"

#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace tarnwick::test {

struct ShownMessage {
    QString title;
    QString text;
    MessageIcon icon;
};

class RecordingMessageBoxes final : public MessageBoxes {
public:
    void Show(QWidget* parent, const QString& title, const QString& text, MessageIcon icon) override;
    std::vector<ShownMessage> shown;
    // Runs while the "box" is open, as the user's time in front of a real one would.
    std::function<void()> whileOpen;
};

class RecordingBrowser final : public Browser {
public:
    bool Open(const QString& address) override;
    QStringList opened;
    bool succeed = true;
};

class WindowHarness {
public:
    // The window is created at once; start-up is not run.
    WindowHarness(TestServer& server, TempAppFolder& folder,
                  std::chrono::milliseconds requestTimeout = std::chrono::seconds(10));
    // Against any update site address, for sites no local server can stand for (a closed port,
    // a name that does not resolve).
    WindowHarness(const QString& siteUrl, TempAppFolder& folder,
                  std::chrono::milliseconds requestTimeout = std::chrono::seconds(10));

    FrmMainUpdater& Window() { return *m_window; }
    RecordingMessageBoxes& Messages() { return m_messages; }
    RecordingBrowser& Browser() { return m_browser; }
    int EndProgramCalls() const { return m_endProgramCalls; }

    // Runs start-up and, when it asks for it, shows the window.
    StartUpResult StartUp();
    // Next on the welcome page, then waits until the check run has ended (timer stopped).
    // The tick interval is shortened so that tests do not wait 700 ms per step.
    bool RunCheck(std::chrono::milliseconds tick = std::chrono::milliseconds(20),
                  std::chrono::milliseconds deadline = std::chrono::seconds(20));
    // Next on a result page: runs the downloads and the completion step.
    void RunDownloads();

    // Names of the window's controls that are visible now.
    QStringList VisibleControls() const;
    // (text, status) of each list entry, and the keys.
    QStringList ListTexts() const;
    QStringList ListStatuses() const;
    QStringList ListKeys() const;

private:
    RecordingMessageBoxes m_messages;
    RecordingBrowser m_browser;
    QString m_lockFolder;
    int m_endProgramCalls = 0;
    std::unique_ptr<FrmMainUpdater> m_window;
};

// The manifest of the usual test site.
QByteArray Manifest(const QString& version, const QStringList& files, const QString& newUpdater = QStringLiteral("0.2"));

}  // namespace tarnwick::test
