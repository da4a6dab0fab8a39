// The window as it opens: what shows, where the controls sit, the refusals the pages rely on,
// and the text carriers that no page may ever show.
#include "support/PageView.h"
#include "support/SiteContent.h"

#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace tarnwick::test {
namespace {

// A window started on installed 0.3 against a site that publishes `published`.
struct OpenWindow {
    explicit OpenWindow(const QString& published = QStringLiteral("0.3"), const SiteFiles& files = {})
    {
        folder.WritePreferences(QStringLiteral("0.3"));
        PublishUpdate(server, QStringLiteral("0.3"), published, files);
        harness = std::make_unique<WindowHarness>(server, folder);
        started = harness->StartUp();
    }
    TestServer server;
    TempAppFolder folder;
    std::unique_ptr<WindowHarness> harness;
    StartUpResult started = StartUpResult::EndProgram;
};

// Guards the opening state the pages build on: exactly the welcome controls, a timer that
// does not run, bars and list that refuse what the pages count on them refusing, the fixed
// size and the untranslated caption.
TEST(WindowLayout, OpensOnTheWelcomePage)
{
    OpenWindow open;
    ASSERT_EQ(open.started, StartUpResult::ShowWindow);
    FrmMainUpdater& w = open.harness->Window();

    EXPECT_EQ(ShownNow(*open.harness),
              PageShows({QStringLiteral("lblExplain"), QStringLiteral("cmdNext"), QStringLiteral("cmdCancel")}));
    QStringList shownChildren;
    for (QWidget* child : w.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child->isVisible())
            shownChildren.append(child->objectName());
    shownChildren.sort();
    EXPECT_EQ(shownChildren, ShownNow(*open.harness)) << "a visible widget that is not one of the controls";

    EXPECT_EQ(w.windowTitle(), QStringLiteral("Tarnwick Updater"));
    EXPECT_EQ(w.objectName(), QStringLiteral("frmMainUpdater"));
    EXPECT_EQ(w.size(), QSize(489, 385));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    EXPECT_EQ(w.Tag(), QStringLiteral("1"));

    EXPECT_FALSE(w.tmrCheckUpdate->isActive());
    EXPECT_EQ(w.tmrCheckUpdate->interval(), 700);
    EXPECT_TRUE(w.pbStatusCheck->SetValue(1));
    EXPECT_TRUE(w.pbStatusCheck->SetValue(2));
    EXPECT_FALSE(w.pbStatusCheck->SetValue(3));
    EXPECT_EQ(w.pbStatusCheck->value(), 2);
    EXPECT_EQ(w.pbDownloading->maximum(), 100);
    EXPECT_FALSE(w.pbDownloading->SetValue(101));

    EXPECT_EQ(w.lDownload->columnCount(), 2);
    EXPECT_EQ(w.lDownload->headerItem()->text(0), QStringLiteral("File"));
    EXPECT_EQ(w.lDownload->headerItem()->text(1), QStringLiteral("Status"));
    EXPECT_NE(w.lDownload->AddItem(QStringLiteral("http://h/updater/0.3/a"), QStringLiteral("a")), nullptr);
    EXPECT_EQ(w.lDownload->AddItem(QStringLiteral("http://h/updater/0.3/a"), QStringLiteral("again")), nullptr);
    EXPECT_EQ(w.lDownload->ItemCount(), 1);
}

// Guards the layout table: places and sizes in pixels (15 twips each) and the first focus.
TEST(WindowLayout, ControlsSitWhereTheLayoutPutsThem)
{
    OpenWindow open;
    FrmMainUpdater& w = open.harness->Window();
    const std::vector<std::pair<QWidget*, QRect>> places = {
        {w.cmdNext, {288, 344, 89, 25}},         {w.cmdCancel, {384, 344, 89, 25}},
        {w.lDownload, {192, 152, 281, 137}},     {w.pbStatusCheck, {192, 296, 281, 17}},
        {w.pbDownloading, {192, 296, 281, 17}},  {w.lblExplain, {16, 208, 457, 17}},
        {w.lblWelcome3, {192, 80, 281, 57}},     {w.lblWelcome2, {192, 48, 281, 17}},
        {w.lblNextToDownload, {16, 232, 169, 57}}, {w.lblDownloading, {56, 296, 129, 17}},
        {w.lblsErrorDownloading, {104, 424, 97, 17}}, {w.lblLanguage, {104, 400, 97, 17}},
    };
    for (const auto& [control, rect] : places)
        EXPECT_EQ(control->geometry(), rect) << control->objectName().toStdString();
    EXPECT_EQ(w.lblWelcome->pos(), QPoint(184, 8));
    EXPECT_EQ(w.lblVersionExplain->pos(), QPoint(16, 152));
    EXPECT_EQ(w.lblNewVersion->pos(), QPoint(24, 168));
    EXPECT_EQ(w.Line1->geometry().top(), 328);
    EXPECT_EQ(w.Line1->geometry().left(), 8);
    EXPECT_EQ(w.Line1->geometry().right(), 479);
    EXPECT_TRUE(w.lblWelcome->font().bold());
    EXPECT_DOUBLE_EQ(w.lblWelcome->font().pointSizeF(), 26.25);
    EXPECT_EQ(w.cmdNext->shortcut(), QKeySequence(QStringLiteral("Alt+N")));

    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    EXPECT_EQ(QApplication::focusWidget(), w.cmdNext);
}

// Guards the picture: it is painted on the window (not a control) in the top-left corner and
// leaves the rest of the window's background alone.
TEST(WindowLayout, LogoIsPaintedInTheTopLeftCorner)
{
    OpenWindow open;
    FrmMainUpdater& w = open.harness->Window();
    const QImage shot = w.grab().toImage();
    const QColor background = w.palette().color(QPalette::Window);
    int logoPixels = 0;
    for (int y = 10; y < 130; y += 10)
        for (int x = 10; x < 150; x += 10)
            logoPixels += shot.pixelColor(x, y) != background ? 1 : 0;
    EXPECT_GT(logoPixels, 150) << "little of the logo area differs from the background";
    EXPECT_EQ(shot.pixelColor(170, 145), background);
}

// Guards against any page showing the labels that only store texts.
TEST(WindowLayout, TextCarriersNeverShow)
{
    auto expectHidden = [](const WindowHarness& harness, const char* page) {
        for (const QString& carrier : TextCarriers())
            EXPECT_FALSE(harness.VisibleControls().contains(carrier)) << page << ": " << carrier.toStdString();
    };
    {
        OpenWindow upToDate;
        expectHidden(*upToDate.harness, "welcome");
        ASSERT_TRUE(upToDate.harness->RunCheck());
        expectHidden(*upToDate.harness, "up to date");
    }
    OpenWindow newer(QStringLiteral("0.4"), {{QStringLiteral("a.dat"), "a"}, {QStringLiteral("b.dat"), "b"}});
    ASSERT_TRUE(newer.harness->RunCheck());
    expectHidden(*newer.harness, "new version");
    newer.server.SetFault(SitePath(QStringLiteral("0.3"), QStringLiteral("a.dat")), Fault::WithStatus(404));
    newer.harness->RunDownloads();
    expectHidden(*newer.harness, "download failed");
    DownloadList::SetStatus(newer.harness->Window().lDownload->Item(0), QStringLiteral("Done"));
    newer.harness->Window().FinishDownloads();
    ASSERT_EQ(Caption(newer.harness->Window().lblVersionExplain), QStringLiteral("Downloading complete!"));
    expectHidden(*newer.harness, "completion");
}

}  // namespace
}  // namespace tarnwick::test
