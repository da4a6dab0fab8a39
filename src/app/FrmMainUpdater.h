// The updater's one window. Its controls are the program's state: hidden labels carry the
// installed version, the language name and the message texts, the Tag is the page key, the
// value of pbStatusCheck counts the check's steps and lDownload is the download queue.
#pragma once

#include "app/Controls.h"
#include "app/UpdaterSetup.h"

#include <QNetworkAccessManager>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

class QFrame;

namespace tarnwick {

class HttpTransfer;
class SingleInstanceLock;

enum class StartUpResult { ShowWindow, EndProgram };

class FrmMainUpdater : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString Tag READ Tag WRITE SetTag)
public:
    explicit FrmMainUpdater(UpdaterSetup setup, QWidget* parent = nullptr);
    ~FrmMainUpdater() override;

    // Runs once before the window is first shown. EndProgram: another updater runs or a newer
    // updater was announced; the window must not be shown.
    StartUpResult RunStartUp();

    // The page flow.
    void cmdNext_Click();
    void cmdCancel_Click();
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
    void FillTextCarriers(const QString& language);
    void iDownload_StateChanged();

    UpdaterSetup m_setup;
    QNetworkAccessManager m_network;
    std::unique_ptr<SingleInstanceLock> m_instanceLock;
    std::unique_ptr<MessageBoxes> m_ownMessages;
    std::unique_ptr<Browser> m_ownBrowser;
    std::vector<QObject*> m_controls;
    QPixmap m_picture;
    QString m_tag;
    bool m_closing = false;
    bool m_downloadRunActive = false;
};

}  // namespace tarnwick
