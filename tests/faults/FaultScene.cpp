#include "faults/FaultScene.h"

#include "platform/SingleInstance.h"

#include <QTcpServer>

#include <gtest/gtest.h>

#include <random>

namespace tarnwick::test {

FaultScene::FaultScene(const QString& newUpdater) : m_server(std::make_unique<TestServer>())
{
    WriteInstalledFiles();
    m_server->Put(kManifestPath, Manifest(QStringLiteral("0.4 second beta"),
                                          {QStringLiteral("Tarnwick.exe"), QStringLiteral("readme.txt")}, newUpdater));
    m_server->Put(kExePath, NewExe());
    m_server->Put(kReadmePath, NewReadme());
}

void FaultScene::WriteInstalledFiles()
{
    m_folder.WritePreferences(QStringLiteral("0.3"), QStringLiteral("English"));
    m_folder.Write(QStringLiteral("Tarnwick.exe"), OldExe());
    m_folder.Write(QStringLiteral("readme.txt"), OldReadme());
    TakeSnapshot();
}

WindowHarness& FaultScene::MakeHarness(const QString& siteUrl)
{
    m_harness = siteUrl.isEmpty() ? std::make_unique<WindowHarness>(*m_server, m_folder, kFaultTimeout)
                                  : std::make_unique<WindowHarness>(siteUrl, m_folder, kFaultTimeout);
    return *m_harness;
}

bool FaultScene::ReachDownloadPage()
{
    WindowHarness& harness = m_harness ? *m_harness : MakeHarness();
    if (harness.StartUp() != StartUpResult::ShowWindow || !harness.RunCheck())
        return false;
    const QStringList statuses = harness.ListStatuses();
    return !statuses.isEmpty() && statuses.count(QStringLiteral("Valid")) == statuses.size();
}

void FaultScene::ExpectExeFailedReadmeDone()
{
    FrmMainUpdater& w = Window();
    EXPECT_EQ(Harness().ListStatuses(), (QStringList{QStringLiteral("Failed"), QStringLiteral("Done")}));
    ExpectDownloadMessages(Harness(), 1);
    EXPECT_FALSE(w.cmdNext->isVisible());
    EXPECT_FALSE(w.pbDownloading->isVisible());
    EXPECT_EQ(Caption(w.cmdCancel), QStringLiteral("Complete"));
    ExpectFolderAsBefore({{QStringLiteral("readme.txt"), NewReadme()}});
}

void FaultScene::ExpectFolderAsBefore(const QMap<QString, QByteArray>& replaced) const
{
    QMap<QString, QByteArray> expected = m_before;
    for (auto it = replaced.begin(); it != replaced.end(); ++it)
        expected.insert(it.key(), it.value());
    QMap<QString, QByteArray> now = m_folder.Snapshot();
    // The harness keeps the single-instance lock in the application folder; it is no product file.
    now.remove(QString::fromLatin1(kInstanceLockName));
    expected.remove(QString::fromLatin1(kInstanceLockName));
    EXPECT_EQ(now.keys().join(u'|').toStdString(), expected.keys().join(u'|').toStdString())
        << "a file appeared or went missing";
    for (auto it = expected.begin(); it != expected.end(); ++it)
        EXPECT_TRUE(now.value(it.key()) == it.value()) << "changed: " << it.key().toStdString();
}

void ExpectDownloadMessages(WindowHarness& harness, size_t count)
{
    const std::vector<ShownMessage>& shown = harness.Messages().shown;
    EXPECT_EQ(shown.size(), count);
    for (const ShownMessage& message : shown) {
        EXPECT_EQ(message.title, QStringLiteral("Updater"));
        EXPECT_EQ(message.text, kDownloadErrorText);
        EXPECT_EQ(message.icon, MessageIcon::Information);
    }
}

void ExpectCheckPageAfterFailure(WindowHarness& harness)
{
    FrmMainUpdater& w = harness.Window();
    EXPECT_EQ(w.Tag(), QStringLiteral("2"));
    EXPECT_FALSE(w.tmrCheckUpdate->isActive());
    EXPECT_TRUE(w.cmdNext->isVisible());
    EXPECT_TRUE(w.cmdNext->isEnabled());
    EXPECT_EQ(Caption(w.cmdCancel), QStringLiteral("Cancel"));
    EXPECT_FALSE(w.lblVersionExplain->isVisible());
    EXPECT_EQ(w.lDownload->ItemCount(), 0);
    EXPECT_TRUE(harness.Messages().shown.empty());
}

void ExpectWelcomePageWithoutNotice(WindowHarness& harness)
{
    EXPECT_EQ(harness.Window().Tag(), QStringLiteral("1"));
    EXPECT_TRUE(harness.Window().isVisible());
    EXPECT_TRUE(harness.Messages().shown.empty());
    EXPECT_TRUE(harness.Browser().opened.isEmpty());
}

QByteArray RandomBytes(qsizetype size)
{
    std::mt19937 generator(20240611);
    std::uniform_int_distribution<int> byte(0, 255);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& c : bytes)
        c = static_cast<char>(byte(generator));
    return bytes;
}

QString ClosedSiteUrl()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return QStringLiteral("http://127.0.0.1:1/updater/");
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1/updater/").arg(port);
}

}  // namespace tarnwick::test
