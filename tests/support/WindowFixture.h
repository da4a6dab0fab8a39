// The one window fixture: the real updater window on Qt's offscreen platform, installed as 0.3
// in a temporary folder, against a local site that publishes 0.4 with two files. Message boxes
// and the browser are recorded instead of shown.
#pragma once

#include "app/FrmMainUpdater.h"
#include "platform/Browser.h"
#include "platform/HttpTransfer.h"
#include "platform/MessageBox.h"
#include "support/AppFolderFixture.h"
#include "support/LocalSite.h"
#include "support/QtPrinters.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <numeric>

namespace tarnwick::test {

using namespace std::chrono_literals;

inline const QString kSite = "/updater/0.3/";  // where installed 0.3 finds its update
inline const QString kManifest = kSite + "check.update";
inline const QByteArray kOldExe(4096, 'o'), kOldReadme = "the old readme, longer than the new one",
                                            kNewReadme = "readme";
// Every byte value in turn, so that any conversion on the way shows.
inline const QByteArray kNewExe = [] {
    QByteArray bytes(70000, Qt::Uninitialized);
    std::iota(bytes.begin(), bytes.end(), char(0));
    return bytes;
}();

inline QByteArray Manifest(const QString& version, const QStringList& files, const QString& newUpdater = "0.2")
{
    return u"<newupdater>%1</newupdater><ver>%2</ver><file>%3</file>"_s.arg(newUpdater, version, files.join("<br>"))
        .toUtf8();
}

// Bytes without repeats of their own, the same on every call: a patch against them must read them.
inline QByteArray Noise(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    std::generate(bytes.begin(), bytes.end(), [n = 7u]() mutable { return char((n = n * 1103515245 + 12345) >> 16); });
    return bytes;
}

inline QByteArray Sha(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// What zstd --patch-from makes of `fresh` against `old`, with these options besides.
inline QByteArray MakePatch(const QByteArray& old, const QByteArray& fresh, const QStringList& options = {})
{
    const QTemporaryDir dir;
    for (const auto& [name, bytes] : {std::pair{"old", old}, std::pair{"new", fresh}})
        if (QFile file(dir.filePath(name)); !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return {};
    QProcess::execute("zstd", options + QStringList{"-qf", "--patch-from=" + dir.filePath("old"), dir.filePath("new"),
                                                    "-o", dir.filePath("patch")});
    QFile patch(dir.filePath("patch"));
    return patch.open(QIODevice::ReadOnly) ? patch.readAll() : QByteArray();
}

// A message box as the user reads it: title, text and icon (1: information, 0: none).
inline QString Box(const QString& text, int icon = 1) { return u"Updater|%1|%2"_s.arg(text).arg(icon); }
inline const QString kErrorBox =
    Box("An error has occured while downloading or saving the file.\r\nBe sure Tarnwick is closed.\r\n\r\nTry again "
        "later!");

class WindowFixture final : public MessageBoxes, public Browser {
public:
    explicit WindowFixture(std::chrono::milliseconds timeout = 10s)
    {
        Install();
        Publish({{"Tarnwick.exe", kNewExe}, {"readme.txt", kNewReadme}});
        setup = {folder.Path(), site.BaseUrl() + "/updater/", "http://www.tarnwick.example/", m_lockFolder.path()};
        setup.messages = this;
        setup.browser = this;
        setup.endProgram = [this] { ++ended; };
        setup.requestTimeout = setup.startUpTimeout = timeout;
    }

    // Installed 0.3 in English with two old files, remembered as the folder's first state.
    void Install()
    {
        folder.WritePreferences("0.3", "English");
        folder.Write("Tarnwick.exe", kOldExe);
        folder.Write("readme.txt", kOldReadme);
        before = folder.Snapshot();
    }

    // Publishes 0.4 listing these files, each with its body.
    void Publish(const QMap<QString, QByteArray>& files)
    {
        for (auto it = files.begin(); it != files.end(); ++it)
            site.Put(kSite + it.key(), it.value());
        site.Put(kManifest, Manifest("0.4 second beta", files.keys()));
    }

    // Publishes as Publish does, listing every file's digest and, for the files in `patches`, a
    // patch against the copy `from`, listed with the patch's own digest and served beside the file.
    struct Patch {
        QByteArray from, patch;
    };
    void PublishChecked(const QMap<QString, QByteArray>& files, const QMap<QString, Patch>& patches = {})
    {
        Publish(files);
        QByteArrayList digests, offers;
        for (auto it = files.begin(); it != files.end(); ++it) {
            const Patch patch = patches.value(it.key());
            digests.append(Sha(it.value()));
            offers.append(patch.patch.isNull() ? QByteArray() : Sha(patch.from) + ' ' + Sha(patch.patch));
            if (!patch.patch.isNull())
                site.Put(kSite + it.key() + ".zst-patch", patch.patch);
        }
        site.Put(kManifest, site.Body(kManifest) + "<patch>" + offers.join("<br>") + "</patch><sha256>" +
                                digests.join("<br>") + "</sha256>");
    }

    // Builds the window, runs start-up and, as the program does, shows the window when asked;
    // active, so that keys and shortcuts reach it as on a desktop.
    StartUpResult StartUp()
    {
        m_window = std::make_unique<FrmMainUpdater>(setup);
        if (!authorities.isEmpty())
            for (HttpTransfer* transfer : {m_window->inetCheckUpdate, m_window->iDownload})
                transfer->SetAuthorities(authorities);
        const StartUpResult result = m_window->RunStartUp();
        if (result == StartUpResult::ShowWindow) {
            m_window->show();
            m_window->activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
        }
        return result;
    }

    // Next (or `press`) on the welcome page with quick ticks (or the window's own); true once the
    // check run ended within five seconds. A mnemonic presses its button a moment later.
    bool RunCheck(const std::function<void()>& press = {}, bool ownTicks = false)
    {
        Window().tmrCheckUpdate->setInterval(ownTicks ? Window().tmrCheckUpdate->interval() : 20);
        press ? press() : Window().cmdNext->click();
        return QTest::qWaitFor(
            [&] { return !Window().pbStatusCheck->isHidden() && !Window().tmrCheckUpdate->isActive(); });
    }
    bool ReachCheckResult() { return StartUp() == StartUpResult::ShowWindow && RunCheck(); }
    void RunDownloads() { Window().cmdNext->click(); }
    FrmMainUpdater& Window() { return *m_window; }

    QStringList Statuses() const
    {
        QStringList statuses;
        for (int i = 0; i < m_window->lDownload->ItemCount(); ++i)
            statuses.append(DownloadList::Status(m_window->lDownload->Item(i)));
        return statuses;
    }

    // The paths the site was asked for from the from-th request on, without kSite, in sorted
    // order: files fetched ahead are asked for side by side.
    QString Requested(qsizetype from = 0) const
    {
        QStringList paths = site.requests.mid(from);
        paths.replaceInStrings(kSite, "");
        paths.sort();
        return paths.join(' ');
    }

    // What the page shows below the welcome texts and the line: each visible control in the
    // window's order, by its caption when it has one and by its name when not.
    QString Page() const
    {
        QStringList shown;
        for (QObject* control : m_window->Controls())
            if (auto* w = qobject_cast<QWidget*>(control);
                w && w->isVisible() && w->y() > m_window->lblWelcome3->y() && w != m_window->Line1)
                shown.append(HasCaption(w) ? Caption(w) : w->objectName());
        return shown.join('|');
    }

    // Every file as installed but for `changed`, and no file besides (a temporary file left
    // behind shows here).
    void ExpectFolder(const QMap<QString, QByteArray>& changed = {}) const
    {
        QMap<QString, QByteArray> expected = before;
        expected.insert(changed);
        EXPECT_EQ(folder.Snapshot(), expected) << "files now: " << folder.Snapshot().keys().join(' ').toStdString();
    }

    // A real box runs an event loop while it is open: queued notifications arrive then.
    void Show(QWidget*, const QString& title, const QString& text, MessageIcon icon) override
    {
        messages.append(title + '|' + text + '|' + QString::number(int(icon)));
        if (whileOpen)
            whileOpen();
        QCoreApplication::processEvents();
    }
    bool Open(const QString& address) override
    {
        opened.append(address);
        return browserStarts;
    }

    LocalSite site;
    TempAppFolder folder;
    QMap<QString, QByteArray> before;  // the folder as installed
    UpdaterSetup setup;
    QStringList messages;             // each box shown, as Box() writes it
    std::function<void()> whileOpen;  // runs while a message box is open
    QStringList opened;               // addresses handed to the browser
    bool browserStarts = true;
    int ended = 0;        // how often the program was ended
    QString authorities;  // certificates the window's transfers trust instead of the system's

private:
    QTemporaryDir m_lockFolder;
    std::unique_ptr<FrmMainUpdater> m_window;
};

}  // namespace tarnwick::test
