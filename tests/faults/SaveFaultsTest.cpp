// Faults on the receiving side of a download: the file to replace, the folder, the disk under
// it, and a device that refuses writes.
#include "download/PartFile.h"
#include "download/Patch.h"
#include "platform/HttpTransfer.h"
#include "support/WindowFixture.h"

#include <thread>

#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

// Flushes that fail, as a failing disk's do: defined here, they stand in for the C library's
// for the updater's code linked into this test.
static bool g_flushFails = false;
template <typename Call>
static int Flush(const char* name, int fd)
{
    return g_flushFails ? (errno = EIO, -1) : reinterpret_cast<Call>(dlsym(RTLD_NEXT, name))(fd);
}
extern "C" int fdatasync(int fd) { return Flush<int (*)(int)>("fdatasync", fd); }
extern "C" int syncfs(int fd) { return Flush<int (*)(int)>("syncfs", fd); }
// Another program cutting a file short while the updater reads it mapped: this file is emptied
// once it is mapped for reading.
static QString g_cutMapped;
extern "C" void* mmap(void* at, size_t size, int prot, int flags, int fd, off_t offset)
{
    using Map = void* (*)(void*, size_t, int, int, int, off_t);
    void* mapped = reinterpret_cast<Map>(dlsym(RTLD_NEXT, "mmap"))(at, size, prot, flags, fd, offset);
    if (!g_cutMapped.isEmpty() && fd >= 0 && prot == PROT_READ &&
        QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd)) == g_cutMapped)
        ::truncate(QFile::encodeName(std::exchange(g_cutMapped, {})).constData(), 0);
    return mapped;
}

