// Downloads that fail, through the real window and the local site: one message per failed file,
// the closing state of the window, and no product file damaged or left over.
#include "download/DownloadRoadFixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <functional>
#include <optional>

namespace tarnwick::test {
namespace {

struct FailureCase {
    const char* what;
    QString name;                             // the failing file, as the manifest lists it
    std::function<void(TempAppFolder&)> prepare;
    std::optional<Fault> fault;               // on the failing file's path
    QStringList mustNotExist;                 // paths relative to the application folder
};

// Guards the failure path for every cause: the status, the one exact message, the closing
// state, the file it would have replaced intact, no temporary or new folder left, nothing
// written outside the application folder; and the queue going on with the next file.
TEST(DownloadFailure, EachCauseFailsOnlyItsFile)
{
    const QString outside = QStringLiteral("tarnwick-outside-%1.dat").arg(QCoreApplication::applicationPid());
    auto existing = [](const QString& name) {
        return [name](TempAppFolder& folder) { folder.Write(name, "the old bytes of " + name.toUtf8()); };
    };
    const std::vector<FailureCase> cases = {
        {"404", "a.dat", existing("a.dat"), Fault::WithStatus(404), {}},
        {"500", "a.dat", existing("a.dat"), Fault::WithStatus(500), {}},
        {"connection dropped half way", "a.dat", existing("a.dat"), Fault::Drop(), {}},
        {"read-only target",
         "a.dat",
         [](TempAppFolder& folder) {
             folder.Write(QStringLiteral("a.dat"), "read-only bytes");
             QFile::setPermissions(folder.FilePath(QStringLiteral("a.dat")),
                                   QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
         },
         std::nullopt,
         {}},
        {"missing sub-folder", "sub\\x.dat", nullptr, std::nullopt, {"sub", "sub\\x.dat"}},
        {"'..' segment", "..\\" + outside, nullptr, std::nullopt, {"../" + outside}},
        {"'..' inside", "sub\\..\\..\\" + outside, existing("sub/keep.txt"), std::nullopt, {"../" + outside}},
        {"leading backslash", "\\" + outside, nullptr, std::nullopt, {outside}},
        {"name '..'", "..", nullptr, std::nullopt, {}},
        {"name '.'", ".", nullptr, std::nullopt, {}},
        {"URL ending in '/'", "", nullptr, std::nullopt, {}},
        {"control character", "a\tb.dat", nullptr, std::nullopt, {"a\tb.dat"}},
        {"target is a folder", "data", existing("data/inner.txt"), std::nullopt, {}},
    };
    for (const FailureCase& c : cases) {
        DownloadRoad road;
        road.folder.Write(QStringLiteral("keep.txt"), "kept");
        if (c.prepare)
            c.prepare(road.folder);
        ASSERT_NO_FATAL_FAILURE(road.ReachFileList(
            {{c.name, "NEW BYTES THAT MUST NOT LAND"}, {QStringLiteral("good.txt"), "good"}}))
            << c.what;
        if (c.fault)
            road.server.SetFault(road.PathOf(c.name), *c.fault);

        road.harness->RunDownloads();
        EXPECT_EQ(road.harness->ListStatuses(), (QStringList{QStringLiteral("Failed"), QStringLiteral("Done")})) << c.what;
        road.ExpectErrorMessages(1, c.what);
        road.ExpectFailedPage(c.what);
        road.ExpectOnlyChanged({QStringLiteral("good.txt")}, c.what);
        EXPECT_EQ(road.folder.Read(QStringLiteral("good.txt")), QByteArray("good")) << c.what;
        for (const QString& path : c.mustNotExist)
            EXPECT_FALSE(QFileInfo::exists(road.folder.FilePath(path))) << c.what << ": " << path.toStdString();
        EXPECT_EQ(road.Window().pbDownloading->maximum(), 2) << c.what;
        EXPECT_EQ(road.Window().pbDownloading->value(), 1) << c.what;
    }
    EXPECT_FALSE(QFileInfo::exists(QDir::temp().filePath(outside)));
}

// Guards a run with two failures: a message for each, and the closing state already in place
// when the second one shows.
TEST(DownloadFailure, TwoFailingFilesGiveTwoMessages)
{
    DownloadRoad road;
    ASSERT_NO_FATAL_FAILURE(road.ReachFileList(
        {{QStringLiteral("a.dat"), "a"}, {QStringLiteral("b.dat"), "b"}, {QStringLiteral("c.dat"), "c"}}));
    road.server.SetFault(road.PathOf(QStringLiteral("a.dat")), Fault::WithStatus(404));
    road.server.SetFault(road.PathOf(QStringLiteral("b.dat")), Fault::Drop());
    FrmMainUpdater& w = road.Window();
    QList<bool> nextOrBarShownWhileOpen;
    road.harness->Messages().whileOpen = [&] {
        nextOrBarShownWhileOpen.append(w.cmdNext->isVisible() || w.pbDownloading->isVisible());
    };

    road.harness->RunDownloads();
    EXPECT_EQ(road.harness->ListStatuses(),
              (QStringList{QStringLiteral("Failed"), QStringLiteral("Failed"), QStringLiteral("Done")}));
    road.ExpectErrorMessages(2);
    EXPECT_EQ(nextOrBarShownWhileOpen, (QList<bool>{true, false}));
    road.ExpectFailedPage();
    road.ExpectOnlyChanged({QStringLiteral("c.dat")});
    EXPECT_EQ(road.server.Requests(), (QStringList{road.PathOf(QStringLiteral("a.dat")),
                                                   road.PathOf(QStringLiteral("b.dat")),
                                                   road.PathOf(QStringLiteral("c.dat"))}));
    EXPECT_EQ(w.pbDownloading->maximum(), 3);
    EXPECT_EQ(w.pbDownloading->value(), 1);
}

}  // namespace
}  // namespace tarnwick::test
