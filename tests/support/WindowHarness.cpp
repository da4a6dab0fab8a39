#include "support/WindowHarness.h"

#include <QTest>

namespace tarnwick::test {

void RecordingMessageBoxes::Show(QWidget*, const QString& title, const QString& text, MessageIcon icon)
{
    shown.push_back({title, text, icon});
    if (whileOpen)
        whileOpen();
}

bool RecordingBrowser::Open(const QString& address)
{
    opened.append(address);
    return succeed;
}

WindowHarness::WindowHarness(TestServer& server, TempAppFolder& folder, std::chrono::milliseconds requestTimeout)
    : WindowHarness(server.SiteUrl(), folder, requestTimeout)
{
}

WindowHarness::WindowHarness(const QString& siteUrl, TempAppFolder& folder, std::chrono::milliseconds requestTimeout)
    : m_lockFolder(folder.Path())
{
    UpdaterSetup setup;
    setup.appFolder = folder.Path();
    setup.updateSite = siteUrl;
    setup.webSite = QStringLiteral("http://www.tarnwick.example/");
    // The lock lives in the test's own folder so that tests never see each other's windows.
    setup.lockFolder = m_lockFolder;
    setup.messages = &m_messages;
    setup.browser = &m_browser;
    setup.endProgram = [this] { ++m_endProgramCalls; };
    setup.requestTimeout = requestTimeout;
    m_window = std::make_unique<FrmMainUpdater>(setup);
}

StartUpResult WindowHarness::StartUp()
{
    const StartUpResult result = m_window->RunStartUp();
    if (result == StartUpResult::ShowWindow)
        m_window->show();
    return result;
}

bool WindowHarness::RunCheck(std::chrono::milliseconds tick, std::chrono::milliseconds deadline)
{
    m_window->tmrCheckUpdate->setInterval(static_cast<int>(tick.count()));
    m_window->cmdNext->click();
    return QTest::qWaitFor([&] { return !m_window->tmrCheckUpdate->isActive(); },
                           static_cast<int>(deadline.count()));
}

void WindowHarness::RunDownloads()
{
    m_window->cmdNext->click();
}

QStringList WindowHarness::VisibleControls() const
{
    QStringList names;
    for (QObject* control : m_window->Controls()) {
        if (auto* widget = qobject_cast<QWidget*>(control); widget && widget->isVisible())
            names.append(widget->objectName());
    }
    return names;
}

QStringList WindowHarness::ListTexts() const
{
    QStringList texts;
    for (int i = 0; i < m_window->lDownload->ItemCount(); ++i)
        texts.append(m_window->lDownload->Item(i)->text(0));
    return texts;
}

QStringList WindowHarness::ListStatuses() const
{
    QStringList statuses;
    for (int i = 0; i < m_window->lDownload->ItemCount(); ++i)
        statuses.append(DownloadList::Status(m_window->lDownload->Item(i)));
    return statuses;
}

QStringList WindowHarness::ListKeys() const
{
    QStringList keys;
    for (int i = 0; i < m_window->lDownload->ItemCount(); ++i)
        keys.append(DownloadList::Key(m_window->lDownload->Item(i)));
    return keys;
}

QByteArray Manifest(const QString& version, const QStringList& files, const QString& newUpdater)
{
    return QStringLiteral("<newupdater>%1</newupdater>\r\n<ver>%2</ver>\r\n<file>%3</file>\r\n")
        .arg(newUpdater, version, files.join(QStringLiteral("<br>")))
        .toUtf8();
}

}  // namespace tarnwick::test