namespace tarnwick::test {
namespace {

// A 1 MiB tmpfs over the application folder, for the faults only a file system gives: a disk
// that fills up, a folder that refuses writes even to root. Mounting needs root.
struct Tmpfs {
    Tmpfs(WindowFixture& h, qint64 free, bool readOnly, bool patched)
        : path(QFile::encodeName(h.folder.Path())), mounted(::mount("tmpfs", path, "tmpfs", 0, "size=1m") == 0)
    {
        if (!mounted)
            return;  // never fill the disk the folder really lies on
        h.Install();
        // Patched, the program is larger than what is left: its result is given no room.
        const QByteArray exe(patched ? 900000 : 10000, 'n');
        h.PublishChecked({{"Tarnwick.exe", exe}, {"readme.txt", "five!"}, {"Preferences.ini", "[Settings]"}},
                         {{"Tarnwick.exe", {kOldExe, patched ? MakePatch(kOldExe, exe) : QByteArray()}}});
        struct statvfs disk {};
        ::statvfs(path, &disk);
        h.folder.Write("filler", QByteArray(qMax<qint64>(0, disk.f_bavail * disk.f_bsize - free), 'f'));
        if (readOnly)
            ::mount("tmpfs", path, "tmpfs", MS_REMOUNT | MS_RDONLY, "size=1m");
    }
    ~Tmpfs()
    {
        if (mounted)
            ::umount2(path, MNT_DETACH);
    }
    QByteArray path;
    bool mounted;
};

struct Target {
    const char* name;
    std::function<void(WindowFixture&)> prepare;
    QStringList statuses;  // of the listed files, in the list's order
    qint64 diskFree = -1;  // with a tmpfs: the bytes left on it
    bool readOnlyDisk = false;
    bool link = false;     // Tarnwick.exe is a link to a file elsewhere
    int boxes = -1;        // messages shown, when not one per "Failed" file
    bool patched = false;  // with a tmpfs: the program offered as a patch
};
void PrintTo(const Target& target, std::ostream* os) { *os << target.name; }

// Tarnwick.exe as a link to the old file, moved to another folder.
void LinkElsewhere(WindowFixture& h)
{
    static const QTemporaryDir elsewhere;
    QFile::rename(h.folder.FilePath("Tarnwick.exe"), elsewhere.filePath("Tarnwick.exe"));
    QFile::link(elsewhere.filePath("Tarnwick.exe"), h.folder.FilePath("Tarnwick.exe"));
}

// clang-format off
const Target kTargets[] = {
    // The second fetched ahead of its turn: the same refusal holds there.
    {"read-only files",
     [](auto& h) { for (const char* name : {"Tarnwick.exe", "readme.txt"})
                       QFile::setPermissions(h.folder.FilePath(name), QFile::ReadOwner); },
     {"Failed", "Failed"}},
    {"a folder in the file's place",
     [](auto& h) { QFile::remove(h.folder.FilePath("Tarnwick.exe")), h.folder.Write("Tarnwick.exe/in", "in"); },
     {"Failed", "Done"}},
    {"names that would leave the folder, in their turn and ahead of it",
     [](auto& h) { h.Publish({{"..\\escaped", "x"}, {"readme.txt", kNewReadme}, {"z\\..\\..\\escaped", "x"}}); },
     {"Failed", "Done", "Failed"}},
    {"name the file system refuses",
     [](auto& h) { h.Publish({{QString(300, 'a'), "x"}, {"readme.txt", kNewReadme}}); },
     {"Failed", "Done"}},
    // The file the link points to is replaced, and the link stays.
    {"a link to a file elsewhere", LinkElsewhere, {"Done", "Done"}, -1, false, true},
    // No folder lock can be made there: the update runs all the same, and what the lock's name
    // holds (a folder, a link to a file that must not be written) stays as it was.
    {"a folder in the lock file's place", [](auto& h) { QDir(h.folder.Path()).mkdir(kLockFile); }, {"Done", "Done"}},
    {"a link in the lock file's place",
     [](auto& h) { h.folder.Write("kept", "kept"), QFile::link("kept", h.folder.FilePath(kLockFile)); },
     {"Done", "Done"}},
    // Renamed before they are durable, files could be empty or cut after a power loss.
    {"flushes that fail", [](auto&) { g_flushFails = true; }, {"Failed", "Failed"}},
    {"folder that refuses writes", nullptr, {"Failed", "Failed", "Failed"}, 1 << 20, true},
    {"full disk", nullptr, {"Failed", "Failed", "Failed"}, 0},
    // Room for the lock file, the held Preferences.ini and one small file at a time: the
    // program file fails, so Preferences.ini, waiting for every other file, stays old.
    {"12 KiB left", nullptr, {"Failed", "Failed", "Done"}, 12288, false, false, 1},
    // A patch is dropped for the whole file, which fails like any file that has no room.
    {"a patch whose result has no room", nullptr, {"Failed", "Failed", "Done"}, 100 << 10, false, false, 1, true},
    // The installed copy cut short while its patch decodes (read there, as it holds no repeats
    // of its own): the patch is dropped for the whole file.
    {"an installed copy cut short under its patch",
     [](auto& h) { const QByteArray old = Noise(65536);
                   h.folder.Write("Tarnwick.exe", old);
                   h.PublishChecked({{"Tarnwick.exe", old + "new"}, {"readme.txt", kNewReadme}},
                                    {{"Tarnwick.exe", {old, MakePatch(old, old + "new")}}});
                   g_cutMapped = QFileInfo(h.folder.FilePath("Tarnwick.exe")).canonicalFilePath(); },
     {"Done", "Done"}},
};
// clang-format on

class SaveFault : public ::testing::TestWithParam<Target> {
    void TearDown() override { g_flushFails = false, g_cutMapped.clear(); }
};
INSTANTIATE_TEST_SUITE_P(Rows, SaveFault, ::testing::ValuesIn(kTargets));

// Guards the save step: a file that cannot be saved whole is "Failed" with one message each,
// the old file stays byte for byte and no temporary file is left; a name that would leave the
// folder is never fetched; a file saved is saved whole, never empty or cut.
TEST_P(SaveFault, FailedFilesKeepTheOldOnes)
{
    WindowFixture h;
    std::optional<Tmpfs> disk;
    GetParam().prepare ? GetParam().prepare(h)
                       : void(disk.emplace(h, GetParam().diskFree, GetParam().readOnlyDisk, GetParam().patched));
    if (disk && !disk->mounted)
        GTEST_SKIP() << "mounting a tmpfs needs root";
    h.before = h.folder.Snapshot();
    ASSERT_TRUE(h.ReachCheckResult());
    h.RunDownloads();
    ASSERT_EQ(h.Statuses(), GetParam().statuses);
    QMap<QString, QByteArray> saved;
    for (QTreeWidgetItem* item : h.Window().lDownload->findItems("Done", Qt::MatchExactly, 1))
        saved.insert(item->text(0), h.site.Body(kSite + item->text(0)));
    h.ExpectFolder(saved);
    const int boxes = GetParam().boxes < 0 ? int(GetParam().statuses.count("Failed")) : GetParam().boxes;
    EXPECT_EQ(h.messages, QStringList(boxes, kErrorBox));
    EXPECT_FALSE(h.site.requests.join(' ').contains("escaped"));
    qDebug() << h.site.requests;
    EXPECT_EQ(QFileInfo(h.folder.FilePath("Tarnwick.exe")).isSymLink(), GetParam().link);
}

// Guards a write refused half way (a device standing in for a disk that fails): the transfer
// fails rather than reporting success, or Cancelled as if the user had ended it.
TEST(SaveFaults, RefusedWriteFailsTheTransfer)
{
    struct Refusing : QIODevice {
        qint64 readData(char*, qint64) override { return -1; }
        qint64 writeData(const char*, qint64 size) override { return pos() + size > 1000 ? -1 : size; }
    } sink;
    sink.open(QIODevice::WriteOnly);
    LocalSite site;
    site.Put("/f", kNewExe);
    const FetchResult result = HttpTransfer({}).OpenUrlInto(site.BaseUrl() + "/f", sink);
    EXPECT_FALSE(result.ok() || result.cancelled()) << result.error.toStdString();
}

// Guards Cancel while a large patch decodes: decoding stops between blocks, so a stop raised
// early ends it long before the whole decode would have ended (seconds for a large file); and
// a result past 128 MiB, beyond the window the decoder allows unless it is raised.
TEST(SaveFaults, AStoppedPatchEndsAtOnce)
{
    const TempAppFolder files;
    files.Write("old", kOldExe), files.Write("patch", MakePatch(kOldExe, QByteArray(129 << 20, 'n')));
    const auto decode = [&](const std::atomic<bool>& stop) {
        PartFile into(files.FilePath("new"));
        QElapsedTimer clock;
        clock.start();
        const bool applied = into.Create() && ApplyPatch(files.FilePath("old"), files.FilePath("patch"), into, stop);
        return std::pair{applied, clock.elapsed()};
    };
    std::atomic<bool> never = false, stop = false;
    const auto [whole, full] = decode(never);
    ASSERT_TRUE(whole);
    std::thread stopper([&, full = full] { std::this_thread::sleep_for(1ms * (full / 10)), stop = true; });
    const auto [stopped, cut] = decode(stop);
    stopper.join();
    EXPECT_TRUE(!stopped && cut < full / 2) << cut << " ms of " << full;
}

}  // namespace
}  // namespace tarnwick::test
