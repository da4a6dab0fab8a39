// The updater's one window. Its controls are the program's state: hidden labels carry the
// installed version, the language name and the message texts, the Tag is the page key, the
// value of pbStatusCheck counts the check's steps and lDownload is the download queue.
#pragma once

#include "app/Controls.h"
#include "app/UpdaterSetup.h"
#include "download/PartRecord.h"

#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

class QFrame;

namespace tarnwick {

class DiskWork;
class FetchAhead;
class FolderLock;
class GroupCommit;
class HttpTransfer;
class SingleInstanceLock;

enum class StartUpResult { ShowWindow, EndProgram };
enum class NewerUpdaterResult { GoOn, NoticeGiven };

class FrmMainUpdater : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString Tag READ Tag WRITE SetTag)
public:
    explicit FrmMainUpdater(UpdaterSetup setup, QWidget* parent = nullptr);
    ~FrmMainUpdater() override;

    // Runs once before the window is first shown. EndProgram: another updater runs or a newer
    // updater was announced; the window must not be shown.
    StartUpResult RunStartUp();
    // Under built-in English nothing changes. Otherwise every label and button, in the window's
    // order, takes the value stored under its name in section "frmMainUpdater" of the language
    // file, whatever it is (a missing key empties the caption). The window caption stays.
    void ApplyLanguage();
    // When the update site publishes a newer updater: tell the user, open the product web site
    // and report that the program must end.
    NewerUpdaterResult CheckForNewerUpdater(const QString& language);

    // The page flow.
    void cmdNext_Click();
    void cmdCancel_Click();

    // The check run: two steps driven by tmrCheckUpdate, counted by the value of pbStatusCheck.
    // Every end and every failure goes through EndCheckRun, silently.
    void tmrCheckUpdate_Timer();
    void EndCheckRun();

    // The download queue is lDownload itself: each run takes the first "Valid" entry until none
    // is left, then the completion step runs.
    void DownloadNext();
    // True when the whole body was fetched and saved. A busy transfer gives false at once, with
    // no message and no change. Every other failure shows the one download error message,
    // turns the window into its closing state and gives false; the old file stays as it was.
    bool DownloadFile(HttpTransfer& transfer, const QString& url, const QString& folder);
    // The share of "Done" files on pbDownloading and, when every file is "Done", the
    // completion page. Running it again gives the same page.
    void FinishDownloads();
    // A page that can only be closed: the headline and the hint shown, Next hidden and Cancel
    // carrying the closing caption (up to date, and all files downloaded).
    void ShowClosingPage(const QString& headline, const QString& closingCaption, const QString& hint);

    QString Tag() const { return m_tag; }
    void SetTag(const QString& tag) { m_tag = tag; }

    const UpdaterSetup& Setup() const { return m_setup; }
    const QString& AppFolder() const { return m_setup.appFolder; }
    MessageBoxes& Messages() const { return *m_setup.messages; }
    Browser& WebBrowser() const { return *m_setup.browser; }
    bool IsClosing() const { return m_closing; }

    // Every control in the window's order, the way translation walks them.
    const std::vector<QObject*>& Controls() const { return m_controls; }

    // Controls, named as the window holds them.
    ProgressBar* pbDownloading = nullptr;
    ProgressBar* pbStatusCheck = nullptr;
    QTimer* tmrCheckUpdate = nullptr;
    QPushButton* cmdCancel = nullptr;
    QPushButton* cmdNext = nullptr;
    HttpTransfer* inetCheckUpdate = nullptr;
    DownloadList* lDownload = nullptr;
    HttpTransfer* iDownload = nullptr;
    QLabel* lblsVersionExplain3 = nullptr;
    QLabel* lblsErrorDownloading3 = nullptr;
    QLabel* lblsErrorDownloading2 = nullptr;
    QLabel* lblLanguage = nullptr;
    QLabel* lblsErrorDownloading = nullptr;
    QLabel* lblDownloading = nullptr;
    QLabel* lblNextToDownload = nullptr;
    QLabel* lblVersionExplain = nullptr;
    QLabel* lblOldVersion = nullptr;
    QLabel* lblNewVersion = nullptr;
    QLabel* lblExplain = nullptr;
    QFrame* Line1 = nullptr;
    QLabel* lblWelcome3 = nullptr;
    QLabel* lblWelcome2 = nullptr;
    QLabel* lblWelcome = nullptr;

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void Hook(QObject* control, const char* name);
    bool IsAlreadyRunning();
    bool IsFolderTaken();
    void FillTextCarriers(const QString& language);
    void iDownload_StateChanged();
    bool ShowDownloadFailure();
    GroupCommit& GroupFor(const QString& path) const;
    void PutLastFilesInPlace();
    void FetchAheadOf(QTreeWidgetItem* current);

    UpdaterSetup m_setup;
    std::unique_ptr<SingleInstanceLock> m_instanceLock;
    std::unique_ptr<FolderLock> m_folderLock;
    // Hashing installed copies and applying patches, while the window stays responsive.
    DiskWork* m_diskWork = nullptr;
    // Names each file of the update before a part file is made for it, in the folder lock's
    // file; writes nothing until that lock is held, and nothing at all without it.
    PartRecord m_partRecord;
    std::unique_ptr<MessageBoxes> m_ownMessages;
    std::unique_ptr<Browser> m_ownBrowser;
    std::vector<QObject*> m_controls;
    QPixmap m_picture;
    QString m_tag;
    bool m_closing = false;
    bool m_downloadRunActive = false;
    // Files that arrived whole and wait to take their places together, shared by every nested
    // run of the queue, so that files take their places in list order whichever run fetched
    // them. Owned by the window as its child.
    GroupCommit* m_arrivedFiles = nullptr;
    // The installed Preferences.ini, held back until every other file has taken its place, and
    // the entries that wait for it ("Busy..." until then).
    GroupCommit* m_lastFiles = nullptr;
    QList<QTreeWidgetItem*> m_heldItems;
    // The files after the one the queue saves, fetched meanwhile over iDownload's other
    // connections, and taken up in their turn.
    std::unique_ptr<FetchAhead> m_fetchAhead;
};

}  // namespace tarnwick
