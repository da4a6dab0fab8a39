#include "app/FrmMainUpdater.h"

#include "app/Artwork.h"
#include "download/FetchAhead.h"
#include "download/GroupCommit.h"
#include "platform/Browser.h"
#include "platform/DiskWork.h"
#include "platform/FolderLock.h"
#include "platform/HttpTransfer.h"
#include "platform/MessageBox.h"
#include "platform/SingleInstance.h"
#include "settings/Texts.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPainter>
#include <QScreen>
#include <QShortcut>

namespace tarnwick {
namespace {

QFont WindowFont()
{
    // Asked on every start before the window shows: a lookup, not a list of every family.
    const QString family =
        QFontDatabase::hasFamily(QStringLiteral("Verdana")) ? QStringLiteral("Verdana") : QStringLiteral("DejaVu Sans");
    QFont font(family);
    font.setPointSizeF(8.25);
    return font;
}

QFont BoldFont(const QFont& base, qreal pointSize)
{
    QFont font(base);
    font.setPointSizeF(pointSize);
    font.setBold(true);
    return font;
}

QRect TwipRect(int left, int top, int width, int height)
{
    return QRect(Twips(left), Twips(top), Twips(width), Twips(height));
}

}  // namespace

FrmMainUpdater::FrmMainUpdater(UpdaterSetup setup, QWidget* parent)
    : QWidget(parent),
      m_setup(std::move(setup)),
      m_instanceLock(std::make_unique<SingleInstanceLock>()),
      m_folderLock(std::make_unique<FolderLock>())
{
    setObjectName(QStringLiteral("frmMainUpdater"));
    setWindowTitle(QString::fromLatin1(english::kWindowCaption));
    setFont(WindowFont());
    m_picture = DrawLogoPicture();
    setWindowIcon(DrawWindowIcon());
    setFixedSize(Twips(7335), Twips(5775));
    // Seams left open get the real platform.
    if (!m_setup.messages) {
        m_ownMessages = std::make_unique<QtMessageBoxes>();
        m_setup.messages = m_ownMessages.get();
    }
    if (!m_setup.browser) {
        m_ownBrowser = std::make_unique<DesktopBrowser>();
        m_setup.browser = m_ownBrowser.get();
    }
    if (!m_setup.endProgram)
        m_setup.endProgram = [] { QCoreApplication::exit(0); };
    CreateControls();
    m_diskWork = new DiskWork(this);
    m_arrivedFiles = new GroupCommit(&m_partRecord, true, this);
    m_lastFiles = new GroupCommit(&m_partRecord, false, this);
    m_fetchAhead = std::make_unique<FetchAhead>(*iDownload, &m_partRecord);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

FrmMainUpdater::~FrmMainUpdater()
{
    // Files that arrived whole take their places, but not those kept for the queue's end,
    // while the record of part files and the folder lock are still there.
    m_lastFiles->Discard();
    delete m_lastFiles;
    delete m_arrivedFiles;
}

void FrmMainUpdater::Hook(QObject* control, const char* name)
{
    control->setObjectName(QString::fromLatin1(name));
    m_controls.push_back(control);
}

void FrmMainUpdater::CreateControls()
{
    const QFont font = this->font();
    auto label = [&](const char* name, QRect geometry, const QString& text, bool visible) {
        auto* l = new QLabel(text, this);
        l->setTextFormat(Qt::PlainText);
        l->setWordWrap(true);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        l->setGeometry(geometry);
        l->setVisible(visible);
        Hook(l, name);
        return l;
    };
    auto autoSizeLabel = [&](const char* name, QPoint topLeft, const QString& text) {
        auto* l = new AutoSizeLabel(text, this);
        l->setTextFormat(Qt::PlainText);
        l->move(topLeft);
        l->hide();
        Hook(l, name);
        return l;
    };
    // Controls without a caption are named for screen readers by what they show.
    auto progressBar = [&](const char* name, int max, const char* shows) {
        auto* bar = new ProgressBar(this);
        bar->setAccessibleName(QString::fromLatin1(shows));
        bar->setRange(0, max);
        bar->setValue(0);
        bar->setTextVisible(false);
        bar->setGeometry(TwipRect(2880, 4440, 4215, 255));
        bar->hide();
        Hook(bar, name);
        return bar;
    };
    const QString carrierText = QString::fromLatin1(english::kDesignLabel);

    pbDownloading = progressBar("pbDownloading", 100, "Files downloaded");
    pbStatusCheck = progressBar("pbStatusCheck", 2, "Update check");

    tmrCheckUpdate = new QTimer(this);
    tmrCheckUpdate->setInterval(700);
    Hook(tmrCheckUpdate, "tmrCheckUpdate");

    cmdCancel = new QPushButton(QString::fromLatin1(english::kCancel), this);
    cmdCancel->setGeometry(TwipRect(5760, 5160, 1335, 375));
    // Enter presses whichever of the two buttons has the focus, whatever its caption.
    cmdCancel->setAutoDefault(true);
    Hook(cmdCancel, "cmdCancel");

    cmdNext = new QPushButton(QString::fromLatin1(english::kNext), this);
    cmdNext->setGeometry(TwipRect(4320, 5160, 1335, 375));
    cmdNext->setDefault(true);
    cmdNext->setAutoDefault(true);
    Hook(cmdNext, "cmdNext");

    inetCheckUpdate = new HttpTransfer(QString(), this);
    inetCheckUpdate->SetRequestTimeout(m_setup.requestTimeout);
    Hook(inetCheckUpdate, "inetCheckUpdate");

    lDownload = new DownloadList(this);
    lDownload->setAccessibleName(QStringLiteral("Files of the update"));
    lDownload->setGeometry(TwipRect(2880, 2280, 4215, 2055));
    lDownload->header()->resizeSection(0, Twips(2850));
    lDownload->header()->resizeSection(1, Twips(700));
    lDownload->hide();
    Hook(lDownload, "lDownload");

    iDownload = new HttpTransfer(QString(), this);
    iDownload->SetRequestTimeout(m_setup.requestTimeout);
    // The first file goes over the connection the manifest came by: one handshake, not two.
    iDownload->ShareConnectionsWith(*inetCheckUpdate);
    Hook(iDownload, "iDownload");

    lblsVersionExplain3 = label("lblsVersionExplain3", TwipRect(1560, 7440, 1455, 255), carrierText, false);
    lblsErrorDownloading3 = label("lblsErrorDownloading3", TwipRect(1560, 7080, 1455, 255), carrierText, false);
    lblsErrorDownloading2 = label("lblsErrorDownloading2", TwipRect(1560, 6720, 1455, 255), carrierText, false);
    lblLanguage = label("lblLanguage", TwipRect(1560, 6000, 1455, 255), carrierText, false);
    lblsErrorDownloading = label("lblsErrorDownloading", TwipRect(1560, 6360, 1455, 255), carrierText, false);
    lblDownloading = label("lblDownloading", TwipRect(840, 4440, 1935, 255), QString(), false);
    lblNextToDownload = label("lblNextToDownload", TwipRect(240, 3480, 2535, 855), QString(), false);
    lblNextToDownload->setFont(BoldFont(font, 8.25));
    lblVersionExplain = autoSizeLabel("lblVersionExplain", QPoint(Twips(240), Twips(2280)),
                                      QString::fromLatin1(english::kVersionExplain));
    lblVersionExplain->adjustSize();
    lblOldVersion = label("lblOldVersion", TwipRect(6840, 0, 375, 255), QString(), false);
    lblNewVersion = autoSizeLabel("lblNewVersion", QPoint(Twips(360), Twips(2520)), QString());
    lblNewVersion->setFont(BoldFont(font, 8.25));
    lblNewVersion->resize(Twips(60), Twips(195));
    lblExplain = label("lblExplain", TwipRect(240, 3120, 6855, 255), QString::fromLatin1(english::kExplain), true);
    lblExplain->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblExplain->setFont(BoldFont(font, 8.25));

    Line1 = new QFrame(this);
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Plain);
    Line1->setLineWidth(1);
    Line1->setForegroundRole(QPalette::Dark);
    Line1->setGeometry(Twips(120), Twips(4920), Twips(7200) - Twips(120), 1);
    Hook(Line1, "Line1");

    lblWelcome3 = label("lblWelcome3", TwipRect(2880, 1200, 4215, 855), QString::fromLatin1(english::kWelcome3), true);
    lblWelcome2 = label("lblWelcome2", TwipRect(2880, 720, 4215, 255), QString::fromLatin1(english::kWelcome2), true);
    lblWelcome = autoSizeLabel("lblWelcome", QPoint(Twips(2760), Twips(120)), QString::fromLatin1(english::kWelcome));
    lblWelcome->setFont(BoldFont(font, 26.25));
    lblWelcome->adjustSize();
    lblWelcome->show();

    QWidget::setTabOrder(cmdNext, cmdCancel);
    QWidget::setTabOrder(cmdCancel, lDownload);
    cmdNext->setFocus();

    // Escape leaves the wizard from every page, as Cancel (or its closing caption) does.
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, cmdCancel, &QPushButton::click);
    connect(cmdNext, &QPushButton::clicked, this, &FrmMainUpdater::cmdNext_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &FrmMainUpdater::cmdCancel_Click);
    connect(tmrCheckUpdate, &QTimer::timeout, this, [this] { tmrCheckUpdate_Timer(); });
    connect(iDownload, &HttpTransfer::StateChanged, this, &FrmMainUpdater::iDownload_StateChanged);
}

void FrmMainUpdater::iDownload_StateChanged()
{
    // Whatever the transfer reports, an idle transfer means the queue may take the next file;
    // not while a file's disk work waits, which belongs to the run that goes on after it.
    if (!iDownload->StillExecuting() && !m_diskWork->Running())
        DownloadNext();
}

void FrmMainUpdater::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_picture);
}

void FrmMainUpdater::closeEvent(QCloseEvent* event)
{
    // The title bar's close button ends the program the way Cancel does.
    if (!m_closing)
        cmdCancel_Click();
    event->accept();
}

}  // namespace tarnwick
