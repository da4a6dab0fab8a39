#include "download/GroupCommit.h"

#include "download/PartFile.h"
#include "download/PartRecord.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <map>
#include <set>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick {
namespace {

void FlushFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

struct GroupCommit::Waiting {
    std::unique_ptr<PartFile> file;
    Outcome outcome;
};

// A group whose flush runs on a thread of its own while the next files arrive.
struct GroupCommit::Sealed {
    std::vector<Waiting> group;
    std::vector<bool> durable;
    std::thread flusher;
    std::atomic<bool> flushed = false;
};

GroupCommit::GroupCommit(PartRecord* record, bool placeWhenDue, QObject* parent)
    : QObject(parent), m_record(record), m_placeWhenDue(placeWhenDue)
{
    m_due.setSingleShot(true);
    m_due.setInterval(kMaxWait);
    connect(&m_due, &QTimer::timeout, this, &GroupCommit::Seal);
}

GroupCommit::~GroupCommit()
{
    for (Waiting& waiting : m_waiting)
        waiting.outcome = nullptr;
    if (m_sealed)
        for (Waiting& waiting : m_sealed->group)
            waiting.outcome = nullptr;
    Commit();
}

void GroupCommit::Add(std::unique_ptr<PartFile> file)
{
    if (m_waiting.empty()) {
        m_age.start();
        if (m_placeWhenDue)
            m_due.start();
    }
    m_waiting.push_back({std::move(file), nullptr});
}

void GroupCommit::WhenCommitted(Outcome outcome)
{
    if (!m_waiting.empty())
        m_waiting.back().outcome = std::move(outcome);
}

bool GroupCommit::Holds(const QString& target) const
{
    auto holds = [&](const std::vector<Waiting>& group) {
        return std::any_of(group.begin(), group.end(), [&](const Waiting& w) { return w.file->Target() == target; });
    };
    return holds(m_waiting) || (m_sealed && holds(m_sealed->group));
}

bool GroupCommit::Due() const
{
    return int(m_waiting.size()) >= kMaxFiles ||
           (!m_waiting.empty() && std::chrono::milliseconds(m_age.elapsed()) >= kMaxWait);
}

void GroupCommit::Seal()
{
    if (m_waiting.empty())
        return;
    FinishSealed();  // one flush at a time, and groups take their places in order
    m_sealed = std::make_unique<Sealed>();
    m_sealed->group = std::move(m_waiting);
    m_waiting.clear();
    m_due.stop();
    m_sealed->flusher = std::thread([this, sealed = m_sealed.get()] {
        sealed->durable = MakeDurable(sealed->group);
        sealed->flushed = true;
        // Delivered by whatever event loop runs next on the window's thread; dropped with the
        // group if it goes first.
        if (m_placeWhenDue)
            QMetaObject::invokeMethod(this, &GroupCommit::Settle, Qt::QueuedConnection);
    });
}

void GroupCommit::Settle()
{
    if (m_sealed && m_sealed->flushed)
        FinishSealed();
}

int GroupCommit::Commit()
{
    int failed = FinishSealed();
    // Taken out first: an outcome may show a message, and whatever runs meanwhile starts a
    // group of its own.
    std::vector<Waiting> group = std::move(m_waiting);
    m_waiting.clear();
    m_due.stop();
    std::vector<bool> durable = MakeDurable(group);
    return failed + PutInPlace(group, durable);
}

void GroupCommit::Discard()
{
    m_due.stop();
    m_waiting.clear();  // each part file is removed as it goes
}

int GroupCommit::FinishSealed()
{
    if (!m_sealed)
        return 0;
    const std::unique_ptr<Sealed> sealed = std::move(m_sealed);
    sealed->flusher.join();
    return PutInPlace(sealed->group, sealed->durable);
}

std::vector<bool> GroupCommit::MakeDurable(const std::vector<Waiting>& group)
{
    // One file is flushed alone; several are flushed by one flush of each file system they are
    // on, and should that fail, one by one, so that only the failing ones fail.
    std::vector<bool> durable(group.size(), false);
    if (group.size() == 1) {
        durable[0] = group[0].file->Flush();
        return durable;
    }
    std::map<dev_t, bool> flushed;
    for (size_t i = 0; i < group.size(); ++i) {
        const int fd = group[i].file->Descriptor();
        struct stat info {};
        if (fd < 0 || ::fstat(fd, &info) != 0)
            continue;
        auto found = flushed.find(info.st_dev);
        if (found == flushed.end())
            found = flushed.emplace(info.st_dev, ::syncfs(fd) == 0).first;
        durable[i] = found->second || group[i].file->Flush();
    }
    return durable;
}

int GroupCommit::PutInPlace(std::vector<Waiting>& group, const std::vector<bool>& durable)
{
    // Renamed in arrival order, then each folder flushed once so that the renames last too.
    std::set<QString> folders;
    std::vector<bool> committed(group.size(), false);
    for (size_t i = 0; i < group.size(); ++i) {
        committed[i] = durable[i] && group[i].file->Commit();
        if (committed[i])
            folders.insert(QFileInfo(group[i].file->Target()).absolutePath());
    }
    // The record names the part files that the folders' flushes may make lasting.
    if (m_record && !folders.empty())
        m_record->Flush();
    for (const QString& folder : folders)
        FlushFolder(folder);
    int failed = 0;
    for (size_t i = 0; i < group.size(); ++i) {
        failed += committed[i] ? 0 : 1;
        if (group[i].outcome)
            group[i].outcome(committed[i]);
    }
    return failed;
}

}  // namespace tarnwick
