// Drives the real updater window on Qt's offscreen platform the way a user would (start-up,
// Next, Next) against a local update site, and prints what the benchmarks compare:
//   tarnwick-bench-driver check|download|manyfiles <update site> <application folder> <tick ms> [block]
// The check timer's interval is shortened to <tick ms> so that the timing shows the updater's
// work, not the 700 ms pauses between the check's steps. "manyfiles" downloads like "download"
// and also reports, after every <block> finished files (default 2,000), how long that block
// took (wall and CPU time) and how much memory is resident, so that a cost growing with each
// file shows as later blocks slower or larger than the first.
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
#include <ctime>
#include <optional>

namespace tarnwick::bench {
namespace {

constexpr int kDeadlineMs = 300'000;

double MillisecondsSince(const QElapsedTimer& timer) { return static_cast<double>(timer.nsecsElapsed()) / 1e6; }

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

enum class Mode { Check, Download, ManyFiles };

// CPU time of every thread of the process (Qt's HTTP thread included). Unlike the wall time it
// hardly moves with the other work on the machine, so a per-file cost that grows shows in it
// even when the disk's flushes make the wall time of a block vary severalfold.
double ProcessCpuMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Prints one line per <block> files that left "Busy..." for "Done" or "Failed". It listens to
// the list's own change notice, so the count costs nothing per file and never walks the list.
class BlockReporter {
public:
    BlockReporter(DownloadList& list, int block) : m_block(block)
    {
        m_connection =
            QObject::connect(&list, &QTreeWidget::itemChanged, &list, [this](QTreeWidgetItem* item, int column) {
                // The column text, not DownloadList::Status: the item's own copy of the word is
                // updated only after the change notice has been sent.
                if (column == 1 && IsFinished(item->text(1)))
                    Count();
            });
        m_clock.start();
        m_blockCpuStart = ProcessCpuMilliseconds();
    }
    ~BlockReporter() { QObject::disconnect(m_connection); }
    BlockReporter(const BlockReporter&) = delete;
    BlockReporter& operator=(const BlockReporter&) = delete;

private:
    static bool IsFinished(const QString& status)
    {
        return status == QLatin1String(status::kDone) || status == QLatin1String(status::kFailed);
    }

    void Count()
    {
        if (++m_finished % m_block != 0)
            return;
        const qint64 now = m_clock.nsecsElapsed();
        const double cpu = ProcessCpuMilliseconds();
        std::printf("block=%d files=%d block_ms=%.3f cpu_ms=%.3f rss_kib=%ld\n", m_finished / m_block, m_finished,
                    static_cast<double>(now - m_blockStart) / 1e6, cpu - m_blockCpuStart, ResidentKiB());
        m_blockStart = now;
        m_blockCpuStart = cpu;
    }

    QMetaObject::Connection m_connection;
    int m_block;
    int m_finished = 0;
    QElapsedTimer m_clock;
    qint64 m_blockStart = 0;
    double m_blockCpuStart = 0;
};

int Run(Mode mode, const QString& site, const QString& folder, int tickMs, int block)
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

    if (mode != Mode::Check) {
        // Resident memory on the list page, before any file: what per-file growth is measured from.
        QCoreApplication::processEvents();
        std::printf("list_rss_kib=%ld\n", ResidentKiB());
        std::optional<BlockReporter> blocks;
        if (mode == Mode::ManyFiles)
            blocks.emplace(*window.lDownload, block);
        QElapsedTimer downloads;
        downloads.start();
        window.cmdNext->click();  // returns once the queue and the completion step have run
        std::printf("download_ms=%.3f\n", MillisecondsSince(downloads));
        const int done = window.lDownload->CountWithStatus(QString::fromLatin1(status::kDone));
        std::printf("done=%d\n", done);
        if (done != window.lDownload->ItemCount() || messages.shown != 0)
            return Fail("not every file was downloaded");
        std::printf("end_rss_kib=%ld\n", ResidentKiB());
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
    using tarnwick::bench::Mode;
    const std::optional<Mode> mode = argc < 2                                 ? std::nullopt
                                     : std::strcmp(argv[1], "check") == 0     ? std::optional(Mode::Check)
                                     : std::strcmp(argv[1], "download") == 0  ? std::optional(Mode::Download)
                                     : std::strcmp(argv[1], "manyfiles") == 0 ? std::optional(Mode::ManyFiles)
                                                                              : std::nullopt;
    const int block = argc == 6 ? std::atoi(argv[5]) : 2000;
    if (!mode || argc < 5 || argc > 6 || block <= 0) {
        std::fprintf(stderr,
                     "usage: %s check|download|manyfiles <update site> <application folder> <tick ms> [block]\n",
                     argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int result = tarnwick::bench::Run(*mode, QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                                            std::atoi(argv[4]), block);
    std::fflush(stdout);
    return result;
}
