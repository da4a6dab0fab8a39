// Drives the real updater window on Qt's offscreen platform the way a user would (start-up,
// Next, Next) against a local update site, and prints what the benchmarks compare:
//   tarnwick-bench-driver check|download <update site> <application folder> <tick ms>
// The check timer's interval is shortened to <tick ms> so that the timing shows the updater's
// work, not the 700 ms pauses between the check's steps.
#include "app/FrmMainUpdater.h"
#include "driver/ProcessMemory.h"
#include "driver/QuietSeams.h"
#include "settings/Texts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tarnwick::bench {
namespace {

constexpr int kDeadlineMs = 300'000;

double MillisecondsSince(const QElapsedTimer& timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

// Lets the event loop run until the condition holds; false when the deadline passed first.
template <typename Condition>
bool RunUntil(Condition done)
{
    bool expired = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&] { expired = true; });
    deadline.start(kDeadlineMs);
    while (!done() && !expired)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return !expired;
}

int Fail(const char* why)
{
    std::fprintf(stderr, "bench driver: %s\n", why);
    return 1;
}

int Run(bool download, const QString& site, const QString& folder, int tickMs)
{
    CountingMessageBoxes messages;
    RefusingBrowser browser;
    int endProgramCalls = 0;

    UpdaterSetup setup;
    setup.appFolder = folder;
    setup.updateSite = site;
    setup.webSite = QStringLiteral("http://www.tarnwick.example/");
    setup.lockFolder = folder;
    setup.messages = &messages;
    setup.browser = &browser;
    setup.endProgram = [&] { ++endProgramCalls; };

    FrmMainUpdater window(setup);
    if (window.RunStartUp() != StartUpResult::ShowWindow)
        return Fail("start-up ended the program");
    window.show();
    if (!RunUntil([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }))
        return Fail("the window was never exposed");
    QCoreApplication::processEvents();
    std::printf("welcome_kib=%ld\n", PeakResidentKiB());

    window.tmrCheckUpdate->setInterval(tickMs);
    QElapsedTimer check;
    check.start();
    window.cmdNext->click();
    if (!RunUntil([&] { return !window.tmrCheckUpdate->isActive(); }))
        return Fail("the check run did not end");
    std::printf("check_ms=%.3f\n", MillisecondsSince(check));
    if (!window.cmdNext->isVisible() || !window.cmdNext->isEnabled() || window.lDownload->ItemCount() == 0)
        return Fail("the check did not offer a new version");
    std::printf("items=%d\n", window.lDownload->ItemCount());

    if (download) {
        QElapsedTimer downloads;
        downloads.start();
        window.cmdNext->click();  // returns once the queue and the completion step have run
        std::printf("download_ms=%.3f\n", MillisecondsSince(downloads));
        const int done = window.lDownload->CountWithStatus(QString::fromLatin1(status::kDone));
        std::printf("done=%d\n", done);
        if (done != window.lDownload->ItemCount() || messages.shown != 0)
            return Fail("not every file was downloaded");
    }
    std::printf("peak_kib=%ld\n", PeakResidentKiB());
    if (endProgramCalls != 0 || browser.opened != 0)
        return Fail("the program asked to end");
    return 0;
}

}  // namespace
}  // namespace tarnwick::bench

int main(int argc, char* argv[])
{
    if (argc != 5 || (std::strcmp(argv[1], "check") != 0 && std::strcmp(argv[1], "download") != 0)) {
        std::fprintf(stderr, "usage: %s check|download <update site> <application folder> <tick ms>\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int result = tarnwick::bench::Run(std::strcmp(argv[1], "download") == 0, QString::fromLocal8Bit(argv[2]),
                                            QString::fromLocal8Bit(argv[3]), std::atoi(argv[4]));
    std::fflush(stdout);
    return result;
}
